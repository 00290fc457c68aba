// The scan's failure paths, against scripted servers.

#include "ScanTestSupport.h"
#include "support/ScriptedServer.h"

#include <QCoreApplication>
#include <filesystem>
#include <functional>
#include <optional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

struct ScriptedScan : ScanFixture {
    ScriptedServer server;

    // These transcripts delete without a copy; the quarantine's own tests script its RETR.
    ScriptedScan() { config.Quarantine = false; }

    // Address checking on, with an address no message is sent to.
    void EveryoneUnknown() {
        config.Unknown = true;
        config.GoodAddrList = {"nobody@elsewhere.example"};
        config.ListsChanged();
    }
    // Greeting, login and a STAT announcing `count` messages, on a server without pipelining.
    void Open(int count) {
        testsupport::Pop3Greeting(server);
        testsupport::Pop3Login(server, "bob", "pw");
        testsupport::Pop3Stat(server, count);
    }
    void Headers(int msg, const std::string& from) {
        server.Expect("TOP " + std::to_string(msg) + " 0")
            .SendLine("+OK")
            .SendLine("From: " + from)
            .SendLine("To: me@home.example")
            .SendLine("")
            .SendLine(".");
    }
    void Run(bool eat) {
        server.Start();
        UseServer("127.0.0.1:" + server.PortText(), "bob", "pw");
        ASSERT_NO_FATAL_FAILURE(Scan(eat));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    }
    // The error was shown in the connection line and logged just before the report.
    void ExpectErrorThenReport(const std::string& error, const std::string& stats) {
        EXPECT_TRUE(view.Shown(error));
        std::vector<std::string> log = LogLines();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
                  (std::vector<std::string>{error, "Stats: " + stats}));
        EXPECT_EQ(view.statusBar, "Last Results - " + stats);
    }
};

} // namespace

TEST(Pop3Settings, ServerMayNameAPortAfterAColon) {
    struct Case {
        std::string server, host, port;
    };
    for (const Case& c : std::vector<Case>{
             {"mail.example.com:1110", "mail.example.com", "1110"},
             {"mail.example.com", "mail.example.com", "pop3"},
             {"mail.example.com:", "mail.example.com", "pop3"},
             {"mail.example.com:pop3s", "mail.example.com", "pop3s"},
             {" mail.example.com : 1110 ", "mail.example.com", "1110"},
             {"mail.example.com:\t", "mail.example.com", "pop3"},
             {"2001:db8::1", "2001:db8::1", "pop3"},
             {"::1", "::1", "pop3"},
             {"[2001:db8::1]:1110", "2001:db8::1", "1110"},
             {"[::1]", "::1", "pop3"},
             {"[::1]:", "::1", "pop3"},
             {"[ ::1 ]", "::1", "pop3"},
             {"[\t::1 ]: 1110", "::1", "1110"},
         }) {
        screening::ServerAddress a = screening::SplitServer(c.server);
        EXPECT_EQ(a.Host, c.host) << c.server;
        EXPECT_EQ(a.Port, c.port) << c.server;
    }
}

TEST(ScanSessionLifetime, ASessionGoneMidScanHearsNothingMore) {
    testsupport::TempDir dir;
    TConfigData config;
    TkelLog log;
    log.SetLogFileName(dir.File("spammers.log"));
    TPop3Cli client;
    scantest::RecordingView view;
    config.Server = "127.0.0.1:1"; // nothing listens there: the connect fails later
    screening::ApplyPop3Settings(client, config);
    std::optional<screening::TScanSession> session(std::in_place, client, log, config, view);
    session->StartScan(false);
    session.reset();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return client.State() == pop3Ready; }, 20000));
    QCoreApplication::processEvents(); // delivers the connect's posted end
    EXPECT_EQ(view.statusBar, "Last Results - [none]");
    EXPECT_FALSE(std::filesystem::exists(dir.File("spammers.log")));
}

