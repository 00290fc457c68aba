#include "TextLines.h"

#include "Exception.h"

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
    while (Fill()) {
        size_t end = view_.find_first_of(std::string_view("\r\n\x1a", 3));
        if (end == std::string_view::npos) {
            line.append(view_);
            view_ = {};
            continue;
        }
        line.append(view_.substr(0, end));
        view_.remove_prefix(end);
        if (view_.front() == kEndOfText)
            return line; // Ctrl+Z stays unread so that Eof() reports it
        const bool cr = view_.front() == kCR;
        view_.remove_prefix(1);
        if (cr && Fill() && view_.front() == kLF) view_.remove_prefix(1);
        return line;
    }
    return line;
}

} // namespace platform
