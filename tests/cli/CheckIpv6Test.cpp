// morvandle-check against servers that listen on ::1 only, named in the settings by an IPv6
// address in brackets with a port.

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

TEST(CheckIpv6, CheckAndUpdateReachServersOnIpv6Only) {
    if (!DovecotServer::Available() || !VsftpdServer::Available())
        GTEST_SKIP() << "dovecot or vsftpd is not installed (scripts/setup installs them)";
    DovecotServer* pop3 = DovecotEnvironment::Ipv6Server();
    ASSERT_NE(pop3, nullptr) << DovecotEnvironment::Ipv6StartError();
    VsftpdServer* ftp = VsftpdEnvironment::Ipv6Server();
    ASSERT_NE(ftp, nullptr) << VsftpdEnvironment::StartError();
    pop3->AddUser("ipv6check", "pw");
    pop3->AddMessage("ipv6check", "From: sales@cheap-pills.example\nSubject: buy\n\nbody\n");
    WriteFile(ftp->Root() + "/pub/apps/spamupd.txt", "fresh.example\r\n");

    struct Case {
        const char* name;
        QStringList args;
        std::string last;
    } const cases[] = {
        {"check", {}, "Last Results - 1 Checked, 0 OK'd, 0 Eaten"},
        {"update", {"--update"}, "Update Summary: 0 Duplicates; 1 Additions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir programDir, configDir;
        std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
        WriteFile(programDir.File("spammers.txt"), "cheap-pills.example\r\n");
        WriteFile(configDir.File("Morvandle.ini"),
                  "[Config]\r\nServer=[::1]:" + pop3->PortText() +
                      "\r\nLogin=ipv6check\r\nPassword=" + ScramblePassword("pw") +
                      "\r\nUpdateServer=[::1]:" + ftp->PortText() + "\r\n");
        const auto [exitCode, last] = RunCheck(programDir, configDir, c.args);
        EXPECT_EQ(exitCode, 0) << last;
        EXPECT_EQ(last, c.last);
    }
}

} // namespace
