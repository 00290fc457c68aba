// The reply parsers of the POP3 client: pure functions over one reply line.

#include "net/Pop3Prot.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <limits>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpaceOrLineEnd(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Decimal digits up to the first non-digit. Numbers past the 32-bit range stop at its
// maximum instead of wrapping.
std::int32_t ReadNumber(std::string_view s, std::size_t& i) {
    std::int64_t value = 0;
    constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
    for (; i < s.size() && IsDigit(s[i]); ++i)
        value = std::min(max, value * 10 + (s[i] - '0'));
    return static_cast<std::int32_t>(value);
}

void SkipSpacesAndLineEnds(std::string_view s, std::size_t& i) {
    while (i < s.size() && IsSpaceOrLineEnd(s[i]))
        ++i;
}

} // namespace

TPop3TwoNumbers Pop3ParseTwoNumbers(std::string_view line) {
    TPop3TwoNumbers result;
    std::size_t i = line.find_first_of("0123456789");
    if (i == std::string_view::npos) return result;
    result.First = ReadNumber(line, i);
    SkipSpacesAndLineEnds(line, i);
    result.Second = ReadNumber(line, i);
    return result;
}

TPop3NumberAndId Pop3ParseNumberAndId(std::string_view line) {
    TPop3NumberAndId result;
    std::size_t i = line.find_first_of("0123456789");
    if (i == std::string_view::npos) return result;
    result.Number = ReadNumber(line, i);
    SkipSpacesAndLineEnds(line, i);
    std::size_t start = i;
    while (i < line.size() && line[i] >= '!' && line[i] <= '~')
        ++i;
    result.Id = std::string(line.substr(start, i - start));
    return result;
}

std::optional<TPop3TwoNumbers> Pop3ParseStat(std::string_view line) {
    if (line.empty() || line[0] != '+') return std::nullopt;
    std::size_t i = line.find_first_of(" \t");
    if (i == std::string_view::npos) return std::nullopt;
    SkipSpacesAndLineEnds(line, i);
    const std::size_t start = i;
    std::int64_t count = 0;
    for (; i < line.size() && IsDigit(line[i]); ++i) {
        count = count * 10 + (line[i] - '0');
        if (count > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    if (i == start || (i < line.size() && !IsSpaceOrLineEnd(line[i]))) return std::nullopt;
    TPop3TwoNumbers result;
    result.First = static_cast<std::int32_t>(count);
    SkipSpacesAndLineEnds(line, i);
    result.Second = ReadNumber(line, i);
    return result;
}

std::string Pop3ApopDigest(const std::string& timestamp, const std::string& password) {
    QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(timestamp + password),
                                                 QCryptographicHash::Md5);
    return digest.toHex().toUpper().toStdString();
}