TEST_F(ScriptedScan, FailedUserIsShownThenQuitAndZeros) {
    testsupport::Pop3Greeting(server);
    server.Expect("USER bob").SendLine("-ERR who?");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(true));
    ExpectErrorThenReport("Error 500 sending username", "0 Checked, 0 OK'd, 0 Eaten");
}

TEST_F(ScriptedScan, FailedStatIsShownThenQuitAndZeros) {
    testsupport::Pop3Greeting(server);
    testsupport::Pop3Login(server, "bob", "pw");
    server.Expect("STAT").SendLine("-ERR locked");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectErrorThenReport("Error 500 getting mailbox status", "0 Checked, 0 OK'd, 0 Eaten");
}

TEST_F(ScriptedScan, FailedTopIsShownAndNotCounted) {
    Open(2);
    server.Expect("TOP 1 0").SendLine("-ERR no such message");
    Headers(2, "friend@home.example");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectErrorThenReport("Error 500 retrieving msg 1", "1 Checked, 1 OK'd, 0 Eaten");
}

TEST_F(ScriptedScan, FailedDeleIsCheckedButNotEaten) {
    EveryoneUnknown();
    Open(2);
    Headers(1, "a@x.example");
    server.Expect("DELE 1").SendLine("-ERR cannot");
    Headers(2, "b@x.example");
    server.Expect("DELE 2").SendLine("+OK deleted");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(true));
    EXPECT_TRUE(view.Shown("Error 500 deleting msg 1"));
    EXPECT_TRUE(view.Shown("Message 2 deleted"));
    EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 0 OK'd, 1 Eaten");
    EXPECT_EQ(view.activities.back(), "Scanning Completed - Mailbox Cleaned");
}

TEST_F(ScriptedScan, OnlyFailedDeletionsMeanNoSpamFound) {
    EveryoneUnknown();
    Open(1);
    Headers(1, "a@x.example");
    server.Expect("DELE 1").SendLine("-ERR cannot");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(true));
    EXPECT_EQ(view.statusBar, "Last Results - 1 Checked, 0 OK'd, 0 Eaten");
    EXPECT_EQ(view.activities.back(), "Scanning Completed - No Spam found");
}

TEST_F(ScriptedScan, ConnectionLostDuringTopEndsWithTheReport) {
    Open(3);
    Headers(1, "friend@home.example");
    server.Expect("TOP 2 0").SendAndClose("+OK\r\nFrom: half");
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectErrorThenReport("Error 10004 retrieving msg 2", "1 Checked, 1 OK'd, 0 Eaten");
    EXPECT_EQ(view.labels.back(), "Connection inactive");
    EXPECT_TRUE(session.ReachedReport());
    // One error: no TOP of message 3 was tried on the closed connection.
    EXPECT_EQ(session.ErrorCount(), 1);
}

TEST_F(ScriptedScan, ConnectionLostDuringDeleEndsWithTheReport) {
    EveryoneUnknown();
    Open(2);
    Headers(1, "a@x.example");
    server.Expect("DELE 1").Close();
    ASSERT_NO_FATAL_FAILURE(Run(true));
    ExpectErrorThenReport("Error 10004 deleting msg 1", "1 Checked, 0 OK'd, 0 Eaten");
    EXPECT_EQ(session.ErrorCount(), 1);
}

TEST_F(ScriptedScan, ConnectionLostBetweenRequestsIsReportedOnce) {
    Open(3);
    // The reply is complete, then the server goes away before the next TOP.
    server.Expect("TOP 1 0").SendAndClose("+OK\r\nFrom: a@b\r\n\r\n.\r\n");
    ASSERT_NO_FATAL_FAILURE(Run(false));
    EXPECT_EQ(session.ErrorCount(), 1);
    EXPECT_EQ(view.statusBar, "Last Results - 1 Checked, 1 OK'd, 0 Eaten");
    EXPECT_EQ(LogLines().back(), "Stats: 1 Checked, 1 OK'd, 0 Eaten");
}

