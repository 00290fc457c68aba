// Secure connections that fail or are tampered with, against scripted servers that record
// every line the client sends: whatever happens, no login leaves the program in clear.

#include "ScanTestSupport.h"
#include "servers/TestCerts.h"
#include "support/ScriptedServer.h"

#include <algorithm>
#include <cstdio>
#include <functional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

const std::string kPassword = "pw-never-in-clear";

struct TlsScriptedScan : ScanFixture {
    // Runs one scan against a server playing `script`, with the given Security setting.
    void Run(ScriptedServer& server, int security, int timeout = 60) {
        server.Start();
        config.Security = security;
        config.CAFile = certsMade ? certs.File("ca.pem") : "";
        config.Timeout = timeout;
        config.LogLevel = true;
        config.Quarantine = false; // the transcripts have no RETR
        UseServer("127.0.0.1:" + server.PortText(), "bob", kPassword);
        view.labels.clear();
        std::remove(dir.File("spammers.log").c_str());
        ASSERT_NO_FATAL_FAILURE(Scan(true));
        // Everything the client sent has reached the recorder.
        EXPECT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
    }

    static bool LoginLeft(const ScriptedServer& server) {
        for (const std::string& line : server.Received())
            if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0 ||
                line.rfind("APOP", 0) == 0 || line.find(kPassword) != std::string::npos)
                return true;
        return false;
    }

    void MakeCerts() {
        std::string error;
        ASSERT_TRUE(testservers::MakeTestCerts(certs.Path(), &error)) << error;
        certsMade = true;
    }
    std::string Cert() const { return certs.File("server.pem"); }
    std::string Key() const { return certs.File("server.key"); }

    testsupport::TempDir certs;
    bool certsMade = false;
};

TEST(Pop3Settings, TlsFromTheStartDefaultsToThePop3sPort) {
    struct Case {
        std::string server;
        int security;
        std::string port;
    };
    for (const Case& c : std::vector<Case>{{"mail.example.com", 1, "pop3s"},
                                           {"mail.example.com:", 1, "pop3s"},
                                           {"mail.example.com:1995", 1, "1995"},
                                           {"mail.example.com:pop3", 1, "pop3"},
                                           {"mail.example.com", 2, "pop3"},
                                           {"mail.example.com", 0, "pop3"}}) {
        TConfigData config;
        config.Server = c.server;
        config.Security = c.security;
        config.CAFile = "/etc/ca.pem";
        TPop3Cli client;
        screening::ApplyPop3Settings(client, config);
        EXPECT_EQ(client.Port(), c.port) << c.server << " " << c.security;
        EXPECT_EQ(client.Security(), c.security);
        EXPECT_EQ(client.CAFile(), "/etc/ca.pem");
    }
}

TEST_F(TlsScriptedScan, ConnectionsThatCannotBeSecuredSendNoLogin) {
    const std::string closedInHandshake =
        "TLS error: the server closed the connection during the handshake";
    struct Case {
        const char* name;
        int security;
        std::function<void(ScriptedServer&)> script;
        std::string error;
        int timeout = 60;
    } cases[] = {
        {"STLS not offered", 2,
         [](ScriptedServer& s) {
             s.SendLine("+OK ready").Expect("STLS").SendLine("-ERR Unknown command.");
         },
         "TLS error: the server refused STLS (-ERR Unknown command.)"},
        {"STLS refused", 2,
         [](ScriptedServer& s) {
             s.SendLine("+OK ready").Expect("STLS").SendLine("-ERR [SYS/TEMP] No TLS today");
         },
         "TLS error: the server refused STLS (-ERR [SYS/TEMP] No TLS today)"},
        {"STLS answered with no +OK", 2,
         [](ScriptedServer& s) { s.SendLine("+OK ready").Expect("STLS").SendLine("+OKAY"); },
         "TLS error: the server refused STLS (+OKAY)"},
        {"closed before answering STLS", 2,
         [](ScriptedServer& s) { s.SendLine("+OK ready").Expect("STLS").Close(); },
         "TLS error: the server closed the connection before STLS"},
        {"STLS +OK, then plain text instead of a handshake", 2,
         [](ScriptedServer& s) {
             s.SendLine("+OK ready").Expect("STLS").SendLine("+OK Begin TLS");
             s.Pause(200).SendLine("+OK logged in");
         },
         "TLS error: wrong version number"},
        {"STLS +OK, then closed in the handshake", 2,
         [](ScriptedServer& s) {
             s.SendLine("+OK ready").Expect("STLS").SendLine("+OK Begin TLS").Pause(200).Close();
         },
         closedInHandshake},
        {"a plain greeting on the TLS port", 1, [](ScriptedServer& s) { s.SendLine("+OK ready"); },
         "TLS error: wrong version number"},
        {"closed in the handshake", 1, [](ScriptedServer& s) { s.Pause(200).Close(); },
         closedInHandshake},
        {"silent in the handshake", 1, [](ScriptedServer& s) { s.Pause(2500).Close(); },
         "Error 10060 attempting connection", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        c.script(server);
        ASSERT_NO_FATAL_FAILURE(Run(server, c.security, c.timeout));
        EXPECT_EQ(view.labels, (std::vector<std::string>{"Connecting to mail server", c.error}));
        EXPECT_EQ(LogLines(), std::vector<std::string>{c.error});
        EXPECT_FALSE(session.ReachedReport());
        EXPECT_FALSE(LoginLeft(server));
    }
}

TEST_F(TlsScriptedScan, ARefusingGreetingEndsTheCheckBeforeStls) {
    ScriptedServer server;
    server.SendLine("-ERR busy, try later");
    ASSERT_NO_FATAL_FAILURE(Run(server, 2));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"< -ERR busy, try later",
                                                    "Error 10004 attempting connection"}));
    EXPECT_TRUE(server.Received().empty());
}

