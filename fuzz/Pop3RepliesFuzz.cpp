// The POP3 reply parsers on any line: numbers never negative, ids only of "!".."~", the STAT
// parser against a regular-expression model of its grammar, and the canonical forms of
// what each parser found read back the same.
#include "Require.h"
#include "net/Pop3Prot.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <regex>
#include <string>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

// Leading decimal digits, stopping at the 32-bit maximum.
std::int64_t Capped(const std::string& digits) {
    std::int64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') break;
        v = std::min(kMax, v * 10 + (c - '0'));
    }
    return v;
}

// "+", anything up to the first blank or tab, blanks, the count's digits, then the end or
// a blank followed by anything (whose leading digits after blanks are the size).
std::optional<TPop3TwoNumbers> ModelStat(const std::string& line) {
    static const std::regex grammar(R"(\+[^ \t]*[ \t][ \t\r\n]*([0-9]+)(?:[ \t\r\n]+([\s\S]*))?)");
    std::smatch m;
    if (!std::regex_match(line, m, grammar)) return std::nullopt;
    const std::string count = m[1].str();
    std::int64_t v = 0;
    for (char c : count) {
        v = v * 10 + (c - '0');
        if (v > kMax) return std::nullopt;
    }
    TPop3TwoNumbers n;
    n.First = static_cast<std::int32_t>(v);
    n.Second = static_cast<std::int32_t>(Capped(m[2].str()));
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);

    const TPop3TwoNumbers two = Pop3ParseTwoNumbers(line);
    fuzz::Require(two.First >= 0 && two.Second >= 0, "two numbers are never negative");
    const TPop3TwoNumbers again =
        Pop3ParseTwoNumbers("+OK " + std::to_string(two.First) + " " + std::to_string(two.Second));
    fuzz::Require(again.First == two.First && again.Second == two.Second, "two numbers read back");

    const TPop3NumberAndId id = Pop3ParseNumberAndId(line);
    fuzz::Require(id.Number >= 0, "a message number is never negative");
    for (char c : id.Id)
        fuzz::Require(c >= '!' && c <= '~', "an id holds only printable characters");
    fuzz::Require(line.find(id.Id) != std::string::npos, "an id is a part of the line");

    const std::optional<TPop3TwoNumbers> stat = Pop3ParseStat(line);
    if (stat) {
        fuzz::Require(stat->First >= 0 && stat->Second >= 0, "STAT numbers are never negative");
        const auto back = Pop3ParseStat("+OK " + std::to_string(stat->First) + " " +
                                        std::to_string(stat->Second));
        fuzz::Require(back && back->First == stat->First && back->Second == stat->Second,
                      "a STAT reply read back");
    }
    // The model's regular expression recurses per byte; long lines would only test the stack.
    if (line.size() <= 256 && line.find('\0') == std::string::npos) {
        const std::optional<TPop3TwoNumbers> model = ModelStat(line);
        fuzz::Require(stat.has_value() == model.has_value(), "STAT accepted as the model says");
        if (stat)
            fuzz::Require(stat->First == model->First && stat->Second == model->Second,
                          "STAT numbers as the model says");
    }
    return 0;
}
