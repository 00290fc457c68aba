// Pipelined scans: what goes over the wire against scripted servers, and the same results as
// a scan one request at a time on a real Dovecot.

#include "ScanTestSupport.h"
#include "screening/TextMatch.h"
#include "servers/DovecotServer.h"
#include "support/ScriptedServer.h"

#include <filesystem>
#include <functional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

void Headers(ScriptedServer& s, int msg, const std::string& from) {
    s.SendLine("+OK").SendLine("From: " + from).SendLine("To: me@home.example");
    s.SendLine("Subject: " + std::to_string(msg)).SendLine("").SendLine(".");
}

// TOP n 0 for every n of [from, to] before any reply, then each one's headers from a friend.
void TopsThenHeaders(ScriptedServer& s, int from, int to) {
    for (int m = from; m <= to; ++m)
        s.Expect("TOP " + std::to_string(m) + " 0");
    for (int m = from; m <= to; ++m)
        Headers(s, m, "friend@home.example");
}

struct ScriptedPipeline : ScanFixture {
    ScriptedPipeline() {
        config.Quarantine = false;
        config.SpammerList = {"spam.example"};
        config.ListsChanged();
    }
};

} // namespace

TEST_F(ScriptedPipeline, TheWireCarriesAWindowOnlyForServersThatOfferIt) {
    const std::vector<std::string> pipelining = {"TOP", "PIPELINING", "UIDL"};
    struct Case {
        const char* name;
        bool eat;
        std::vector<std::string> capabilities;
        std::function<void(ScriptedServer&)> script;
        std::vector<std::string> logTail;
        int errors;
    } cases[] = {
        {"all TOPs go out before the first reply",
         false,
         pipelining,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Expect("TOP 2 0").Expect("TOP 3 0");
             for (int m = 1; m <= 3; ++m)
                 Headers(s, m, "friend@home.example");
             testsupport::Pop3Quit(s);
         },
         {"Stats: 3 Checked, 3 OK'd, 0 Eaten"},
         0},
        {"each DELE goes out as soon as its message is judged",
         true,
         pipelining,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Expect("TOP 2 0").Expect("TOP 3 0");
             Headers(s, 1, "x@spam.example");
             s.Expect("DELE 1");
             Headers(s, 2, "friend@home.example");
             Headers(s, 3, "y@spam.example");
             s.SendLine("+OK deleted").Expect("DELE 3").SendLine("+OK deleted");
             testsupport::Pop3Quit(s);
         },
         {"Stats: 3 Checked, 1 OK'd, 2 Eaten"},
         0},
        {"without PIPELINING every command waits for the reply before it",
         true,
         {"TOP", "UIDL"},
         [](ScriptedServer& s) {
             s.ExpectAlone("TOP 1 0");
             Headers(s, 1, "x@spam.example");
             s.ExpectAlone("DELE 1").SendLine("+OK deleted");
             for (int m = 2; m <= 3; ++m) {
                 s.ExpectAlone("TOP " + std::to_string(m) + " 0");
                 Headers(s, m, "friend@home.example");
             }
             testsupport::Pop3Quit(s);
         },
         {"Stats: 3 Checked, 2 OK'd, 1 Eaten"},
         0},
        {"a connection lost with TOPs in flight fails the next message",
         false,
         pipelining,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Expect("TOP 2 0").Expect("TOP 3 0");
             Headers(s, 1, "friend@home.example");
             s.Close();
         },
         {"Error 10004 retrieving msg 2", "Stats: 1 Checked, 1 OK'd, 0 Eaten"},
         1},
        {"a DELE lost with the connection deletes nothing",
         true,
         pipelining,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Expect("TOP 2 0").Expect("TOP 3 0");
             Headers(s, 1, "x@spam.example");
             s.Expect("DELE 1").Close();
         },
         {"Error 10004 deleting msg 1", "Stats: 1 Checked, 0 OK'd, 0 Eaten"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.File("spammers.log"));
        ScriptedServer s;
        testsupport::Pop3Stat(LoggedIn(s), 3, c.capabilities);
        c.script(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(c.eat));
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
        const std::vector<std::string> log = LogLines();
        ASSERT_GE(log.size(), c.logTail.size());
        EXPECT_EQ(std::vector<std::string>(log.end() - c.logTail.size(), log.end()), c.logTail);
        EXPECT_EQ(session.ErrorCount(), c.errors);
    }
}

TEST_F(ScriptedPipeline, AServerThatDoesNotAnswerCapaEndsTheCheckWithItsError) {
    config.Timeout = 1;
    const struct {
        const char* name;
        std::function<void(ScriptedServer&)> afterCapa;
        const char* error;
    } cases[] = {
        {"silent", [](ScriptedServer&) {}, "Error 10060 getting server capabilities"},
        {"closing", [](ScriptedServer& s) { s.Close(); },
         "Error 10004 getting server capabilities"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.File("spammers.log"));
        ScriptedServer s;
        LoggedIn(s).Expect("STAT").SendLine("+OK 3 1000").Expect("CAPA");
        c.afterCapa(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return s.Finished(); }, 5000));
        EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
        for (const std::string& line : s.Received())
            EXPECT_TRUE(line.rfind("TOP", 0) != 0 && line.rfind("DELE", 0) != 0) << line;
        const std::vector<std::string> log = LogLines();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
                  (std::vector<std::string>{c.error, "Stats: 0 Checked, 0 OK'd, 0 Eaten"}));
        EXPECT_TRUE(view.Shown(c.error));
        // What morvandle-check turns into exit code 3.
        EXPECT_TRUE(session.ReachedReport());
        EXPECT_EQ(session.ErrorCount(), 1);
    }
}

