// morvandle-check run as users run it: a copy of the binary in a program folder of its own,
// the settings file under XDG_CONFIG_HOME.

#include "config/dataConfig.h"
#include "platform/FileLock.h"
#include "servers/DovecotServer.h"
#include "servers/VsftpdServer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);
const auto* const ftpEnvironment =
    ::testing::AddGlobalTestEnvironment(new testservers::VsftpdEnvironment);

struct Result {
    int exitCode = -1;
    std::vector<std::string> out;
    std::string err;
};

struct CheckCommand : ::testing::Test {
    testsupport::TempDir programDir, configDir;

    void SetUp() override {
        std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    }

    void Settings(const std::string& server, const std::string& login, const std::string& password,
                  const std::string& extra = "") {
        WriteFile(configDir.File("Morvandle.ini"),
                  "[Config]\r\nServer=" + server + "\r\nLogin=" + login +
                      "\r\nPassword=" + ScramblePassword(password) + "\r\n" + extra);
    }

    Result Run(const QStringList& args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        env.insert("LC_ALL", "C"); // time stamps with English month names and ":", on any machine
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(programDir.File("morvandle-check")), args);
        Result r;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "morvandle-check did not finish";
            return r;
        }
        r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        for (const auto& line : QString::fromUtf8(process.readAllStandardOutput()).split('\n'))
            if (!line.isEmpty()) r.out.push_back(line.toStdString());
        r.err = process.readAllStandardError().toStdString();
        return r;
    }

    std::string Log() const { return ReadFile(programDir.File("spammers.log")); }
};

} // namespace

TEST_F(CheckCommand, OptionsAndUsageErrors) {
    Result help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    ASSERT_FALSE(help.out.empty());
    EXPECT_EQ(help.out[0], "Usage: morvandle-check [--eat | --update[=FILE]] [--wait[=SECONDS]]");

    Result version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::vector<std::string>{"morvandle-check 2.2.0.1"});

    for (const QStringList& bad :
         {QStringList{"--bogus"}, QStringList{"--eat", "--eat"}, QStringList{"eat"},
          QStringList{"--update="}, QStringList{"--wait=x"}, QStringList{"--wait", "--wait=1"},
          QStringList{"--help", "--wait"}, QStringList{"--account"},
          QStringList{"--all", "--account=x"}, QStringList{"--update", "--all"},
          QStringList{"--list-accounts", "--all"}, QStringList{"--sign-in", "--wait"},
          QStringList{"--sign-in", "--all"}}) {
        Result r = Run(bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(programDir.File("spammers.log")));
}

