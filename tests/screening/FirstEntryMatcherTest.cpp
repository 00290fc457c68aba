#include "screening/FirstEntryMatcher.h"
#include "screening/TextMatch.h"

#include <gtest/gtest.h>
#include <random>

using screening::FirstEntryMatcher;

namespace {

// 1-based byte offset of the first occurrence of sub in text; 0 when it does not occur,
// and always 0 for an empty sub or text, so an empty entry never matches.
std::size_t Pos(const std::string& sub, const std::string& text) {
    if (sub.empty() || text.empty()) return 0;
    auto at = text.find(sub);
    return at == std::string::npos ? 0 : at + 1;
}

// The plain loop the automaton replaces: first entry in list order whose first
// occurrence starts at minPos or later.
long NaiveFirstMatch(const std::vector<std::string>& entries, const std::string& text,
                     std::size_t minPos, bool ignoreCase) {
    const std::string hay = ignoreCase ? screening::LowerCase(text) : text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string needle = ignoreCase ? screening::LowerCase(entries[i]) : entries[i];
        if (Pos(needle, hay) >= minPos) // minPos >= 1, so Pos 0 never passes
            return static_cast<long>(i);
    }
    return FirstEntryMatcher::kNoMatch;
}

// Few letters in both cases, CR LF and one byte above 127, so that overlaps, case folding
// and non-ASCII bytes all come up often.
const std::string kAlphabet = "abAB\r\n:\xc4\xe4";

std::string RandomText(std::mt19937& rng, std::size_t maxLen,
                       const std::string& alphabet = kAlphabet) {
    std::uniform_int_distribution<std::size_t> len(0, maxLen);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = alphabet[pick(rng)];
    return s;
}

// The matcher, prepared with `entries`, must give the plain loop's answer on `text`, and
// where that entry first occurs.
void ExpectAgreement(FirstEntryMatcher& matcher, const std::vector<std::string>& entries,
                     const std::string& text, bool ignoreCase, int round) {
    auto fold = [&](const std::string& s) { return ignoreCase ? screening::LowerCase(s) : s; };
    for (std::size_t minPos : {1u, 2u}) {
        std::size_t start = 0;
        const long expected = NaiveFirstMatch(entries, text, minPos, ignoreCase);
        ASSERT_EQ(matcher.FirstMatch(text, minPos, &start), expected)
            << "round " << round << " minPos " << minPos;
        if (expected == FirstEntryMatcher::kNoMatch) continue;
        ASSERT_EQ(start, Pos(fold(entries[static_cast<std::size_t>(expected)]), fold(text)))
            << "round " << round << " minPos " << minPos;
    }
}

} // namespace

TEST(FirstEntryMatcher, AgreesWithThePlainLoopOnRandomInputs) {
    std::mt19937 rng(20261207);
    FirstEntryMatcher matcher;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> entries(std::uniform_int_distribution<int>(0, 12)(rng));
        for (auto& e : entries)
            e = RandomText(rng, 4); // includes empty entries and duplicates
        bool ignoreCase = round % 2 == 1;
        matcher.Prepare(entries, ignoreCase);
        for (int t = 0; t < 5; ++t)
            ASSERT_NO_FATAL_FAILURE(
                ExpectAgreement(matcher, entries, RandomText(rng, 40), ignoreCase, round));
    }
}

TEST(FirstEntryMatcher, OnlyTheFirstOccurrenceCountsAndEmptyEntriesNeverMatch) {
    FirstEntryMatcher matcher;
    matcher.Prepare({"", "From", "rom"}, false);
    // "From" first occurs at byte 1, so a later occurrence does not rescue it.
    EXPECT_EQ(matcher.FirstMatch("From: x\r\nFrom: y\r\n", 2), 2);
    EXPECT_EQ(matcher.FirstMatch("From: x\r\n", 1), 1);
    EXPECT_EQ(matcher.FirstMatch("", 1), FirstEntryMatcher::kNoMatch);
}

// Prepare rebuilds only when the list or the letter-case mode changed; a stamp stands for
// the list's content, but only while the list keeps its size.
TEST(FirstEntryMatcher, NoticesEveryChangeOfListOrMode) {
    FirstEntryMatcher matcher;
    std::vector<std::string> list = {"spam", "junk"};
    matcher.Prepare(list, false);
    EXPECT_EQ(matcher.FirstMatch("x JUNK junk", 1), 1);
    matcher.Prepare(list, true);
    EXPECT_EQ(matcher.FirstMatch("x JUNK", 1), 1);
    list[1] = "jank"; // same size, one entry edited in place
    matcher.Prepare(list, true);
    EXPECT_EQ(matcher.FirstMatch("x JUNK", 1), FirstEntryMatcher::kNoMatch);
    EXPECT_EQ(matcher.Entry(1), "jank");

    list = {"spam", "junk"};
    matcher.Prepare(list, false, 7);
    list[1] = "jank";
    // Same stamp: the list is not compared again, so the edit is not seen...
    matcher.Prepare(list, false, 7);
    EXPECT_EQ(matcher.FirstMatch("x junk", 1), 1);
    // ...until the stamp moves.
    matcher.Prepare(list, false, 8);
    EXPECT_EQ(matcher.FirstMatch("x junk", 1), FirstEntryMatcher::kNoMatch);
    // A list of another size is compared whatever its stamp says.
    list.push_back("x");
    matcher.Prepare(list, false, 8);
    EXPECT_EQ(matcher.FirstMatch("x junk", 1), 2);
    // Without a stamp it is compared in full, even after a stamped call.
    list[2] = "y";
    matcher.Prepare(list, false);
    EXPECT_EQ(matcher.FirstMatch("x junk", 1), FirstEntryMatcher::kNoMatch);
    // A different letter-case mode rebuilds under the same stamp.
    matcher.Prepare(list, true, 8);
    EXPECT_EQ(matcher.FirstMatch("SPAM", 1), 0);
}

