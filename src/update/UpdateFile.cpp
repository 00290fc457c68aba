#include "UpdateFile.h"

#include "platform/Exception.h"

#include <QRegularExpression>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace update {

std::vector<std::string> SplitUpdateLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            lines.emplace_back(bytes.substr(at));
            break;
        }
        lines.emplace_back(bytes.substr(at, end - at));
        at = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::vector<std::string> ReadUpdateFile(const std::string& path) {
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
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw platform::InOutErrorFromErrno(errno);
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return SplitUpdateLines(bytes);
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
