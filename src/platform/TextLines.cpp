#include "TextLines.h"

#include "Exception.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kEndOfText = 26;
constexpr size_t kChunkSize = 64 * 1024;
} // namespace

TextLineReader::TextLineReader(std::string_view bytes) : view_(bytes) {}

TextLineReader::TextLineReader(const std::string& path) {
    do
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw InOutErrorFromErrno(errno);
}

TextLineReader::~TextLineReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool TextLineReader::Fill() {
    if (!view_.empty()) return true;
    if (fd_ < 0) return false;
    chunk_.resize(kChunkSize);
    ssize_t n;
    do
        n = ::read(fd_, chunk_.data(), chunk_.size());
    while (n < 0 && errno == EINTR);
    if (n < 0) throw InOutErrorFromErrno(errno);
    chunk_.resize(static_cast<size_t>(n));
    view_ = chunk_;
    return n > 0;
}

bool TextLineReader::Eof() {
    return !Fill() || view_.front() == kEndOfText;
}

std::string TextLineReader::ReadLine() {
    std::string line;
    Take(&line);
    return line;
}

void TextLineReader::SkipLine() {
    Take(nullptr);
}

void TextLineReader::Take(std::string* line) {
    while (Fill()) {
        // A plain loop: find_first_of would call memchr on the three breaks for every byte.
        const auto stop = std::find_if(view_.begin(), view_.end(), [](char c) {
            return c == kCR || c == kLF || c == kEndOfText;
        });
        const auto end = static_cast<std::size_t>(stop - view_.begin());
        if (line) line->append(view_.substr(0, end));
        view_.remove_prefix(end);
        if (view_.empty()) continue;
        if (view_.front() == kEndOfText) return; // Ctrl+Z stays unread so that Eof() reports it
        const bool cr = view_.front() == kCR;
        view_.remove_prefix(1);
        if (cr && Fill() && view_.front() == kLF) view_.remove_prefix(1);
        return;
    }
}

} // namespace platform
