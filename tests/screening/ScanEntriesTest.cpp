// Check and Eat with lists whose entries cannot match or would match ordinary mail: such
// entries are left out (and said so), the others still match, without the blanks around them.

#include "ScanTestSupport.h"
#include "support/ScriptedServer.h"

#include <filesystem>
#include <set>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

using Lines = std::vector<std::string>;

// Message 1 is ordinary mail to me; message 2 is spam that each ordinary entry names.
const Lines kMessages[] = {
    {"Received: from mx.friends.example (mx.friends.example [192.0.2.7])",
     "\tby pop.home.example with ESMTP; Tue, 8 Dec 2026 10:00:00 +0000",
     "From: Friend <friend@friends.example>", "To: me@home.example", "Subject: lunch",
     "Date: Tue, 8 Dec 2026 10:00:00 +0000", "Message-ID: <1@friends.example>", ""},
    {"Received: from mx.spamdomain.example (mx.spamdomain.example [203.0.113.9])",
     "\tby pop.home.example with ESMTP; Tue, 8 Dec 2026 11:00:00 +0000",
     "From: Promo <promo@spamdomain.example>", "To: me@home.example",
     "Subject: WIN a cruise, casino nights", "Date: Tue, 8 Dec 2026 11:00:00 +0000",
     "Message-ID: <2@spamdomain.example>", ""},
};

struct ScanEntries : ScanFixture {
    ScanEntries() { config.Quarantine = false; }
};

} // namespace

TEST_F(ScanEntries, UnusableAndOverBroadEntriesAreLeftOutAndTheRestStillMatch) {
    const std::string ignored = "Spammer entry ignored (it occurs in ordinary mail): ";
    struct Case {
        const char* name;
        Lines goodAddr, spammers;
        bool noCase;
        std::set<int> eaten;
        Lines log; // without the connection line
    } cases[] = {
        {"an address list of blanks only is no list",
         {"", "  ", "\t"},
         {},
         false,
         {},
         {"Address checking skipped: the valid address list is empty",
          "Stats: 2 Checked, 2 OK'd, 0 Eaten"}},
        {"blank and tab spammer entries match nothing",
         {},
         {" ", "\t", " \t "},
         false,
         {},
         {"Stats: 2 Checked, 2 OK'd, 0 Eaten"}},
        {"entries in most ordinary mail are ignored, once each",
         {},
         {"Date:", "@", "Message-ID", "Received", "a", "com"},
         false,
         {},
         {ignored + "Date:", ignored + "@", ignored + "Message-ID", ignored + "Received",
          ignored + "a", ignored + "com", "Stats: 2 Checked, 2 OK'd, 0 Eaten"}},
        {"the letter-case rule decides what is over-broad",
         {},
         {"spam"},
         true,
         {},
         {ignored + "spam", "Stats: 2 Checked, 2 OK'd, 0 Eaten"}},
        {"case-sensitive, the same entry is searched",
         {},
         {"spam"},
         false,
         {2},
         {"Spammer Match: spam", "Stats: 2 Checked, 1 OK'd, 1 Eaten"}},
        {"padded entries match and are named without their blanks",
         {"\tme@home.example  "},
         {"  Date: ", " casino\t"},
         false,
         {2},
         {ignored + "Date:", "Valid Address: me@home.example", "Valid Address: me@home.example",
          "Spammer Match: casino", "Stats: 2 Checked, 1 OK'd, 1 Eaten"}},
        {"ordinary entries keep list order among the usable ones",
         {},
         {"Received", "@spamdomain.example", "Subject: WIN"},
         false,
         {2},
         {ignored + "Received", "Spammer Match: @spamdomain.example",
          "Stats: 2 Checked, 1 OK'd, 1 Eaten"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.File("spammers.log"));
        config.GoodAddrList = c.goodAddr;
        config.SpammerList = c.spammers;
        config.Unknown = !c.goodAddr.empty();
        config.NoCase = c.noCase;
        config.ListsChanged();
        ScriptedServer s;
        LoggedIn(s);
        testsupport::Pop3Stat(s, 2, {});
        for (int m = 1; m <= 2; ++m) {
            s.Expect("TOP " + std::to_string(m) + " 0").SendLine("+OK");
            for (const std::string& line : kMessages[m - 1])
                s.SendLine(line);
            s.SendLine(".");
            if (c.eaten.count(m)) s.Expect("DELE " + std::to_string(m)).SendLine("+OK");
        }
        testsupport::Pop3Quit(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
        Lines log = LogLines();
        std::erase(log, "Connection to mail server established");
        EXPECT_EQ(log, c.log);
    }
}
