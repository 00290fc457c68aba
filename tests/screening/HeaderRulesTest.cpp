#include "screening/HeaderRules.h"
#include "config/ConfigFixture.h"
#include "screening/TextMatch.h"

#include <gtest/gtest.h>

using screening::ScreeningInput;
using screening::THeaderRules;
using screening::TVerdict;

namespace {

// Records what the rules do to the progress bar, as a bar would show it.
struct ProgressRecorder : screening::TProgressDisplay {
    int position = -1;
    int max = -1;
    int calls = 0;
    void SetProgressPosition(int p) override { position = p, ++calls; }
    void SetProgressMax(int m) override { max = m, ++calls; }
    void StepProgress(int steps) override { position += steps, ++calls; }
};

struct Rules : ::testing::Test {
    ProgressRecorder bar;
    std::vector<std::string> log;
    THeaderRules rules{bar, [this](const std::string& line) { log.push_back(line); }};
    std::vector<std::string> goodAddr;
    std::vector<std::string> spammers;

    ScreeningInput Input(bool unknown, bool strict, bool noCase = false, bool logLevel = false) {
        return {goodAddr, spammers, unknown, strict, noCase, logLevel, std::nullopt};
    }
};

std::vector<std::string> Headers() {
    return {"Return-Path: <Promo@Deals.example>",
            "Delivered-To: me@home.example",
            "From: Promo <Promo@Deals.example>",
            "To: Friends <Jane.Doe@Work.example>,",
            "\tJoe@Home.example",
            "Cc: boss@work.example",
            "Reply-To: jane@home.example",
            "Subject: CHEAP stuff",
            ""};
}

} // namespace

TEST_F(Rules, DisabledAddressCheckTouchesNothing) {
    goodAddr = {"nobody"};
    auto lines = Headers();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(false, false)),
              "valid address checking disabled");
    EXPECT_EQ(bar.calls, 0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(lines, Headers());
}

TEST_F(Rules, StandardCheckSearchesAllLinesIgnoringCaseAndReturnsTheStoredForm) {
    goodAddr = {"", "nobody@x", "JANE.doe@work", "me@home.example"};
    auto lines = Headers();
    // Contained in a longer address, other letter case, first in list order wins.
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(true, false)), "JANE.doe@work");
    EXPECT_EQ(bar.max, 4);
    EXPECT_EQ(bar.position, 3);
    EXPECT_EQ(lines, Headers()) << "the standard check must not change the lines";

    goodAddr = {"stranger@x"};
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(true, false)), "");
    EXPECT_EQ(bar.position, 1);

    // The text is searched as one, across the CR LF between two lines.
    goodAddr = {"example>,\r\n\tjoe"};
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(true, false)), goodAddr[0]);

    goodAddr.clear();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(true, false)), "");
    EXPECT_EQ(bar.max, 0);
    EXPECT_EQ(bar.position, 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(Rules, StrictCheckLooksOnlyAtToLinesAndLowerCasesInPlace) {
    // Addresses that occur only in Delivered-To, the folded To line, Cc and Reply-To.
    goodAddr = {"me@home.example", "joe@home.example", "boss@work.example", "jane@home"};
    auto lines = Headers();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(false, true, false, true)), "");
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], screening::LowerCase(Headers()[i]));
    EXPECT_EQ(log,
              std::vector<std::string>{"Strict Check -> to: friends <jane.doe@work.example>,"});

    // Both switches on: the strict rules apply. Lines after the matching one keep their case.
    goodAddr = {"Jane.Doe@Work.Example"};
    lines = Headers();
    log.clear();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(true, true)), "Jane.Doe@Work.Example");
    EXPECT_EQ(lines[3], "to: friends <jane.doe@work.example>,");
    EXPECT_EQ(lines[4], "\tJoe@Home.example");
    EXPECT_TRUE(log.empty()) << "the strict trace is verbose only";
}

TEST_F(Rules, StrictCheckSearchesEachToLineWithTheWholeListAndStepsPastTheMax) {
    goodAddr = {"a@x", "b@x", "c@x"};
    std::vector<std::string> lines = {"TO: z@x", "Subject: hi", "to: C@X", ""};
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input(false, true)), "c@x");
    EXPECT_EQ(bar.max, 3);
    EXPECT_EQ(bar.position, 6);
}

TEST_F(Rules, SpammerMatchNeedsTheFirstOccurrenceAfterTheFirstByte) {
    spammers = {"Return-Path: <Promo", "<Promo"};
    auto lines = Headers();
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false)), "<Promo");
    EXPECT_EQ(log, std::vector<std::string>{"Spammer Match: <Promo"});
    EXPECT_EQ(bar.max, 2);
    EXPECT_EQ(bar.position, 2);

    // Occurs at byte 1 and again later: the first occurrence decides, so no match.
    spammers = {"Bargain"};
    lines = {"Bargain: 1", "X-Bargain: 2", ""};
    log.clear();
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false)), "");
    EXPECT_TRUE(log.empty());
}

TEST_F(Rules, FirstSpammerInListOrderWinsAndIsTheOnlyOneLogged) {
    spammers = {"nothing", "", "CHEAP", "promo@deals", "Deals.example", "more", "more2"};
    auto lines = Headers();
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false)), "CHEAP");
    EXPECT_EQ(log, std::vector<std::string>{"Spammer Match: CHEAP"});
    EXPECT_EQ(bar.max, 7);
    EXPECT_EQ(bar.position, 7) << "a match moves the bar to its maximum";
}

