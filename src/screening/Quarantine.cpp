#include "Quarantine.h"

#include "config/Accounts.h"
#include "platform/DurableAppend.h"
#include "screening/TextMatch.h"

#include <cstdio>
#include <filesystem>

namespace screening {

namespace {
// Headers beyond this are written without waiting for their end: a message whose header
// block never ends must not be held in memory.
constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Unlike platform::Trimmed, only blanks and tabs go: other control bytes are the header's own.
std::string TrimmedOfBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// An address fit for the separator line: no blanks or control bytes, or nothing.
std::string AddressOf(const std::string& value) {
    std::string a;
    const std::size_t open = value.find('<');
    const std::size_t close = open == std::string::npos ? open : value.find('>', open);
    if (close != std::string::npos) {
        a = TrimmedOfBlanks(value.substr(open + 1, close - open - 1));
    } else {
        for (std::size_t at = 0; at < value.size();) {
            while (at < value.size() && IsBlank(value[at]))
                ++at;
            std::size_t end = at;
            while (end < value.size() && !IsBlank(value[end]))
                ++end;
            std::string word = value.substr(at, end - at);
            if (word.find('@') != std::string::npos) {
                a = word;
                break;
            }
            at = end;
        }
    }
    for (unsigned char c : a)
        if (c <= ' ' || c == 0x7f) return {};
    return a;
}

// Header text fit for one log line.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = ' ';
    return text;
}
} // namespace

std::string QuarantinePath(const std::string& account) {
    return AccountFilePath(account, "quarantine", ".mbox");
}

std::string QuarantineOlderPath(const std::string& quarantinePath) {
    const std::string suffix = ".mbox";
    std::string base = quarantinePath;
    if (base.size() >= suffix.size() &&
        base.compare(base.size() - suffix.size(), suffix.size(), suffix) == 0)
        base.resize(base.size() - suffix.size());
    return base + ".1.mbox";
}

std::string MboxQuoteLine(const std::string& line) {
    std::size_t at = 0;
    while (at < line.size() && line[at] == '>')
        ++at;
    return line.compare(at, 5, "From ") == 0 ? ">" + line : line;
}

std::string HeaderValue(const std::vector<std::string>& headerLines, const std::string& name) {
    const std::string wanted = LowerCase(name) + ":";
    for (std::size_t i = 0; i < headerLines.size() && !headerLines[i].empty(); ++i) {
        if (LowerCase(headerLines[i].substr(0, wanted.size())) != wanted) continue;
        std::string value = headerLines[i].substr(wanted.size());
        for (std::size_t j = i + 1;
             j < headerLines.size() && !headerLines[j].empty() && IsBlank(headerLines[j][0]); ++j)
            value += " " + TrimmedOfBlanks(headerLines[j]);
        return TrimmedOfBlanks(value);
    }
    return {};
}

std::string MboxEnvelopeSender(const std::vector<std::string>& headerLines) {
    for (const char* name : {"Return-Path", "From"}) {
        std::string a = AddressOf(HeaderValue(headerLines, name));
        if (!a.empty()) return a;
    }
    return "MAILER-DAEMON";
}

std::string MboxDate(const QDateTime& moment) {
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime utc = moment.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", days[d.dayOfWeek() - 1],
                  months[d.month() - 1], d.day(), t.hour(), t.minute(), t.second(), d.year());
    return text;
}

TQuarantineCopy::TQuarantineCopy(const std::string& path, const QDateTime& now) : now_(now) {
    file_ = std::make_unique<platform::DurableAppender>(path, QuarantineLockWait);
    if (file_->StartSize() > QuarantineRotateSize) {
        // Under the lock nobody appends to the full file, so it can move. Another copy that
        // waits for it finds a new file under the name once it has the lock; the new file is
        // locked before the old one is let go. A failed rotation is no reason to refuse the
        // copy: the file only grows further.
        std::error_code failed;
        std::filesystem::rename(path, QuarantineOlderPath(path), failed);
        if (!failed) file_ = std::make_unique<platform::DurableAppender>(path, QuarantineLockWait);
    }
    // mboxrd wants a blank line before every separator; after a torn end (a crash while
    // writing) this also puts the separator on a line of its own.
    const std::string tail = file_->Tail(2);
    if (tail.empty() || tail == "\n\n")
        separatorPrefix_.clear();
    else if (tail.back() == '\n')
        separatorPrefix_ = "\n";
    else
        separatorPrefix_ = "\n\n";
}

TQuarantineCopy::~TQuarantineCopy() = default;

void TQuarantineCopy::AddLine(const std::string& line) {
    if (failure_) return;
    try {
        if (inHeaders_) {
            headers_.push_back(line);
            headerBytes_ += line.size() + 1;
            if (line.empty() || headerBytes_ > kMaxHeaderBytes) EndHeaders();
            return;
        }
        file_->Write(MboxQuoteLine(line) + "\n");
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void TQuarantineCopy::EndHeaders() {
    inHeaders_ = false;
    std::string text =
        separatorPrefix_ + "From " + MboxEnvelopeSender(headers_) + " " + MboxDate(now_) + "\n";
    for (const std::string& line : headers_)
        text += MboxQuoteLine(line) + "\n";
    file_->Write(text);
}

void TQuarantineCopy::Commit() {
    if (failure_) std::rethrow_exception(failure_);
    if (inHeaders_) EndHeaders(); // a message without a body
    file_->Write("\n");           // the blank line that ends every message
    file_->Commit();
}

std::string TQuarantineCopy::Summary() const {
    return OneLine(HeaderValue(headers_, "From")) + " - " +
           OneLine(HeaderValue(headers_, "Subject"));
}

} // namespace screening
