#include "net/Pop3Prot.h"

#include <gtest/gtest.h>

namespace {

TEST(Pop3Parse, TwoNumbers) {
    struct Case {
        const char* line;
        std::int32_t first, second;
    } cases[] = {
        {"+OK 3 5120", 3, 5120},
        {"+OK 7", 7, 0},                       // nothing after the first number
        {"+OK 2 messages (320 octets)", 2, 0}, // a word after the first number
        {"+OK", 0, 0},
        {"", 0, 0},
        {"1 1234", 1, 1234}, // a LIST data line
        {"+OK \t 12\t\t 34 rest", 12, 34},
        {"+OK 99999999999 1", 2147483647, 1}, // too big: stops at the maximum, never wraps
    };
    for (const auto& c : cases) {
        TPop3TwoNumbers n = Pop3ParseTwoNumbers(c.line);
        EXPECT_EQ(n.First, c.first) << c.line;
        EXPECT_EQ(n.Second, c.second) << c.line;
    }
}

TEST(Pop3Parse, StatTakesOnlyAPlainCountThatFits) {
    struct Case {
        const char* line;
        bool valid;
        std::int32_t count, size;
    } cases[] = {
        {"+OK 3 5120", true, 3, 5120},
        {"+OK 0 0", true, 0, 0},
        {"+OK 7", true, 7, 0},
        {"+OK\t12  34 octets", true, 12, 34},
        {"+OK 2147483647 1", true, 2147483647, 1},
        {"+OK 1 99999999999", true, 1, 2147483647}, // a huge mailbox is still a mailbox
        {"+OK 2147483648 0", false, 0, 0},
        {"+OK 999999999999 0", false, 0, 0},
        {"+OK -5 0", false, 0, 0},
        {"+OK abc", false, 0, 0},
        {"+OK 12abc 0", false, 0, 0},
        {"+OK", false, 0, 0},
        {"+OK ", false, 0, 0},
        {"-ERR 3 5", false, 0, 0},
    };
    for (const auto& c : cases) {
        std::optional<TPop3TwoNumbers> n = Pop3ParseStat(c.line);
        ASSERT_EQ(n.has_value(), c.valid) << c.line;
        if (!n) continue;
        EXPECT_EQ(n->First, c.count) << c.line;
        EXPECT_EQ(n->Second, c.size) << c.line;
    }
}

TEST(Pop3Parse, NumberAndId) {
    struct Case {
        const char* line;
        std::int32_t number;
        const char* id;
    } cases[] = {
        {"+OK 2 QhdPYR:00WBw1Ph7x7", 2, "QhdPYR:00WBw1Ph7x7"},
        {"1 000000016b171c5b", 1, "000000016b171c5b"},
        {"3 abc def", 3, "abc"}, // the id ends at the first blank
        {"4 ab\x7f"
         "cd",
         4, "ab"}, // and at any character outside "!".."~"
        {"5", 5, ""},
        {"+OK no number", 0, ""},
    };
    for (const auto& c : cases) {
        TPop3NumberAndId n = Pop3ParseNumberAndId(c.line);
        EXPECT_EQ(n.Number, c.number) << c.line;
        EXPECT_EQ(n.Id, c.id) << c.line;
    }
}

TEST(Pop3Parse, ApopDigestIsUpperCaseMd5OfTimestampAndPassword) {
    // RFC 1939's example, in upper case.
    EXPECT_EQ(Pop3ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "C4C9334BAC560ECC979E58001B3E22FB");
}

} // namespace