namespace {

struct DovecotPipeline : ScanFixture {
    testservers::DovecotServer* server = nullptr;

    void SetUp() override {
        if (!testservers::DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = testservers::DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << testservers::DovecotEnvironment::StartError();
    }

    // 300 messages (more than the window holds): friends, spammers and strangers.
    std::string NewUser(const std::string& name) {
        server->AddUser(name, "pw");
        for (int i = 1; i <= 300; ++i) {
            const std::string from = i % 5 == 0 ? "offer@spam.example" : "friend@home.example";
            const std::string to = i % 7 == 0 ? "someone@else.example" : "me@home.example";
            server->AddMessage(name, "From: " + from + "\nTo: " + to + "\nSubject: message " +
                                         std::to_string(i) + "\n\nbody\n");
        }
        return name;
    }

    struct Outcome {
        std::vector<std::string> log, labels, activities;
        std::string statusBar;
        std::vector<std::string> left;
        bool askedCapa = false;
    };
    Outcome Run(const std::string& user, bool eat, bool pipelining) {
        std::filesystem::remove(dir.File("spammers.log"));
        view = {};
        session.SetPipeliningAllowed(pipelining);
        UseServer(server->Host() + ":" + server->PortText(), user, "pw");
        Scan(eat);
        Outcome out{{}, view.labels, view.activities, view.statusBar, server->Messages(user)};
        std::vector<std::string> log = LogLines();
        for (std::size_t i = 0; i < log.size(); ++i) {
            if (log[i] == "> CAPA") {
                out.askedCapa = true;
                ++i; // and its status line
                continue;
            }
            // The user name and the greeting's time stamp differ from run to run.
            out.log.push_back(log[i] == "> USER " + user              ? "> USER"
                              : log[i].rfind("< +OK Dovecot", 0) == 0 ? "< greeting"
                                                                      : log[i]);
        }
        return out;
    }
};

} // namespace

TEST_F(DovecotPipeline, SameLogViewAndMailboxAsOneRequestAtATime) {
    config.LogLevel = true;
    config.Unknown = true;
    config.GoodAddrList = {"me@home.example"};
    config.SpammerList = {"spam.example"};
    config.ListsChanged();
    const struct {
        const char* name;
        bool eat, quarantine;
    } cases[] = {{"checkonly", false, true}, {"eatkeep", true, true}, {"eatplain", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config.Quarantine = c.quarantine;
        const Outcome one = Run(NewUser(std::string("seq") + c.name), c.eat, false);
        const Outcome piped = Run(NewUser(std::string("pipe") + c.name), c.eat, true);
        EXPECT_TRUE(piped.askedCapa);
        EXPECT_FALSE(one.askedCapa);
        EXPECT_EQ(piped.log, one.log);
        EXPECT_EQ(piped.labels, one.labels);
        EXPECT_EQ(piped.activities, one.activities);
        EXPECT_EQ(piped.statusBar, one.statusBar);
        EXPECT_EQ(piped.left, one.left);
        // Every 5th from a spammer, every 7th to a stranger, every 35th both.
        EXPECT_EQ(piped.left.size(), c.eat ? 300u - 60u - 42u + 8u : 300u);
        EXPECT_EQ(session.ErrorCount(), 0);
    }
}

// The window holds far more than a few dozen TOPs: the server sees every one of the first 256
// before it answers any, and the next go out as the replies are taken.
TEST_F(ScriptedPipeline, TheWindowKeepsHundredsOfTopsInFlight) {
    config.Timeout = 2; // a client that waits for replies first fails instead of hanging
    constexpr int count = 300, window = 256;
    ScriptedServer s;
    testsupport::Pop3Stat(LoggedIn(s), count, {"TOP", "PIPELINING"});
    TopsThenHeaders(s, 1, window);
    TopsThenHeaders(s, window + 1, count);
    testsupport::Pop3Quit(s);
    Serve(s);
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
    EXPECT_EQ(view.statusBar, "Last Results - 300 Checked, 300 OK'd, 0 Eaten");
}

// The window is sized by bytes too: after a header of 4 MB the replies still in flight are
// counted at that size, so no TOP goes out until enough small ones have brought the mean down.
TEST_F(ScriptedPipeline, LargeHeadersShrinkTheWindow) {
    config.Timeout = 5;
    constexpr int count = 300, window = 256;
    ScriptedServer s;
    testsupport::Pop3Stat(LoggedIn(s), count, {"TOP", "PIPELINING"});
    s.Expect("TOP 1 0").SendLine("+OK").SendLine("From: friend@home.example");
    for (int line = 0; line < 4096; ++line)
        s.SendLine("X-Filler: " + std::string(1024, 'a'));
    s.SendLine("").SendLine(".");
    for (int m = 2; m < window; ++m)
        s.Expect("TOP " + std::to_string(m) + " 0");
    s.ExpectAlone("TOP " + std::to_string(window) + " 0");
    for (int m = 2; m <= window; ++m)
        Headers(s, m, "friend@home.example");
    TopsThenHeaders(s, window + 1, count);
    testsupport::Pop3Quit(s);
    Serve(s);
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_TRUE(s.Failures().empty()) << s.Failures().front();
    EXPECT_EQ(view.statusBar, "Last Results - 300 Checked, 300 OK'd, 0 Eaten");
}