// The merge without a window: the summary last, the user's file kept, exit 1 when the file
// cannot be had.
TEST_F(CheckCommand, UpdateFromAFileMergesAndKeepsTheFile) {
    Settings("127.0.0.1:1", "nobody", "pw");
    WriteFile(programDir.File("spammers.txt"), "spam\r\n");
    const std::string file = configDir.File("upd.txt");
    WriteFile(file, "xSPAMx\nfresh\n");
    for (const char* summary : {"Update Summary: 1 Duplicates; 1 Additions",
                                "Update Summary: 2 Duplicates; 0 Additions"}) {
        Result r = Run({QString::fromStdString("--update=" + file)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        ASSERT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.back(), summary);
        EXPECT_EQ(ReadFile(programDir.File("spammers.txt")), "spam\r\nfresh\r\n");
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    EXPECT_NE(Log().find("New Addition: fresh\r\n"), std::string::npos);

    Result missing = Run({QString::fromStdString("--update=" + file + ".gone")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("Unable to locate update file: " + file + ".gone"),
              std::string::npos);
}

// From the update server: a complete download is merged; no server or no file is exit 1 and
// leaves the list alone.
TEST_F(CheckCommand, UpdateFromTheServerMergesOnlyWhatArrived) {
    if (!testservers::VsftpdServer::Available()) GTEST_SKIP() << "vsftpd is not installed";
    testservers::VsftpdServer* ftp = testservers::VsftpdEnvironment::Server();
    ASSERT_NE(ftp, nullptr) << testservers::VsftpdEnvironment::StartError();
    WriteFile(programDir.File("spammers.txt"), "spam\r\n");
    const std::string offered = ftp->Root() + "/pub/apps/spamupd.txt";
    struct Case {
        const char* name;
        std::string server;
        bool offer;
        int exitCode;
        std::string spammers, message;
    } const cases[] = {
        {"nothing listens", "127.0.0.1:1", true, 1, "spam\r\n",
         "Unable to connect to the update server: 127.0.0.1"},
        {"no file", "127.0.0.1:" + ftp->PortText(), false, 1, "spam\r\n",
         "Unable to retrieve update file size: 127.0.0.1"},
        {"merged", "127.0.0.1:" + ftp->PortText(), true, 0, "spam\r\nfresh\r\n",
         "Update Summary: 1 Duplicates; 1 Additions"},
    };
    for (const Case& c : cases) {
        Settings("127.0.0.1:1", "nobody", "pw", "UpdateServer=" + c.server + "\r\n");
        if (c.offer)
            WriteFile(offered, "xSPAMx\r\nfresh\r\n");
        else
            std::filesystem::remove(offered);
        Result r = Run({"--update"});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << r.err;
        EXPECT_EQ(ReadFile(programDir.File("spammers.txt")), c.spammers) << c.name;
        const std::string said = c.exitCode == 0 ? (r.out.empty() ? "" : r.out.back()) : r.err;
        EXPECT_NE(said.find(c.message), std::string::npos) << c.name << ": " << said;
    }
}

// One check or update per program folder: a second one does nothing and says who holds the
// lock, unless it may wait; a holder that was killed holds nothing.
TEST_F(CheckCommand, SecondCheckInTheFolderDoesNothing) {
    Settings("127.0.0.1:1", "nobody", "pw");
    const std::string update = configDir.File("upd.txt");
    WriteFile(update, "fresh\n");
    const std::string lockPath = programDir.File("morvandle.lock");
    const std::string busy =
        "Another check is running (pid " + std::to_string(::getpid()) + "); nothing done";
    enum Holder { Held, HeldThenLetGo, Killed };
    struct Case {
        const char* name;
        Holder holder;
        QStringList args;
        int exitCode;
        bool busy;
    } cases[] = {
        {"check and eat", Held, {"--eat"}, 3, true},
        {"update", Held, {"--update=" + QString::fromStdString(update)}, 3, true},
        {"wait with a limit", Held, {"--wait=1"}, 3, true},
        {"wait", HeldThenLetGo, {"--wait", "--update=" + QString::fromStdString(update)}, 0, false},
        {"killed holder", Killed, {"--update=" + QString::fromStdString(update)}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(programDir.File("spammers.log"));
        WriteFile(programDir.File("spammers.txt"), "");
        platform::FileLock lock(lockPath);
        std::thread letGo;
        QProcess holder;
        if (c.holder == Killed) {
            // A process that locks the file, records itself and stays until it is killed.
            holder.start("bash", {"-c", "exec 9>>\"$0\"; flock 9; echo $$ >\"$0\"; exec sleep 60",
                                  QString::fromStdString(lockPath)});
            ASSERT_TRUE(holder.waitForStarted());
            const std::string pid = std::to_string(holder.processId()) + "\n";
            ASSERT_TRUE(testsupport::WaitUntil([&] { return ReadFile(lockPath) == pid; }, 10000));
            holder.kill();
            holder.waitForFinished();
        } else {
            ASSERT_TRUE(lock.TryLock());
            ASSERT_EQ(::ftruncate(lock.Descriptor(), 0), 0);
            const std::string pid = std::to_string(::getpid()) + "\n";
            ASSERT_EQ(::pwrite(lock.Descriptor(), pid.data(), pid.size(), 0), ssize_t(pid.size()));
        }
        if (c.holder == HeldThenLetGo)
            letGo = std::thread([&lock] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                lock.Unlock();
            });
        Result r = Run(c.args);
        if (letGo.joinable()) letGo.join();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.err.find(busy) != std::string::npos, c.busy) << r.err;
        EXPECT_EQ(std::filesystem::exists(programDir.File("spammers.log")), !c.busy);
        EXPECT_EQ(ReadFile(programDir.File("spammers.txt")), c.busy ? "" : "fresh\r\n");
    }
}

TEST_F(CheckCommand, UnreachableServerExitsWithOne) {
    Settings("127.0.0.1:1", "nobody", "pw");
    const std::string full(524288, 'x'); // the log's maximum: it rolls over before the next line
    WriteFile(programDir.File("spammers.log"), full);
    WriteFile(programDir.File("spammers.log.1"), "older");
    Result r = Run({});
    EXPECT_EQ(ReadFile(programDir.File("spammers.log.1")), full);
    EXPECT_EQ(Log().find("xxxxxxxx"), std::string::npos) << Log(); // the rolled-over lines
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), "Last Results - unable to locate server");
    EXPECT_EQ(r.out.front(), "Connecting to mail server");
    EXPECT_EQ(Log().find("Stats: "), std::string::npos);
}