// Address checking with no address to check against would call every message spam.
TEST_F(ScriptedScan, AnEmptyAddressListSkipsTheAddressCheck) {
    config.Strict = true;
    config.SpammerList = {"spam.example"};
    Open(2);
    Headers(1, "friend@home.example");
    Headers(2, "x@spam.example");
    server.Expect("DELE 2").SendLine("+OK");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(true));
    const std::string notice = "Address checking skipped: the valid address list is empty";
    EXPECT_EQ(LogLines().front(), notice);
    EXPECT_EQ(std::count(view.activities.begin(), view.activities.end(), notice), 1);
    EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
}

// A count that is no plain decimal number would drive the scan through messages that do
// not exist (or none, reported as a clean check).
TEST_F(ScriptedScan, AStatCountThatIsNoPlainNumberFailsTheStat) {
    for (const std::string reply : {"+OK 999999999999 0", "+OK -5 0", "+OK abc", "+OK"}) {
        ScriptedServer s;
        LoggedIn(s);
        s.Expect("STAT").SendLine(reply);
        testsupport::Pop3Quit(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_TRUE(s.Failures().empty()) << reply;
        std::vector<std::string> log = LogLines();
        EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
                  (std::vector<std::string>{"Error 500 getting mailbox status",
                                            "Stats: 0 Checked, 0 OK'd, 0 Eaten"}))
            << reply;
        EXPECT_EQ(session.ErrorCount(), 1) << reply;
    }
}

// POP3 deletes at QUIT only: a session that ends any other way deleted nothing.
TEST_F(ScriptedScan, DeletionsCountOnlyWhenTheServerConfirmsQuit) {
    struct Case {
        const char* name;
        int messages;
        std::function<void(ScriptedServer&)> end;
        int errors;
    } cases[] = {
        {"closed instead of answering QUIT", 1, [](ScriptedServer& s) { s.Expect("QUIT").Close(); },
         1},
        {"QUIT refused", 1,
         [](ScriptedServer& s) { s.Expect("QUIT").SendAndClose("-ERR cannot\r\n"); }, 1},
        {"connection lost after the DELE", 2,
         [](ScriptedServer& s) { s.Expect("TOP 2 0").Close(); }, 2},
    };
    for (const Case& c : cases) {
        ScriptedServer s;
        EveryoneUnknown();
        LoggedIn(s);
        testsupport::Pop3Stat(s, c.messages);
        s.Expect("TOP 1 0").Send("+OK\r\nFrom: a@x.example\r\n\r\n.\r\n");
        s.Expect("DELE 1").SendLine("+OK");
        c.end(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        std::vector<std::string> log = LogLines();
        EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
                  (std::vector<std::string>{
                      "QUIT not confirmed by the server - 1 deletions did not take effect",
                      "Stats: 1 Checked, 0 OK'd, 0 Eaten"}))
            << c.name;
        EXPECT_EQ(view.activities.back(), "Scanning Completed - Nothing deleted") << c.name;
        EXPECT_EQ(session.ErrorCount(), c.errors) << c.name;
        EXPECT_FALSE(session.Results().front().Eaten) << c.name; // "Eat marked" may take it
    }
}

