#include "ResultListing.h"

#include "platform/Exception.h"
#include "screening/QuarantineReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A field of a tab-separated line: tabs and line breaks in header text would split it.
std::string Field(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
    return text;
}

QString Text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Header bytes that are not UTF-8 (the matched line as received) as Latin-1, so JSON holds
// them as characters rather than replacement marks.
QString RawText(const std::string& s) {
    const QString utf8 = Text(s);
    return utf8.toUtf8().toStdString() == s ? utf8
                                            : QString::fromLatin1(s.data(), qsizetype(s.size()));
}

} // namespace

void PrintResults(const std::vector<screening::TScanResult>& results, bool json, std::FILE* out,
                  const std::string& prefix) {
    if (!json) {
        for (const screening::TScanResult& r : results) {
            const std::string line = prefix + std::to_string(r.Number) + "\t" +
                                     screening::VerdictText(r.Verdict.kind) + "\t" +
                                     Field(screening::ReasonText(r)) + "\t" + Field(r.From) + "\t" +
                                     Field(r.Subject) + "\n";
            std::fputs(line.c_str(), out);
        }
        return;
    }
    QJsonArray array;
    for (const screening::TScanResult& r : results) {
        QJsonObject o;
        o["number"] = r.Number;
        o["uidl"] = r.Uidl.empty() ? QJsonValue() : QJsonValue(Text(r.Uidl));
        o["size"] = r.Size < 0 ? QJsonValue() : QJsonValue(qint64(r.Size));
        o["from"] = Text(r.From);
        o["subject"] = Text(r.Subject);
        o["date"] = RawText(r.Date);
        o["verdict"] = Text(screening::VerdictText(r.Verdict.kind));
        o["reason"] = RawText(screening::ReasonText(r));
        o["entry"] = r.Verdict.entry.empty() ? QJsonValue() : QJsonValue(RawText(r.Verdict.entry));
        o["line"] = r.MatchedLine.empty() ? QJsonValue() : QJsonValue(RawText(r.MatchedLine));
        array.append(o);
    }
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, std::size_t(text.size()), out);
}

int PrintQuarantine(const std::string& quarantinePath, std::FILE* out) {
    std::vector<screening::TQuarantinedMessage> messages;
    try {
        messages = screening::ReadQuarantine(quarantinePath);
    } catch (const platform::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    long number = 0;
    for (const screening::TQuarantinedMessage& m : messages) {
        const std::string kept =
            m.Kept.isValid() ? m.Kept.toLocalTime().toString("yyyy-MM-dd HH:mm:ss").toStdString()
                             : "?";
        const std::string line = std::to_string(++number) + "\t" + kept + "\t" + Field(m.From) +
                                 "\t" + Field(m.Subject) + "\t" + std::to_string(m.Size) + "\n";
        std::fputs(line.c_str(), out);
    }
    return 0;
}

int ExportFromQuarantine(const std::string& quarantinePath, long number, const std::string& file) {
    try {
        const std::vector<screening::TQuarantinedMessage> messages =
            screening::ReadQuarantine(quarantinePath);
        if (number < 1 || std::size_t(number) > messages.size()) {
            std::fprintf(stderr, "No message %ld in the quarantine (it holds %zu)\n", number,
                         messages.size());
            return 1;
        }
        screening::ExportQuarantinedMessage(messages[std::size_t(number) - 1], file);
    } catch (const platform::Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
