#include "QuarantineReader.h"

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "screening/EncodedWords.h"
#include "screening/Quarantine.h"

#include <QFile>

#include <cerrno>
#include <filesystem>

namespace screening {

namespace {

// Header lines gathered per message for From and Subject; the rest is skipped.
constexpr std::size_t kMaxHeaderLines = 500;

bool IsQuoted(const std::string& line) {
    std::size_t at = 0;
    while (at < line.size() && line[at] == '>')
        ++at;
    return at > 0 && line.compare(at, 5, "From ") == 0;
}

// "Tue Dec  8 01:17:40 2026" at the end of a separator line.
QDateTime SeparatorDate(const std::string& line) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.size() < 24) return {};
    const std::string d = text.substr(text.size() - 24);
    static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t m = months.find(d.substr(4, 3));
    if (m == std::string::npos || m % 3 != 0) return {};
    const QDate date(std::atoi(d.c_str() + 20), int(m / 3) + 1, std::atoi(d.c_str() + 8));
    const QTime time = QTime::fromString(QString::fromStdString(d.substr(11, 8)), "HH:mm:ss");
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date, time, Qt::UTC);
}

[[noreturn]] void ThrowFileError(const QFile& file, const std::string& path) {
    throw platform::EInOutError("Cannot read " + path + ": " + file.errorString().toStdString(),
                                EIO);
}

class TMboxScan {
  public:
    explicit TMboxScan(std::vector<TQuarantinedMessage>& out) : out_(out) {}

    void Line(const std::string& line, std::uint64_t at, const std::string& path) {
        if (line.compare(0, 5, "From ") == 0) {
            Finish(at);
            open_ = true;
            message_ = {};
            message_.File = path;
            message_.Separator = at;
            message_.Offset = at + line.size();
            message_.Kept = SeparatorDate(line);
            headers_.clear();
            inHeaders_ = true;
            quotes_ = 0;
            tail_.clear();
            return;
        }
        if (!open_) return;
        const bool quoted = IsQuoted(line);
        if (quoted) ++quotes_;
        std::string text = line.substr(quoted ? 1 : 0);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (inHeaders_) {
            if (text.empty() || headers_.size() >= kMaxHeaderLines)
                inHeaders_ = false;
            else
                headers_.push_back(text);
        }
        tail_ += line.substr(line.size() > 2 ? line.size() - 2 : 0);
        if (tail_.size() > 2) tail_.erase(0, tail_.size() - 2);
    }

    void Finish(std::uint64_t end) {
        if (!open_) return;
        open_ = false;
        message_.Length = end - message_.Offset;
        // The blank line the copy writes after every message is not the message's.
        if (tail_ == "\n\n" && message_.Length > 0) --message_.Length;
        message_.Size = message_.Length - quotes_;
        message_.From = DecodeHeaderText(HeaderValue(headers_, "From"));
        message_.Subject = DecodeHeaderText(HeaderValue(headers_, "Subject"));
        out_.push_back(std::move(message_));
    }

  private:
    std::vector<TQuarantinedMessage>& out_;
    TQuarantinedMessage message_;
    std::vector<std::string> headers_;
    bool open_ = false;
    bool inHeaders_ = false;
    std::uint64_t quotes_ = 0;
    std::string tail_; // the last two bytes of the message so far
};

void ReadMbox(const std::string& path, std::vector<TQuarantinedMessage>& out) {
    if (!std::filesystem::exists(path)) return;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) ThrowFileError(file, path);
    TMboxScan scan(out);
    std::uint64_t at = 0;
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine();
        if (bytes.isEmpty() && file.error() != QFileDevice::NoError) ThrowFileError(file, path);
        const std::string line = bytes.toStdString();
        scan.Line(line, at, path);
        at += line.size();
    }
    scan.Finish(at);
}

} // namespace

std::vector<TQuarantinedMessage> ReadQuarantine(const std::string& quarantinePath) {
    std::vector<TQuarantinedMessage> messages;
    ReadMbox(QuarantineOlderPath(quarantinePath), messages);
    ReadMbox(quarantinePath, messages);
    return messages;
}

std::string QuarantinedMessageBytes(const TQuarantinedMessage& message) {
    QFile file(QString::fromStdString(message.File));
    if (!file.open(QIODevice::ReadOnly)) ThrowFileError(file, message.File);
    const auto gone = [&] {
        return platform::EInOutError(message.File + " no longer holds this message", EIO);
    };
    if (!file.seek(qint64(message.Separator)) || file.read(5) != "From ") throw gone();
    if (!file.seek(qint64(message.Offset))) throw gone();
    const QByteArray bytes = file.read(qint64(message.Length));
    if (std::uint64_t(bytes.size()) != message.Length) throw gone();
    std::string out;
    out.reserve(message.Size);
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', at);
        end = end < 0 ? bytes.size() : end + 1;
        const std::string line = bytes.mid(at, end - at).toStdString();
        out += IsQuoted(line) ? line.substr(1) : line;
        at = end;
    }
    if (out.size() != message.Size) throw gone();
    return out;
}

void ExportQuarantinedMessage(const TQuarantinedMessage& message, const std::string& path) {
    const std::string bytes = QuarantinedMessageBytes(message);
    platform::AtomicFileWriter writer(path);
    writer.Write(bytes);
    writer.Commit();
}

} // namespace screening
