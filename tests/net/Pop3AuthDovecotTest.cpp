// The client's AUTH against a real Dovecot whose OAuth2 logins ask the tests' own
// authorization server about each token.

#include "Pop3Test.h"

#include "servers/DovecotServer.h"
#include "support/OAuth2TestServer.h"

#include <gtest/gtest.h>

namespace {

using pop3test::Recorder;
using testservers::DovecotEnvironment;
using testservers::DovecotServer;

TEST(Pop3AuthDovecot, LogsInByEachMechanismAndSaysWhyATokenIsRefused) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (Debian packages dovecot-core, dovecot-pop3d)";
    DovecotServer* dovecot = DovecotEnvironment::OAuth2Server();
    ASSERT_NE(dovecot, nullptr) << DovecotEnvironment::OAuth2StartError();
    testsupport::OAuth2TestServer& authority = *DovecotEnvironment::OAuth2Authority();
    const std::string user = "saslclient";
    dovecot->AddUser(user, "secret");
    dovecot->AddMessage(user, "From: a@example.test\nSubject: one\n\nHello.\n");
    authority.SetUser(user);
    const std::string token = authority.IssueAccessToken();
    const std::string failed = "-ERR [AUTH] Authentication failed.";

    struct Row {
        std::string mechanism, secret;
        std::uint16_t error;
        std::string status;
    } rows[] = {
        {"PLAIN", "secret", 0, ""},
        {"XOAUTH2", token, 0, ""},
        {"OAUTHBEARER", token, 0, ""},
        {"PLAIN", "wrong", 500, ""},
        {"XOAUTH2", "at-unknown", 500, "401"},
        {"OAUTHBEARER", "at-unknown", 500, "invalid_token"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mechanism + " " + r.secret);
        TPop3Cli cli;
        Recorder rec{cli};
        cli.SetHost(dovecot->Host());
        cli.SetPort(dovecot->PortText());
        cli.SetUserName(user);
        cli.SetPassWord(r.secret);
        cli.SetAuthMechanism(r.mechanism);
        cli.Connect();
        ASSERT_TRUE(rec.WaitDone(1));
        ASSERT_EQ(rec.Last().error, 0) << cli.LastResponse();
        cli.Auth();
        ASSERT_TRUE(rec.WaitDone(2));
        EXPECT_EQ(rec.Last().error, r.error) << cli.LastResponse();
        EXPECT_EQ(cli.AuthStatus(), r.status);
        if (r.error == 0) {
            cli.Stat();
            ASSERT_TRUE(rec.WaitDone(3));
            EXPECT_EQ(rec.Last().error, 0);
            EXPECT_EQ(cli.MsgCount(), 1);
        } else {
            EXPECT_EQ(cli.LastResponse(), failed);
            EXPECT_EQ(cli.ErrorMessage(),
                      r.status.empty() ? failed : failed + " (" + r.status + ")");
        }
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(rec.done.size() + 1));
    }
    EXPECT_NE(dovecot->LogText().find("method=XOAUTH2"), std::string::npos);
    EXPECT_NE(dovecot->LogText().find("method=OAUTHBEARER"), std::string::npos);
}

} // namespace
