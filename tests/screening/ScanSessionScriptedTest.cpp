// The scan's failure paths, against scripted servers.

#include "ScanTestSupport.h"
#include "support/ScriptedServer.h"

#include <QCoreApplication>
#include <filesystem>
#include <optional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

struct ScriptedScan : ScanFixture {
    ScriptedServer server;

    // Greeting, login and a STAT announcing `count` messages.
    void Open(int count) {
        testsupport::Pop3Greeting(server);
        testsupport::Pop3Login(server, "bob", "pw");
        server.Expect("STAT").SendLine("+OK " + std::to_string(count) + " 1000");
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
    config.Unknown = true; // an empty address list: every message is from an unknown user
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
    config.Unknown = true;
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
    config.Unknown = true;
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