// A server that stays connected but silent must not hold the check for ever; one that is
// merely slow must not be cut off.
TEST_F(ScriptedScan, SilenceEndsARequestAfterTheTimeoutButATrickleDoesNot) {
    config.Timeout = 1;
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        bool reachesReport;
        std::string lastError; // empty: none
        std::string stats;
    } cases[] = {
        {"no greeting", [](ScriptedServer&) {}, false, "Error 10060 attempting connection", ""},
        {"stops inside TOP",
         [](ScriptedServer& s) {
             LoggedIn(s);
             s.Expect("STAT").SendLine("+OK 1 100");
             s.Expect("TOP 1 0").Send("+OK\r\nFrom: half\r\n");
         },
         true, "Error 10060 retrieving msg 1", "0 Checked, 0 OK'd, 0 Eaten"},
        {"slow TOP",
         [](ScriptedServer& s) {
             LoggedIn(s);
             s.Expect("STAT").SendLine("+OK 1 100");
             s.Expect("TOP 1 0").SendLine("+OK").Pause(600).SendLine("From: a@b.example");
             s.Pause(600).SendLine("").Pause(600).SendLine(".");
             testsupport::Pop3Quit(s);
         },
         true, "", "1 Checked, 1 OK'd, 0 Eaten"},
    };
    for (const Case& c : cases) {
        ScriptedServer s;
        c.script(s);
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_EQ(session.ReachedReport(), c.reachesReport) << c.name;
        std::vector<std::string> log = LogLines();
        if (c.reachesReport) {
            EXPECT_EQ(log.back(), "Stats: " + c.stats) << c.name;
        }
        if (c.lastError.empty()) {
            EXPECT_EQ(session.ErrorCount(), 0) << c.name;
        } else {
            EXPECT_NE(std::find(log.begin(), log.end(), c.lastError), log.end()) << c.name;
            EXPECT_TRUE(view.Shown(c.lastError)) << c.name;
        }
    }
}

// A server may take its time to close after answering QUIT: the next check must not find
// the client still connected.
TEST_F(ScriptedScan, TheNextCheckStartsAtOnceAfterQuit) {
    for (int round = 0; round < 2; ++round) {
        ScriptedServer s;
        LoggedIn(s);
        s.Expect("STAT").SendLine("+OK 0 0");
        s.Expect("QUIT").SendLine("+OK bye"); // and stays connected
        Serve(s);
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_EQ(session.ErrorCount(), 0) << "round " << round;
        EXPECT_EQ(LogLines().back(), "Stats: 0 Checked, 0 OK'd, 0 Eaten") << "round " << round;
    }
}

// Stopping abandons the session without QUIT, so the server deletes nothing, even a message
// whose DELE it has already answered.
TEST_F(ScriptedScan, StopAbandonsTheCheckWithoutQuit) {
    struct Case {
        const char* name;
        bool quarantine;
        int messages;
        std::function<void(ScriptedServer&)> script; // ends with the server silent
        std::string lastCommand;
    } cases[] = {
        {"silent after a TOP", false, 1, [](ScriptedServer&) {}, "TOP 1 0"},
        {"DELE answered", false, 2,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Send("+OK\r\nFrom: a@x.example\r\n\r\n.\r\n");
             s.Expect("DELE 1").SendLine("+OK");
         },
         "TOP 2 0"},
        {"during RETR", true, 1,
         [](ScriptedServer& s) {
             s.Expect("TOP 1 0").Send("+OK\r\nFrom: a@x.example\r\n\r\n.\r\n");
             s.Expect("RETR 1").Send("+OK\r\nFrom: a@x.example\r\n");
         },
         "RETR 1"},
    };
    for (const Case& c : cases) {
        ScriptedServer s;
        EveryoneUnknown();
        config.Quarantine = c.quarantine;
        LoggedIn(s);
        testsupport::Pop3Stat(s, c.messages);
        c.script(s);
        Serve(s);
        const int before = scanEnds;
        session.StartScan(true);
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] {
                const std::vector<std::string> got = s.Received();
                return !got.empty() && got.back() == c.lastCommand;
            },
            10000))
            << c.name;
        session.Stop();
        EXPECT_EQ(scanEnds, before + 1) << c.name;
        ASSERT_TRUE(testsupport::WaitUntil([&] { return s.Finished(); }, 10000)) << c.name;
        const std::vector<std::string> got = s.Received();
        EXPECT_EQ(std::find(got.begin(), got.end(), "QUIT"), got.end()) << c.name;
        EXPECT_EQ(view.statusBar, "Check stopped - nothing deleted") << c.name;
        EXPECT_EQ(LogLines().back(), "Check stopped - nothing deleted") << c.name;
        EXPECT_EQ(session.EatenCount(), 0) << c.name;
        for (const screening::TScanResult& r : session.Results())
            EXPECT_FALSE(r.Eaten) << c.name;
        EXPECT_FALSE(session.Busy()) << c.name;
        EXPECT_TRUE(view.commandsEnabled) << c.name;
        EXPECT_FALSE(view.animating) << c.name;
    }
}

