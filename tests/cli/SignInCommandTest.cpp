// morvandle-check --sign-in, and a check's access token, against the tests' own
// authorization server; no keyring, so the refresh token goes to the settings file.

#include "config/dataConfig.h"
#include "support/OAuth2TestServer.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct SignInRun {
    const char* name;
    QStringList args;
    bool refuseRefresh, down;
    int exitCode;
    std::string out, err; // what standard output and standard error must hold
};

TEST(SignInCommand, SignInThenChecksThatCannotGetAToken) {
    testsupport::TempDir programDir, configDir;
    testsupport::OAuth2TestServer server;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    // The POP3 server is never reached: every check here ends at the token.
    WriteFile(configDir.File("Morvandle.ini"),
              "[Config]\r\nServer=127.0.0.1:1\r\nLogin=bob\r\nAuth=xoauth2\r\n"
              "OAuth2ClientId=client\r\nOAuth2DeviceUrl=" +
                  server.DeviceUrl() + "\r\nOAuth2TokenUrl=" + server.TokenUrl() + "\r\n");
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
        EXPECT_EQ(process.readAllStandardOutput().toStdString(), run.out);
        EXPECT_EQ(process.readAllStandardError().toStdString(), run.err);
        if (!run.err.empty()) { // in the log too, for cron jobs that drop the output
            const std::string line = run.err.substr(0, run.err.size() - 1);
            EXPECT_NE(ReadFile(programDir.File("spammers.log")).find(line), std::string::npos);
        }
        // The refresh token stays where the sign-in put it.
        EXPECT_NE(ReadFile(configDir.File("Morvandle.ini")).find("OAuth2RefreshToken="),
                  std::string::npos);
    }
    server.SetDown(false);
}

} // namespace