TEST_F(Rules, SpammerLetterCaseFollowsNoCaseAndSeesTheStrictLowerCasing) {
    spammers = {"cheap"};
    auto lines = Headers();
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false, false)), "");
    EXPECT_EQ(bar.position, 1) << "no match leaves the bar at the steps taken";
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false, true)), "cheap");

    // A strict check that matches on the To line lower-cases the lines up to it: a
    // case-sensitive "Promo" can no longer match there, but "CHEAP" after it still can.
    goodAddr = {"jane.doe@work.example"};
    spammers = {"Promo", "CHEAP"};
    lines = Headers();
    log.clear();
    ASSERT_EQ(rules.ValidAddressCheck(lines, Input(false, true)), "jane.doe@work.example");
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, true)), "CHEAP");

    // Without a strict match every line is lower-cased and neither can match.
    goodAddr = {"nobody"};
    lines = Headers();
    rules.ValidAddressCheck(lines, Input(false, true));
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, true)), "");
}

TEST_F(Rules, VerdictsNameTheEntryAndItsLineAndLeaveTheLinesAsReceived) {
    using enum TVerdict::Kind;
    struct Case {
        const char* name;
        std::vector<std::string> goodAddr, spammers;
        bool unknown, strict;
        TVerdict sender, verdict;
    };
    const TVerdict skipped{CheckSkipped, "", -1}, unknown{UnknownSender, "", -1};
    const std::string folded = "example>,\r\n\tjoe";
    // clang-format off
    const std::vector<Case> cases = {
        {"no address check", {"nobody"}, {"stuff"}, false, false,
         skipped, {Spammer, "stuff", 7}},
        {"an address on a later line", {"jane@home"}, {"nothing"}, true, false,
         {Ok, "jane@home", 6}, {Ok, "jane@home", 6}},
        {"a match across a line end starts on the first line", {folded}, {}, true, false,
         {Ok, folded, 3}, {Ok, folded, 3}},
        {"an unknown sender", {"stranger@x"}, {"CHEAP"}, true, false,
         unknown, {Spammer, "CHEAP", 7}},
        {"a spammer entry past the first byte", {}, {"Promo"}, false, false,
         skipped, {Spammer, "Promo", 0}},
        // The spammer search sees the lines up to the matching To line in small letters, as
        // the strict check judged them; the next line keeps its letters.
        {"a strict match", {"Jane.Doe@Work.Example"}, {"Promo", "Joe@"}, false, true,
         {Ok, "Jane.Doe@Work.Example", 3}, {Spammer, "Joe@", 4}},
        {"a strict miss lowers every line", {"joe@home.example"}, {"CHEAP", "stuff"}, false, true,
         unknown, {Spammer, "stuff", 7}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        goodAddr = c.goodAddr;
        spammers = c.spammers;
        const std::vector<std::string> lines = Headers();
        const TVerdict sender = rules.SenderVerdict(lines, Input(c.unknown, c.strict));
        EXPECT_EQ(sender.kind, c.sender.kind);
        EXPECT_EQ(sender.entry, c.sender.entry);
        EXPECT_EQ(sender.headerLine, c.sender.headerLine);
        const TVerdict verdict = rules.SpammerVerdict(lines, Input(c.unknown, c.strict), sender);
        EXPECT_EQ(verdict.kind, c.verdict.kind);
        EXPECT_EQ(verdict.entry, c.verdict.entry);
        EXPECT_EQ(verdict.headerLine, c.verdict.headerLine);
        EXPECT_EQ(lines, Headers());
    }
}

TEST_F(Rules, EmptySpammerListResultsAtOnce) {
    auto lines = Headers();
    EXPECT_EQ(rules.SpammerCheck(lines, Input(false, false)), "");
    EXPECT_EQ(bar.max, 0);
    EXPECT_EQ(bar.position, 0);
    EXPECT_TRUE(log.empty());
}

// The rules see the lists of the configuration through its stamp; a load that replaces a
// list by one of the same size must still reach the search.
struct RulesOnConfig : ConfigFixture {
    ProgressRecorder bar;
    THeaderRules rules{bar, [](const std::string&) {}};

    ScreeningInput Input() const {
        return {ConfigData->GoodAddrList, ConfigData->SpammerList, true, false, true, false,
                ConfigData->ListsStamp()};
    }
};

TEST_F(RulesOnConfig, ListsReloadedFromTheirFilesAreSearchedAfresh) {
    WriteFile(ProgramFile("GoodAddr.txt"), "jane.doe@work.example\r\n");
    WriteFile(ProgramFile("spammers.txt"), "nothing\r\ncheap\r\n");
    CreateConfigData();
    auto lines = Headers();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input()), "jane.doe@work.example");
    EXPECT_EQ(rules.SpammerCheck(lines, Input()), "cheap");

    WriteFile(ProgramFile("GoodAddr.txt"), "joe@home.example\r\n");
    WriteFile(ProgramFile("spammers.txt"), "nothing\r\nstuff\r\n");
    LoadAddressList();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input()), "joe@home.example");
    LoadSpammerList();
    EXPECT_EQ(rules.SpammerCheck(lines, Input()), "stuff");

    // Emptied at the end of the run: nothing left to match.
    ConfigData->ConfigDataDestroy();
    EXPECT_EQ(rules.ValidAddressCheck(lines, Input()), "");
}
