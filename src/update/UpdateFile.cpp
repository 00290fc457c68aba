#include "UpdateFile.h"

#include "platform/Exception.h"

#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace update {

namespace {
std::size_t LineEnd(std::string_view text, std::size_t at) {
    return std::min(text.find_first_of("\r\n", at), text.size());
}
} // namespace

TUpdateLines::Iterator::Iterator(std::string_view text, std::size_t at)
    : text_(text), at_(at), end_(LineEnd(text, at)) {}

std::string TUpdateLines::Iterator::operator*() const {
    return std::string(text_.substr(at_, end_ - at_));
}

TUpdateLines::Iterator& TUpdateLines::Iterator::operator++() {
    at_ = end_ == text_.size() ? end_ : end_ + (text_.compare(end_, 2, "\r\n") == 0 ? 2 : 1);
    end_ = LineEnd(text_, at_);
    return *this;
}

TUpdateLines::TUpdateLines(std::string bytes) : bytes_(std::move(bytes)), text_(bytes_) {
    if (const std::size_t nul = text_.find('\0'); nul != std::string_view::npos) {
        nulOffset_ = nul;
        bytesAfterNul_ = text_.size() - nul - 1;
        text_ = text_.substr(0, nul);
    }
    for (Iterator it = begin(); it != end(); ++it)
        ++count_;
}

std::string UpdateFileTooLargeText(std::int64_t size, std::int64_t limit) {
    return "The update file is too large: " + std::to_string(size) + " bytes (the limit is " +
           std::to_string(limit) + " bytes, set by MaxUpdateSize).";
}

TUpdateLines ReadUpdateFile(const std::string& path, std::int64_t maxBytes) {
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) throw platform::InOutErrorFromErrno(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::string bytes;
    // Sized once, so that the string does not grow by doubling to twice the file.
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(std::min<std::int64_t>(st.st_size, maxBytes + 1)));
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw platform::InOutErrorFromErrno(errno);
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        // A file that grew past the limit after the merge looked at its size.
        if (static_cast<std::int64_t>(bytes.size()) > maxBytes)
            throw platform::Exception(
                UpdateFileTooLargeText(static_cast<std::int64_t>(bytes.size()), maxBytes));
    }
    return TUpdateLines(std::move(bytes));
}

std::string UpdateTimestampText(const QDateTime& moment, const QLocale& locale) {
    QString text = locale.toString(moment.date(), locale.dateFormat(QLocale::ShortFormat));
    if (moment.time() != QTime(0, 0)) {
        // A zone name would make the same file read differently across a clock change.
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        QString pattern = locale.timeFormat(QLocale::LongFormat);
        pattern.replace(zone, QStringLiteral(" "));
        text += QLatin1Char(' ') + locale.toString(moment.time(), pattern.trimmed());
    }
    return text.toStdString();
}

} // namespace update
