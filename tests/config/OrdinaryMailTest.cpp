#include "config/OrdinaryMail.h"
#include "config/OrdinarySample.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The sample's messages as a scan sees them, each searched the plain way.
std::vector<std::string> Messages(bool ignoreCase) {
    std::vector<std::string> messages;
    std::string text(OrdinaryHeadersText());
    for (std::size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find("\n\n", at);
        if (end == std::string::npos) end = text.size();
        std::string block = text.substr(at, end - at);
        std::string message;
        for (std::size_t from = 0, nl; from < block.size(); from = nl + 1) {
            nl = block.find('\n', from);
            if (nl == std::string::npos) nl = block.size();
            message += block.substr(from, nl - from) + "\r\n";
        }
        messages.push_back(ignoreCase ? Lower(message + "\r\n") : message + "\r\n");
    }
    return messages;
}

} // namespace

TEST(OrdinaryMail, EntriesMatchWithoutTheBlanksAndTabsAroundThem) {
    struct Case {
        std::string entry, match;
    } cases[] = {
        {"", ""},
        {" ", ""},
        {"\t \t", ""},
        {"viagra", "viagra"},
        {" viagra\t", "viagra"},
        {"buy  now", "buy  now"},
        {"\tx y \t", "x y"},
        {"\r\n", "\r\n"}, // only blanks and tabs go
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchText(c.entry), c.match) << testing::PrintToString(c.entry);
}

TEST(OrdinaryMail, EntriesInAQuarterOfOrdinaryMailAreOverBroad) {
    ASSERT_GE(OrdinaryMailSampleSize(), 200);
    struct Case {
        std::string entry;
        bool exact, folded; // over-broad when letter case counts, and when it does not
    } cases[] = {
        {"Date:", true, true},
        {"@", true, true},
        {"Message-ID", true, true},
        {"Received", true, true},
        {"a", true, true},
        {".", true, true},
        {"com", true, true},
        {" Date: ", true, true},
        {"\n", true, true},
        {"spam", false, true}, // X-Spam-Status
        {"viagra", false, false},
        {"casino", false, false},
        {"lottery", false, false},
        {"@spamdomain.example", false, false},
        {"Subject: WIN", false, false},
        {"cheap-pills.example", false, false},
        {"  ", false, false},
        {std::string("Date:\0From", 10), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.entry));
        EXPECT_EQ(IsOverBroadEntry(c.entry, false), c.exact);
        EXPECT_EQ(IsOverBroadEntry(c.entry, true), c.folded);
    }
    EXPECT_EQ(OrdinaryMessagesContaining("Date:", true), OrdinaryMailSampleSize());
}

// The count and the verdict against a plain search of every message, in both letter-case
// rules: for pieces of the sample, pieces changed in one byte, the shipped frequent strings
// and each of them grown by a byte of the sample at one end (where the verdict turns), and
// short strings of letters, marks and line ends.
TEST(OrdinaryMail, CountsAndVerdictsAgreeWithAPlainSearchOfEachMessage) {
    const std::string text(OrdinaryHeadersText());
    std::mt19937 rng(20261208);
    for (const bool ignoreCase : {false, true}) {
        const std::vector<std::string> messages = Messages(ignoreCase);
        ASSERT_EQ(static_cast<int>(messages.size()), OrdinaryMailSampleSize());
        std::vector<std::string> entries;
        for (int i = 0; i < 400; ++i) {
            std::string entry = text.substr(rng() % text.size(), 1 + rng() % (i % 4 ? 12 : 80));
            if (i % 3 == 0) entry[rng() % entry.size()] = "aZ:@ -\t"[rng() % 7];
            entries.push_back(entry);
        }
        const std::string_view frequent = DigestedFrequentStrings(ignoreCase);
        std::size_t strings = 0;
        for (std::size_t at = 0, end; at < frequent.size(); at = end + 1, ++strings) {
            end = frequent.find('\n', at);
            const std::string s(frequent.substr(at, end - at));
            const char grown = text[rng() % text.size()];
            entries.insert(entries.end(), {s, strings % 2 ? grown + s : s + grown});
        }
        ASSERT_GT(strings, 10u);
        for (int i = 0; i < 200; ++i) {
            std::string entry(1 + rng() % 4, ' ');
            for (char& c : entry)
                c = "eE.:-@ \r\n"[rng() % 9];
            entries.push_back(entry);
        }
        for (const std::string& entry : entries) {
            const std::string needle(ignoreCase ? Lower(std::string(MatchText(entry)))
                                                : std::string(MatchText(entry)));
            int expected = 0;
            for (const std::string& m : messages)
                expected += !needle.empty() && m.find(needle) != std::string::npos;
            SCOPED_TRACE(testing::PrintToString(entry) + (ignoreCase ? " ignoring case" : ""));
            ASSERT_EQ(OrdinaryMessagesContaining(entry, ignoreCase), expected);
            ASSERT_EQ(IsOverBroadEntry(entry, ignoreCase),
                      4 * expected >= OrdinaryMailSampleSize());
        }
    }
}
