#include "net/LineFramer.h"

#include <algorithm>
#include <string_view>

std::size_t TLineFramer::Room(std::size_t chunk) const {
    const std::size_t pending = buf_.size() - start_;
    const std::size_t whole = max_ + 2;
    return pending >= whole ? 0 : std::min(chunk, whole - pending);
}

void TLineFramer::Append(const char* data, std::size_t n) {
    // Drop the lines already taken.
    if (start_ > 0) {
        buf_.erase(0, start_);
        scan_ -= std::min(scan_, start_);
        start_ = 0;
    }
    buf_.append(data, n);
}

bool TLineFramer::NextLine(std::string& line) {
    for (;;) {
        const std::size_t end = buf_.find('\n', std::max(scan_, start_));
        if (end == std::string::npos) {
            scan_ = buf_.size();
            return false;
        }
        const bool cr = end > start_ && buf_[end - 1] == '\r';
        if (!cr && !loneLf_) {
            scan_ = end + 1; // part of the line
            continue;
        }
        line.assign(buf_, start_, (cr ? end - 1 : end) - start_);
        start_ = scan_ = end + 1;
        return true;
    }
}

bool TLineFramer::Overflowing() const {
    const std::size_t unfinished = buf_.size() - start_;
    const bool crWaitsForLf = unfinished > 0 && buf_.back() == '\r';
    return unfinished > max_ + (crWaitsForLf ? 1 : 0);
}

void TLineFramer::Clear() {
    buf_.clear();
    start_ = scan_ = 0;
}

namespace {
constexpr std::string_view kBreaks{"\r\n\0", 3};
} // namespace

bool TLineFramer::HasLineBreak(const std::string& text) {
    return text.find_first_of(kBreaks) != std::string::npos;
}

std::string TLineFramer::OneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    bool inBreak = false;
    for (char c : text) {
        const bool isBreak = kBreaks.find(c) != std::string_view::npos;
        if (!isBreak)
            line += c;
        else if (!inBreak)
            line += ' ';
        inBreak = isBreak;
    }
    return line;
}
