// morvandle-check --sign-in, and checks with Auth=xoauth2 against the real Dovecot, which asks
// the tests' own authorization server about each token. No keyring: the refresh token goes to
// the settings file.

#include "servers/DovecotServer.h"
#include "support/OAuth2TestServer.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct SignInRun {
    const char* name;
    QStringList args;
    bool refuseRefresh, down;
    int exitCode;
    std::string outEnd, err; // how standard output ends, and all of standard error
};

TEST(SignInCommand, SignInThenChecksWithTheTokenOrWithout) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    DovecotServer* dovecot = DovecotEnvironment::OAuth2Server();
    ASSERT_NE(dovecot, nullptr) << DovecotEnvironment::OAuth2StartError();
    testsupport::OAuth2TestServer& server = *DovecotEnvironment::OAuth2Authority();
    const std::string user = "signincheck";
    dovecot->AddUser(user, "unused");
    dovecot->AddMessage(user, "From: anna@friends.example\nSubject: hello\n\nbody\n");
    server.SetUser(user);
    testsupport::TempDir programDir, configDir;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    WriteFile(configDir.File("Morvandle.ini"),
              "[Config]\r\nServer=" + dovecot->Host() + ":" + dovecot->PortText() +
                  "\r\nLogin=" + user + "\r\nAuth=xoauth2\r\nOAuth2ClientId=client\r\n" +
                  "OAuth2DeviceUrl=" + server.DeviceUrl() +
                  "\r\nOAuth2TokenUrl=" + server.TokenUrl() + "\r\n");
    const std::string checked = "Last Results - 1 Checked, 1 OK'd, 0 Eaten\n";
    const SignInRun runs[] = {
        {"sign in",
         {"--sign-in"},
         false,
         false,
         0,
         "To sign in, open " + server.BaseUrl() +
             "/device and enter the code WDJB-MJHT\nSigned in. No keyring is available: the "
             "refresh token is kept scrambled in Morvandle.ini\n",
         ""},
        {"check", {}, false, false, 0, checked, ""},
        // Only if the first check stored the rotated refresh token.
        {"check again", {}, false, false, 0, checked, ""},
        {"refused",
         {},
         true,
         false,
         1,
         "",
         "Sign-in expired: sign in again (Preferences > Sign in\u2026, or morvandle-check "
         "--sign-in)\n"},
        {"down",
         {},
         false,
         true,
         1,
         "",
         "OAuth2 request to " + server.TokenUrl() + " failed: Connection refused\n"},
    };
    for (const SignInRun& run : runs) {
        SCOPED_TRACE(run.name);
        server.RefuseRefresh(run.refuseRefresh);
        server.SetDown(run.down);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(programDir.File("morvandle-check")), run.args);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), run.exitCode);
        const std::string out = process.readAllStandardOutput().toStdString();
        EXPECT_TRUE(out.ends_with(run.outEnd)) << out;
        EXPECT_EQ(process.readAllStandardError().toStdString(), run.err);
        if (!run.err.empty()) { // in the log too, for cron jobs that drop the output
            const std::string line = run.err.substr(0, run.err.size() - 1);
            EXPECT_NE(ReadFile(programDir.File("spammers.log")).find(line), std::string::npos);
        }
        // Whatever went wrong, the refresh token stays where the sign-in put it.
        EXPECT_NE(ReadFile(configDir.File("Morvandle.ini")).find("OAuth2RefreshToken="),
                  std::string::npos);
    }
    server.RefuseRefresh(false);
    server.SetDown(false);
}

} // namespace
