#include "EncodedWords.h"

#include <QByteArray>
#include <QStringDecoder>

#include <optional>

namespace screening {

namespace {

struct EncodedWord {
    std::string charset; // without a language suffix ("*en")
    std::string bytes;   // the decoded bytes, in that charset
    std::size_t end = 0; // just past "?="
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> DecodeQ(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (text[i] == '=') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::string> DecodeB(const std::string& text) {
    const QByteArray::FromBase64Result result = QByteArray::fromBase64Encoding(
        QByteArray::fromStdString(text), QByteArray::AbortOnBase64DecodingErrors);
    if (!result) return std::nullopt;
    return result.decoded.toStdString();
}

// The longest encoded text taken for a word. The standard allows 75 bytes for a whole word;
// some mailers write longer ones, but none this long.
constexpr std::size_t kMaxEncodedText = 1000;

// The encoded word starting at `at`, if one does. `nextClose` is where the first "?=" at or
// after the last search start lies (0 before the first): the searches move forward, so a
// header line full of "=?" without an end is scanned once, not once per "=?".
std::optional<EncodedWord> WordAt(const std::string& raw, std::size_t at, std::size_t& nextClose) {
    if (raw.compare(at, 2, "=?") != 0) return std::nullopt;
    const std::size_t q1 = raw.find('?', at + 2);
    if (q1 == std::string::npos || q1 + 2 >= raw.size() || raw[q1 + 2] != '?') return std::nullopt;
    const char encoding = raw[q1 + 1];
    if (nextClose < q1 + 3) nextClose = raw.find("?=", q1 + 3);
    const std::size_t close = nextClose;
    if (close == std::string::npos || close - (q1 + 3) > kMaxEncodedText) return std::nullopt;
    std::string charset = raw.substr(at + 2, q1 - at - 2);
    charset = charset.substr(0, charset.find('*'));
    const std::string text = raw.substr(q1 + 3, close - q1 - 3);
    if (charset.empty() || text.find_first_of(" \t") != std::string::npos) return std::nullopt;
    std::optional<std::string> bytes;
    if (encoding == 'B' || encoding == 'b')
        bytes = DecodeB(text);
    else if (encoding == 'Q' || encoding == 'q')
        bytes = DecodeQ(text);
    if (!bytes) return std::nullopt;
    return EncodedWord{charset, *bytes, close + 2};
}

std::optional<std::string> InCharset(const std::string& charset, const std::string& bytes) {
    QStringDecoder decoder(charset.c_str(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) return std::nullopt;
    const QString text = decoder(QByteArray::fromStdString(bytes));
    if (decoder.hasError()) return std::nullopt;
    return text.toStdString();
}

std::string PlainText(const std::string& bytes) {
    // Stateless: an incomplete sequence at the end is an error, not kept for more input.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(QByteArray::fromStdString(bytes));
    if (!utf8.hasError()) return bytes;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size())).toStdString();
}

bool OnlyBlanks(const std::string& raw, std::size_t from, std::size_t to) {
    return raw.find_first_not_of(" \t\r\n", from) >= to;
}

} // namespace

std::string DecodeHeaderText(const std::string& raw) {
    std::string out;
    std::size_t plainFrom = 0; // start of the text not yet taken
    std::size_t at = 0;
    // Adjacent words in one charset are decoded together: a character may be split across
    // them.
    std::optional<EncodedWord> run;
    std::size_t runStart = 0;
    std::size_t nextClose = 0;
    auto flushRun = [&] {
        if (!run) return;
        const std::optional<std::string> text = InCharset(run->charset, run->bytes);
        out += text ? *text : PlainText(raw.substr(runStart, run->end - runStart));
        run.reset();
    };
    while ((at = raw.find("=?", at)) != std::string::npos) {
        std::optional<EncodedWord> word = WordAt(raw, at, nextClose);
        if (!word) {
            at += 2;
            continue;
        }
        const bool joins = run && OnlyBlanks(raw, plainFrom, at);
        if (joins && run->charset == word->charset) {
            run->bytes += word->bytes;
            run->end = word->end;
        } else {
            flushRun();
            if (!joins) out += PlainText(raw.substr(plainFrom, at - plainFrom));
            run = std::move(*word);
            runStart = at;
        }
        plainFrom = at = run->end;
    }
    flushRun();
    out += PlainText(raw.substr(plainFrom));
    return out;
}

} // namespace screening