TEST_F(CheckCommand, ConnectionThatCannotBeSecuredExitsWithOneAndSaysWhy) {
    testsupport::ScriptedServer server; // a plain server where TLS is expected
    server.SendLine("+OK ready");
    server.Start();
    Settings("127.0.0.1:" + server.PortText(), "nobody", "pw", "Security=1\r\n");
    Result r = Run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, (std::vector<std::string>{"Connecting to mail server",
                                               "TLS error: wrong version number",
                                               "Last Results - unable to locate server"}));
    EXPECT_NE(Log().find("TLS error: wrong version number\r\n"), std::string::npos);
    EXPECT_TRUE(server.Received().empty());
}

TEST_F(CheckCommand, NoServerSaysWhereToSetOneAndExitsWithOne) {
    for (const char* settings : {"", "[Config]\r\nServer=\r\nLogin=me\r\n"}) {
        SCOPED_TRACE(settings);
        if (*settings) WriteFile(configDir.File("Morvandle.ini"), settings);
        Result r = Run({});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, std::vector<std::string>{});
        EXPECT_EQ(r.err, "No server is set: run the desktop program's Preferences, or set Server "
                         "in " +
                             configDir.File("Morvandle.ini") + "\n");
    }
}

TEST_F(CheckCommand, SettingsThatCannotBeReadExitWithOneBeforeAnyScan) {
    Settings("127.0.0.1:1", "nobody", "pw");
    // The list file exists and opens, and its first read fails.
    std::filesystem::create_symlink("/proc/self/mem", programDir.File("spammers.txt"));
    Result r = Run({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, std::vector<std::string>{}) << "a scan was started";
    EXPECT_NE(r.err.find("I/O error 5"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(programDir.File("spammers.log")));
}

struct CheckCommandOnDovecot : CheckCommand {
    DovecotServer* server = nullptr;
    std::string user;

    void SetUp() override {
        CheckCommand::SetUp();
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
        user =
            QString::fromStdString(::testing::UnitTest::GetInstance()->current_test_info()->name())
                .toLower()
                .toStdString();
        server->AddUser(user, "pw");
        server->AddMessage(user, "From: sales@cheap-pills.example\nTo: me@home.example\n"
                                 "Subject: buy\n\nbody\n");
        server->AddMessage(user, "From: anna@friends.example\nTo: me@home.example\n"
                                 "Subject: hello\n\nbody\n");
        WriteFile(programDir.File("spammers.txt"), "cheap-pills.example\r\n");
        WriteFile(programDir.File("GoodAddr.txt"), "me@home.example\r\n");
    }
    std::string Server() const { return server->Host() + ":" + server->PortText(); }
};

TEST_F(CheckCommandOnDovecot, CheckOnlyThenCheckAndEat) {
    Settings(Server(), user, "pw", "Unknown=1\r\n");
    Result check = Run({});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    ASSERT_FALSE(check.out.empty());
    EXPECT_EQ(check.out.back(), "Last Results - 2 Checked, 1 OK'd, 0 Eaten");
    EXPECT_NE(std::find(check.out.begin(), check.out.end(), "Spammer Found"), check.out.end());
    EXPECT_EQ(server->Messages(user).size(), 2u);

    Result eat = Run({"--eat"});
    EXPECT_EQ(eat.exitCode, 0) << eat.err;
    ASSERT_GE(eat.out.size(), 2u);
    EXPECT_EQ(eat.out.back(), "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
    EXPECT_EQ(eat.out[eat.out.size() - 2], "Scanning Completed - Mailbox Cleaned");
    EXPECT_EQ(server->Messages(user).size(), 1u);

    // Only the scan's lines, each behind the main window's time stamp; each run ends with
    // the log's empty separator line.
    const QString log = QString::fromStdString(Log());
    const QStringList lines = log.split("\r\n");
    QRegularExpression stamped(R"(^\d\d \S+ \d{4} \d\d:\d\d:\d\d (.*)$)");
    QStringList texts;
    for (const QString& line : lines) {
        if (line.isEmpty()) {
            texts << "";
            continue;
        }
        auto m = stamped.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        texts << m.captured(1);
    }
    EXPECT_EQ(
        texts,
        (QStringList{
            // The settings file, made by hand with a password, is made private first.
            QString::fromStdString(configDir.File("Morvandle.ini")) +
                " holds a password and was readable by others: made it private (mode 0600)",
            "Connection to mail server established", "Header cache not found - starting a new one",
            "Valid Address: me@home.example", "Spammer Match: cheap-pills.example",
            "Valid Address: me@home.example", "Headers from cache: 0 of 2 checked",
            "Stats: 2 Checked, 1 OK'd, 0 Eaten", "", "Connection to mail server established",
            "Valid Address: me@home.example", "Spammer Match: cheap-pills.example",
            "Kept in quarantine: sales@cheap-pills.example - buy", "Valid Address: me@home.example",
            "Headers from cache: 2 of 2 checked", "Stats: 2 Checked, 1 OK'd, 1 Eaten", "", ""}));
    // The deleted message, kept beside the program.
    const std::string kept = ReadFile(programDir.File("quarantine.mbox"));
    EXPECT_EQ(kept.substr(0, 31), "From sales@cheap-pills.example ");
    EXPECT_NE(kept.find("\nSubject: buy\n\nbody\n\n"), std::string::npos) << kept;
}

TEST_F(CheckCommandOnDovecot, ErrorOnTheWayExitsWithThree) {
    Settings(Server(), user, "wrong");
    Result r = Run({"--eat"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(std::find(r.out.begin(), r.out.end(), "Error 500 during authentication"),
              r.out.end());
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), "Last Results - 0 Checked, 0 OK'd, 0 Eaten");
}

// SIGINT and SIGTERM abandon the check without QUIT, so the server deletes nothing.
TEST_F(CheckCommand, SignalStopsTheCheckWithoutQuitAndExitsWithThree) {
    for (const int signal : {SIGINT, SIGTERM}) {
        testsupport::ScriptedServer server;
        testsupport::Pop3Greeting(server);
        testsupport::Pop3Login(server, "bob", "pw");
        server.Expect("STAT"); // and no answer
        server.Start();
        Settings("127.0.0.1:" + server.PortText(), "bob", "pw");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(programDir.File("morvandle-check")), {"--eat"});
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] {
                const std::vector<std::string> got = server.Received();
                return !got.empty() && got.back() == "STAT";
            },
            10000))
            << signal;
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000)) << signal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(process.exitCode(), 3) << signal;
        const QStringList out = QString::fromUtf8(process.readAllStandardOutput()).split('\n');
        EXPECT_TRUE(out.contains("Check stopped - nothing deleted")) << signal;
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }, 10000)) << signal;
        const std::vector<std::string> got = server.Received();
        EXPECT_EQ(std::find(got.begin(), got.end(), "QUIT"), got.end()) << signal;
    }
}
