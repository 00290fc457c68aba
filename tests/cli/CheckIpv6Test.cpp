// morvandle-check against servers on ::1, named in the settings by an IPv6 address in
// brackets with a port.

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "servers/VsftpdServer.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testservers::VsftpdEnvironment;
using testservers::VsftpdServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

[[maybe_unused]] const auto* const dovecotEnvironment =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);
[[maybe_unused]] const auto* const vsftpdEnvironment =
    ::testing::AddGlobalTestEnvironment(new VsftpdEnvironment);

// The last line morvandle-check printed, with its exit code.
std::pair<int, std::string> RunCheck(const testsupport::TempDir& programDir,
                                     const testsupport::TempDir& configDir,
                                     const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
    env.insert("LC_ALL", "C");
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(programDir.File("morvandle-check")), args);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {-1, "did not finish"};
    }
    const QStringList out =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return {process.exitCode(), out.isEmpty() ? process.readAllStandardError().toStdString()
                                              : out.back().toStdString()};
}

// Plain POP3, POP3S (its certificate checked against the address) and the update download.
TEST(CheckIpv6, CheckAndUpdateReachServersOnIpv6) {
    if (!DovecotServer::Available() || !VsftpdServer::Available())
        GTEST_SKIP() << "dovecot or vsftpd is not installed (scripts/setup installs them)";
    DovecotServer* plain = DovecotEnvironment::Ipv6Server();
    ASSERT_NE(plain, nullptr) << DovecotEnvironment::Ipv6StartError();
    DovecotServer* tls = DovecotEnvironment::TlsServer();
    ASSERT_NE(tls, nullptr) << DovecotEnvironment::TlsStartError();
    VsftpdServer* ftp = VsftpdEnvironment::Ipv6Server();
    ASSERT_NE(ftp, nullptr) << VsftpdEnvironment::StartError();
    for (DovecotServer* pop3 : {plain, tls}) {
        pop3->AddUser("ipv6check", "pw");
        pop3->AddMessage("ipv6check", "From: sales@cheap-pills.example\nSubject: buy\n\nbody\n");
    }
    WriteFile(ftp->Root() + "/pub/apps/spamupd.txt", "fresh.example\r\n");

    struct Case {
        std::string settings;
        QStringList args;
        std::string last;
    } const cases[] = {
        {"Server=[::1]:" + plain->PortText(), {}, "Last Results - 1 Checked, 0 OK'd, 0 Eaten"},
        {"Server=[::1]:" + tls->TlsPortText() + "\r\nSecurity=1\r\nCAFile=" + tls->CaFile(),
         {},
         "Last Results - 1 Checked, 0 OK'd, 0 Eaten"},
        {"UpdateServer=[::1]:" + ftp->PortText(),
         {"--update"},
         "Update Summary: 0 Duplicates; 1 Additions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        testsupport::TempDir programDir, configDir;
        std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
        WriteFile(programDir.File("spammers.txt"), "cheap-pills.example\r\n");
        WriteFile(configDir.File("Morvandle.ini"),
                  "[Config]\r\nLogin=ipv6check\r\nPassword=" + ScramblePassword("pw") + "\r\n" +
                      c.settings + "\r\n");
        const auto [exitCode, last] = RunCheck(programDir, configDir, c.args);
        EXPECT_EQ(exitCode, 0) << last;
        EXPECT_EQ(last, c.last);
    }
}

} // namespace
