#include "UpdateFile.h"

#include "platform/Exception.h"
#include "platform/FileBytes.h"

#include <QRegularExpression>
#include <algorithm>
#include <cerrno>

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
    try {
        std::optional<platform::FileBytes> file = platform::ReadFileBytes(path, maxBytes);
        if (!file) throw platform::InOutErrorFromErrno(ENOENT);
        return TUpdateLines(std::move(file->bytes));
    } catch (const platform::EFileTooLarge& e) {
        // Also a file that grew past the limit after the merge looked at its size.
        throw platform::Exception(UpdateFileTooLargeText(e.Size, maxBytes));
    }
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
