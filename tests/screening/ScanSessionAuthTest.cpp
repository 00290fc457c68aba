// The scan's login by the setting Auth (APOP, AUTH) against scripted servers and a real
// Dovecot: what it sends, what it shows when the server refuses, and a log that keeps no
// credentials.

#include "ScanTestSupport.h"
#include "secrets/TokenStore.h"
#include "servers/DovecotServer.h"
#include "signin/AccessToken.h"
#include "support/OAuth2TestServer.h"
#include "support/ScriptedServer.h"

#include <QObject>
#include <algorithm>
#include <optional>

using scantest::ScanFixture;
using testsupport::ScriptedServer;

namespace {

const std::string kFailed = "-ERR [AUTH] Authentication failed.";

struct AuthCase {
    const char* name;
    std::string auth, password, greeting;
    std::string command, reply; // the login; none when the client refuses to send one
    std::string error;          // shown and logged; empty: logged in
    std::string failure;        // what ended the check
};

const AuthCase kCases[] = {
    {"plain_refused", "plain", "Sesame-42", "+OK ready", "AUTH PLAIN AGJvYgBTZXNhbWUtNDI=", kFailed,
     "Error 500 during authentication", "login failed: " + kFailed},
    {"apop", "apop", "tanstaaf", "+OK ready <1896.697170952@dbc.mtview.ca.us>",
     "APOP bob C4C9334BAC560ECC979E58001B3E22FB", "+OK maildrop ready", "", ""},
    {"apop_without_timestamp", "apop", "tanstaaf", "+OK ready", "", "",
     "-ERR Server do not support APOP (no timestamp)",
     "-ERR Server do not support APOP (no timestamp)"},
};

struct ScanAuth : ScanFixture, ::testing::WithParamInterface<AuthCase> {};

TEST_P(ScanAuth, LogsInAsTheSettingSays) {
    const AuthCase& c = GetParam();
    ScriptedServer server;
    testsupport::Pop3Greeting(server, c.greeting);
    if (!c.command.empty()) server.Expect(c.command).SendLine(c.reply);
    if (c.error.empty()) testsupport::Pop3Stat(server, 0);
    testsupport::Pop3Quit(server);
    server.Start();
    config.LogLevel = true;
    config.Auth = c.auth;
    UseServer("127.0.0.1:" + server.PortText(), "bob", c.password);
    ASSERT_NO_FATAL_FAILURE(Scan(false));
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});

    const std::vector<std::string> log = LogLines();
    const auto logged = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) != log.end();
    };
    // The log shows the login's command, with the credentials masked.
    const std::string trace = c.auth == "plain"   ? "> AUTH PLAIN ****"
                              : c.command.empty() ? ""
                                                  : "> " + c.command;
    if (!trace.empty()) {
        EXPECT_TRUE(logged(trace)) << trace;
    }
    for (const std::string& line : log) {
        EXPECT_EQ(line.find(c.password), std::string::npos) << line;
        EXPECT_EQ(line.find("AGJvYgBTZXNhbWUtNDI="), std::string::npos) << line;
    }
    if (c.error.empty()) {
        EXPECT_TRUE(view.Shown("Authenticated...login complete"));
        EXPECT_EQ(view.statusBar, "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
        EXPECT_EQ(view.failure, "");
    } else {
        EXPECT_TRUE(view.Shown(c.error));
        EXPECT_TRUE(logged(c.error));
        EXPECT_EQ(view.failure, c.failure);
    }
}

INSTANTIATE_TEST_SUITE_P(Logins, ScanAuth, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

using testservers::DovecotEnvironment;
using testservers::DovecotServer;

// A whole check with Auth=xoauth2 against a real Dovecot: an issued token eats the spam, an
// unknown one is refused with the status Dovecot names, and is no longer kept for the next
// check.
struct DovecotOAuthScan : ScanFixture {
    // The access token the next check would reuse; empty when it would refresh (this account
    // names no client, so a refresh would fail).
    std::string KeptToken() {
        QObject context;
        std::optional<secrets::TSecret> got;
        signin::GetAccessToken(config, &context, [&](const secrets::TSecret& r) { got = r; });
        EXPECT_TRUE(testsupport::WaitUntil([&] { return got.has_value(); }));
        return got && got->ok ? got->secret : "";
    }
    void Keep(const std::string& token) {
        signin::RememberAccessToken(secrets::RefreshTokenKey(config.Login, config.Server), token,
                                    3600);
    }
};

TEST_F(DovecotOAuthScan, ChecksWithAnAccessTokenAndShowsARefusedOne) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    DovecotServer* server = DovecotEnvironment::OAuth2Server();
    ASSERT_NE(server, nullptr) << DovecotEnvironment::OAuth2StartError();
    testsupport::OAuth2TestServer& authority = *DovecotEnvironment::OAuth2Authority();
    const std::string user = "oauthscan";
    server->AddUser(user, "unused");
    server->AddMessage(user,
                       "From: anna@friends.example\nTo: me@home.example\nSubject: one\n\nHi\n");
    server->AddMessage(user, "From: sales@cheap-pills.example\nSubject: two\n\nBuy\n");
    authority.SetUser(user);
    const std::string token = authority.IssueAccessToken();
    config.SpammerList = {"cheap-pills.example"};
    config.LogLevel = true;
    config.Auth = "xoauth2";
    const std::string address = server->Host() + ":" + server->PortText();

    UseServer(address, user, "at-unknown");
    Keep("at-unknown");
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(KeptToken(), "");
    const std::string refused =
        "Error 500 during authentication: -ERR [AUTH] Authentication failed. (401)";
    EXPECT_TRUE(view.Shown(refused));
    EXPECT_EQ(view.failure, "login failed: -ERR [AUTH] Authentication failed.");
    EXPECT_EQ(server->Messages(user).size(), 2u);

    UseServer(address, user, token);
    Keep(token);
    ASSERT_NO_FATAL_FAILURE(Scan(true));
    EXPECT_EQ(KeptToken(), token);
    EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
    EXPECT_EQ(view.failure, "");
    ASSERT_EQ(server->Messages(user).size(), 1u);
    EXPECT_NE(server->Messages(user)[0].find("Subject: one"), std::string::npos);
    const std::vector<std::string> log = LogLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "> AUTH XOAUTH2 ****"), log.end());
    for (const std::string& line : log)
        EXPECT_EQ(line.find(token), std::string::npos) << line;
}

} // namespace