TEST_F(TlsScriptedScan, ALineInjectedWithTheStlsAnswerIsNotTakenAsAReply) {
    ASSERT_NO_FATAL_FAILURE(MakeCerts());
    ScriptedServer server;
    server.SendLine("+OK ready <1.2@test>").Expect("STLS");
    // Sent before the handshake; were it taken as USER's answer, PASS would follow.
    server.Send("+OK Begin TLS\r\n+OK welcome bob\r\n").StartTls(Cert(), Key());
    server.Expect("USER bob").SendLine("-ERR no such user");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(server, 2));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"STLS", "USER bob", "QUIT"}));
    // Not even shown as a stray line: it never reached the client.
    const std::vector<std::string> log = LogLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "< +OK welcome bob"), 0);
    EXPECT_TRUE(view.Shown("Error 500 sending username"));
    EXPECT_TRUE(session.ReachedReport());
}

TEST_F(TlsScriptedScan, ACloseAlertOrABareCloseEndsTheSessionLikeAPlainClose) {
    ASSERT_NO_FATAL_FAILURE(MakeCerts());
    for (bool alertOnly : {true, false}) {
        SCOPED_TRACE(alertOnly ? "close alert, connection left open" : "close alert and close");
        ScriptedServer server;
        server.StartTls(Cert(), Key()).SendLine("+OK ready");
        testsupport::Pop3Login(server, "bob", kPassword);
        server.Expect("STAT").SendLine("+OK 1 100").Expect("TOP 1 0").SendLine("+OK");
        if (alertOnly)
            server.SendCloseAlert();
        else
            server.Close();
        ASSERT_NO_FATAL_FAILURE(Run(server, 1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
        EXPECT_TRUE(view.Shown("Error 10004 retrieving msg 1"));
        EXPECT_EQ(view.statusBar, "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
        EXPECT_TRUE(session.ReachedReport());
    }
}

TEST_F(TlsScriptedScan, AReplyOverManyTlsRecordsArrivesWhole) {
    ASSERT_NO_FATAL_FAILURE(MakeCerts());
    config.SpammerList = {"relay2999.example"}; // in the last of 3,000 header lines
    std::string top = "+OK\r\n";
    for (int i = 0; i < 3000; ++i)
        top += "Received: from relay" + std::to_string(i) + ".example by mx.example\r\n";
    top += "From: someone@example.org\r\nTo: me@home.example\r\n\r\n.\r\n";
    ScriptedServer server;
    server.StartTls(Cert(), Key()).SendLine("+OK ready");
    testsupport::Pop3Login(server, "bob", kPassword);
    server.Expect("STAT").SendLine("+OK 1 " + std::to_string(top.size()));
    server.Expect("TOP 1 0").Send(top).Expect("DELE 1").SendLine("+OK");
    testsupport::Pop3Quit(server);
    ASSERT_NO_FATAL_FAILURE(Run(server, 1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    EXPECT_EQ(view.statusBar, "Last Results - 1 Checked, 0 OK'd, 1 Eaten");
}

} // namespace
