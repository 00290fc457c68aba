// morvandle-check with several accounts, on two users of the real Dovecot.

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct AccountRun {
    const char* name;
    QStringList args;
    int exitCode;
    std::size_t homeLeft, workLeft;    // messages left in each mailbox
    std::vector<std::string> expected; // lines standard output must hold
};

TEST(AccountsCommand, AccountAllAndAFailingAccountOnTwoMailboxes) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    DovecotServer* server = DovecotEnvironment::Server();
    ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    testsupport::TempDir programDir, configDir;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    const std::string home = "accountshome", work = "accountswork";
    for (const std::string& user : {home, work}) {
        server->AddUser(user, "pw");
        server->AddMessage(user, "From: sales@cheap-pills.example\nSubject: buy\n\nbody\n");
        server->AddMessage(user, "From: anna@friends.example\nSubject: hello\n\nbody\n");
    }
    WriteFile(programDir.File("spammers.txt"), "cheap-pills.example\r\n");
    const std::string address = server->Host() + ":" + server->PortText();
    const auto account = [&](const std::string& login, const std::string& password) {
        return "Server=" + address + "\r\nLogin=" + login +
               "\r\nPassword=" + ScramblePassword(password) + "\r\n";
    };
    // Off points at a closed port: --all must leave it out.
    WriteFile(configDir.File("Morvandle.ini"),
              "[Config]\r\n" + account(home, "pw") + "[Account Work]\r\n" + account(work, "pw") +
                  "[Account Off]\r\nServer=127.0.0.1:1\r\nEnabled=0\r\n");

    const AccountRun runs[] = {
        {"list",
         {"--list-accounts"},
         0,
         2,
         2,
         {"Main\t" + home + "@" + address, "Work\t" + work + "@" + address,
          "Off\tundefined@127.0.0.1:1\tdisabled"}},
        {"one account",
         {"--eat", "--account", "work"},
         0,
         2,
         1,
         {"Work: Last Results - 2 Checked, 1 OK'd, 1 Eaten"}},
        {"unknown account", {"--account=Nope"}, 1, 2, 1, {}},
        // Work's header cache outlives Main's check: its one message comes from the cache.
        {"all enabled",
         {"--eat", "--all"},
         0,
         1,
         1,
         {"Main: Last Results - 2 Checked, 1 OK'd, 1 Eaten",
          "Work: Last Results - 1 Checked, 1 OK'd, 0 Eaten"}},
        {"a disabled account named", {"--account", "Off"}, 1, 1, 1, {}},
    };
    const auto check = [&](const QStringList& args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(programDir.File("morvandle-check")), args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return std::make_pair(process.exitCode(),
                              QString::fromUtf8(process.readAllStandardOutput()).split('\n'));
    };
    for (const AccountRun& run : runs) {
        const auto [exitCode, out] = check(run.args);
        EXPECT_EQ(exitCode, run.exitCode) << run.name << "\n" << out.join('\n').toStdString();
        for (const std::string& line : run.expected)
            EXPECT_TRUE(out.contains(QString::fromStdString(line)))
                << run.name << ": " << line << "\n"
                << out.join('\n').toStdString();
        EXPECT_EQ(server->Messages(home).size(), run.homeLeft) << run.name;
        EXPECT_EQ(server->Messages(work).size(), run.workLeft) << run.name;
    }
    EXPECT_NE(ReadFile(programDir.File("quarantine.mbox")).find("Subject: buy"), std::string::npos);
    EXPECT_NE(ReadFile(programDir.File("quarantine-Work.mbox")).find("Subject: buy"),
              std::string::npos);
    const std::string log = ReadFile(programDir.File("spammers.log"));
    EXPECT_NE(log.find("Work: Headers from cache: 1 of 1 checked"), std::string::npos) << log;

    // One failing account (a wrong password) does not stop the other; the worst status wins.
    WriteFile(configDir.File("Morvandle.ini"),
              "[Config]\r\n" + account(home, "wrong") + "[Account Work]\r\n" + account(work, "pw"));
    server->AddMessage(work, "From: sales@cheap-pills.example\nSubject: again\n\nbody\n");
    const auto [exitCode, out] = check({"--all", "--eat"});
    EXPECT_EQ(exitCode, 3);
    EXPECT_TRUE(out.contains("Main: Error 500 during authentication"))
        << out.join('\n').toStdString();
    EXPECT_TRUE(out.contains("Work: Last Results - 2 Checked, 1 OK'd, 1 Eaten"));
    EXPECT_EQ(server->Messages(work).size(), 1u);
}

} // namespace