TEST(FirstEntryMatcher, LongTextsKeepEveryMatchWhereverItLies) {
    FirstEntryMatcher matcher;
    // "needles" keeps all of "needle" in the automaton, so the search walks its bytes.
    matcher.Prepare({"needle", "pin", "needles"}, false);
    // "needle" straddles byte 4096 and "pin" lies past byte 8192.
    std::string text(10000, '.');
    text.replace(4093, 6, "needle");
    text.replace(9000, 3, "pin");
    EXPECT_EQ(matcher.FirstMatch(text, 1), 0);
    EXPECT_EQ(matcher.FirstMatch(text, 4094), 0);
    EXPECT_EQ(matcher.FirstMatch(text, 4095), 1);
}

// A state with a child for every byte: the children are searched in blocks, and the last
// ones, above 127, lie in the last block. Folding makes some entries equal, and the earlier
// one wins.
TEST(FirstEntryMatcher, FindsEveryChildOfAStateWithAChildForEveryByte) {
    std::vector<std::string> entries;
    for (int c = 255; c >= 0; --c)
        entries.push_back(std::string("x") + static_cast<char>(c) + "!");
    FirstEntryMatcher matcher;
    for (bool ignoreCase : {false, true}) {
        matcher.Prepare(entries, ignoreCase);
        for (int c = 0; c < 256; ++c)
            ASSERT_NO_FATAL_FAILURE(ExpectAgreement(
                matcher, entries, std::string("-x") + static_cast<char>(c) + "!", ignoreCase, c));
    }
}

namespace {

// Lists of `count` entries, each a prefix of `stem` (at least `keep` bytes of it) and a
// random tail, searched in texts made of pieces of them: the matcher must give the plain
// loop's answer.
void ExpectAgreementOnStemList(std::mt19937& rng, FirstEntryMatcher& matcher,
                               const std::string& stem, std::size_t keep, int count,
                               std::size_t tail, const std::string& alphabet,
                               std::size_t textLength, int round) {
    std::vector<std::string> entries(count);
    for (auto& e : entries)
        e = stem.substr(0, std::uniform_int_distribution<std::size_t>(keep, stem.size())(rng)) +
            RandomText(rng, tail, alphabet);
    const bool ignoreCase = round % 2 == 1;
    matcher.Prepare(entries, ignoreCase);
    for (int t = 0; t < 5; ++t) {
        std::string text;
        while (text.size() < textLength)
            text += rng() % 2 ? entries[rng() % entries.size()] : RandomText(rng, 3, alphabet);
        ASSERT_NO_FATAL_FAILURE(ExpectAgreement(matcher, entries, text, ignoreCase, round));
    }
}

} // namespace

// Entries longer than eight bytes that share long prefixes, in texts made of pieces of them:
// the entries are sorted eight bytes at a time and held only as far as they differ, the
// rest compared in the text. Zero bytes stand beside the end of a shorter entry.
TEST(FirstEntryMatcher, AgreesWithThePlainLoopOnLongEntriesWithSharedPrefixes) {
    std::mt19937 rng(7122026);
    FirstEntryMatcher matcher;
    const std::string withZero = kAlphabet + std::string(1, '\0');
    for (int round = 0; round < 2000; ++round) {
        const std::size_t longest = round < 1000 ? 10 : 30;
        const std::string& alphabet = round < 1000 ? kAlphabet : withZero;
        const std::string stem = RandomText(rng, longest, alphabet);
        const int count = std::uniform_int_distribution<int>(1, 10)(rng);
        ASSERT_NO_FATAL_FAILURE(
            ExpectAgreementOnStemList(rng, matcher, stem, 0, count, 4, alphabet, 40, round));
    }
}

// Lists long enough that the sort splits them byte by byte rather than comparing them
// whole, with groups that share more than eight bytes, zero bytes and duplicates. The
// last rounds are lists of tens of thousands, split two bytes at a time, some of whose
// entries all share a prefix longer than eight bytes.
TEST(FirstEntryMatcher, AgreesWithThePlainLoopOnLongListsOfSimilarEntries) {
    std::mt19937 rng(8122026);
    FirstEntryMatcher matcher;
    const std::string alphabet = "aAb" + std::string(1, '\0');
    for (int round = 0; round < 64; ++round) {
        const bool huge = round >= 60;
        const std::string stem = RandomText(rng, 20, alphabet) + (huge ? "xxxxxxxxxx" : "");
        const std::size_t keep = round >= 62 ? stem.size() - 10 : 0;
        const int count =
            std::uniform_int_distribution<int>(huge ? 32768 : 20, huge ? 40000 : 400)(rng);
        ASSERT_NO_FATAL_FAILURE(
            ExpectAgreementOnStemList(rng, matcher, stem, keep, count, 6, alphabet, 60, round));
    }
}