// A check that ends in an error names it in words for the status bar; one that ends well
// names nothing.
TEST_F(ScriptedScan, TheFailureThatEndedTheCheckIsNamedInWords) {
    config.Timeout = 1;
    struct Case {
        const char* name;
        std::string server; // empty: the scripted one
        std::function<void(ScriptedServer&)> script;
        std::string failure;
    } cases[] = {
        {"refused", "127.0.0.1:1", [](ScriptedServer&) {},
         "Error 10061 attempting connection (connection refused)"},
        {"no greeting", "", [](ScriptedServer&) {},
         "Error 10060 attempting connection (no answer within 60 s)"},
        {"password refused", "",
         [](ScriptedServer& s) {
             testsupport::Pop3Greeting(s);
             s.Expect("USER bob").SendLine("+OK");
             s.Expect("PASS pw").SendLine("-ERR [AUTH] Authentication failed.");
             testsupport::Pop3Quit(s);
         },
         "login failed: -ERR [AUTH] Authentication failed."},
        {"status refused", "",
         [](ScriptedServer& s) {
             LoggedIn(s);
             s.Expect("STAT").SendLine("-ERR locked");
             testsupport::Pop3Quit(s);
         },
         "Error 500 getting mailbox status: -ERR locked"},
        {"QUIT refused", "",
         [](ScriptedServer& s) {
             LoggedIn(s);
             testsupport::Pop3Stat(s, 1);
             s.Expect("TOP 1 0").Send("+OK\r\nFrom: a@x.example\r\n\r\n.\r\n");
             s.Expect("DELE 1").SendLine("+OK");
             s.Expect("QUIT").SendAndClose("-ERR cannot\r\n");
         },
         "QUIT not confirmed by the server - 1 deletions did not take effect"},
        {"a good check", "",
         [](ScriptedServer& s) {
             LoggedIn(s);
             s.Expect("STAT").SendLine("+OK 0 0");
             testsupport::Pop3Quit(s);
         },
         ""},
    };
    for (const Case& c : cases) {
        ScriptedServer s;
        EveryoneUnknown();
        c.script(s);
        s.Start();
        UseServer(c.server.empty() ? "127.0.0.1:" + s.PortText() : c.server, "bob", "pw");
        view.failure = "from the check before";
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        EXPECT_EQ(view.failure, c.failure) << c.name;
    }
}

// The status bar follows the check through the mailbox, from an empty one at the start.
TEST_F(ScriptedScan, MailboxProgressCountsTheMessages) {
    struct Case {
        int messages;
        std::vector<std::string> progress;
    } cases[] = {
        {0, {""}},
        {2, {"", "Message 1 of 2", "Message 2 of 2"}},
    };
    for (const Case& c : cases) {
        ScriptedServer s;
        LoggedIn(s);
        testsupport::Pop3Stat(s, c.messages);
        for (int msg = 1; msg <= c.messages; ++msg)
            s.Expect("TOP " + std::to_string(msg) + " 0")
                .Send("+OK\r\nFrom: a@x.example\r\n\r\n.\r\n");
        testsupport::Pop3Quit(s);
        Serve(s);
        view.progress.clear();
        ASSERT_NO_FATAL_FAILURE(Scan(false));
        EXPECT_EQ(view.progress, c.progress) << c.messages;
        EXPECT_TRUE(s.Failures().empty()) << c.messages;
    }
}
