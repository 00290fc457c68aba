#include "TextLines.h"

#include <algorithm>

namespace platform {

namespace {
constexpr char kCR = '\r';
constexpr char kLF = '\n';
constexpr char kEndOfText = 26;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    constexpr char32_t kReplacement = 0xFFFD;
    auto unit = [&](size_t i) -> char32_t {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        return static_cast<char32_t>(hi << 8 | lo);
    };
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    if (i < bytes.size()) AppendUtf8(out, kReplacement);
    return out;
}
} // namespace

std::string TextFileBytes(std::string bytes) {
    const std::string_view view = bytes;
    if (view.starts_with("\xEF\xBB\xBF")) return bytes.erase(0, 3);
    if (view.starts_with("\xFF\xFE")) return Utf16ToUtf8(view.substr(2), false);
    if (view.starts_with("\xFE\xFF")) return Utf16ToUtf8(view.substr(2), true);
    return bytes;
}

TextLineReader::TextLineReader(std::string_view bytes) : view_(bytes) {}

bool TextLineReader::Eof() {
    return view_.empty() || view_.front() == kEndOfText;
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
    // A plain loop: find_first_of would call memchr on the three breaks for every byte.
    const auto stop = std::find_if(view_.begin(), view_.end(), [](char c) {
        return c == kCR || c == kLF || c == kEndOfText;
    });
    const auto end = static_cast<std::size_t>(stop - view_.begin());
    if (line) line->append(view_.substr(0, end));
    view_.remove_prefix(end);
    if (view_.empty() || view_.front() == kEndOfText)
        return; // Ctrl+Z stays unread so that Eof() reports it
    const bool cr = view_.front() == kCR;
    view_.remove_prefix(1);
    if (cr && !view_.empty() && view_.front() == kLF) view_.remove_prefix(1);
}

} // namespace platform
