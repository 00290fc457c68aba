// morvandle-check on a real Dovecot with the password from each place it can be kept, and
// with keyrings that cannot give it.

#include "config/dataConfig.h"
#include "secrets/SecretStore.h"
#include "servers/DovecotServer.h"
#include "support/TempDir.h"

#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);

enum class Bus { Keyring, None, HungKeyring };

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

struct PasswordSources : ::testing::Test {
    testsupport::TempDir programDir, configDir;
    DovecotServer* server = nullptr;

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "run through run-with-keyring (ctest does)";
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
        std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    }
    std::string Ini() const { return configDir.File("Morvandle.ini"); }

    Outcome Check(const QStringList& args, Bus bus, const QByteArray& input = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        env.insert("LC_ALL", "C");
        QString program = QString::fromStdString(programDir.File("morvandle-check"));
        QStringList arguments = args;
        if (bus == Bus::None) {
            env.remove("DBUS_SESSION_BUS_ADDRESS");
            env.remove("DISPLAY");
        }
        if (bus == Bus::HungKeyring) {
            arguments = QStringList{"--hung", program} + args;
            program = MORVANDLE_KEYRING_SCRIPT;
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        process.write(input);
        process.closeWriteChannel();
        Outcome r;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "morvandle-check did not finish";
            return r;
        }
        r.exitCode = process.exitCode();
        r.out = process.readAllStandardOutput().toStdString();
        r.err = process.readAllStandardError().toStdString();
        return r;
    }
};

} // namespace

// The check logs in with the password from wherever it is kept, and does not start when
// it cannot have it.
TEST_F(PasswordSources, CheckLogsInWithThePasswordFromEachSource) {
    const std::string result = "Last Results - 1 Checked, 1 OK'd, 0 Eaten";
    struct Case {
        const char* user;
        std::string extra;   // more settings lines
        const char* stored;  // given to --set-password first, when set
        Bus bus;             // of --set-password and of the check
        std::string notice;  // what --set-password prints
        bool keyInFile;      // the settings file keeps a Password key
        std::string outcome; // the check's result line, or the start of its error
    } const cases[] = {
        {"inkeyring", "", "pw\n", Bus::Keyring, "", false, result},
        {"nokeyring", "", "pw\n", Bus::None, secrets::kNoKeyringNotice, true, result},
        {"handmade", "Password=" + ScramblePassword("pw") + "\n", nullptr, Bus::None, "", true,
         result},
        {"bycommand", "PasswordCommand=printf 'pw\\n'\n", "wrong\n", Bus::Keyring, "", false,
         result},
        {"badcommand", "PasswordCommand=echo gone >&2; exit 4\n", "pw\n", Bus::Keyring, "", false,
         "The password command failed with exit status 4: gone"},
        {"hung", "", "pw\n", Bus::HungKeyring, "", false,
         "Cannot read the password from the keyring: no answer within 5 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        server->AddUser(c.user, "pw");
        server->AddMessage(c.user, "From: anna@friends.example\nSubject: hi\n\nbody\n");
        WriteFile(Ini(), "[Config]\nServer=" + server->Host() + ":" + server->PortText() +
                             "\nLogin=" + std::string(c.user) + "\n" + c.extra);
        ::chmod(Ini().c_str(), 0644); // as an editor leaves a file made by hand
        if (c.stored) {
            // A hung keyring cannot take it either: store it in the working one.
            const Outcome set =
                Check({"--set-password"}, c.bus == Bus::None ? Bus::None : Bus::Keyring, c.stored);
            EXPECT_EQ(set.exitCode, 0) << set.err;
            EXPECT_EQ(set.out, c.notice.empty() ? "" : c.notice + "\n");
        }
        EXPECT_EQ(ReadFile(Ini()).find("Password=") != std::string::npos, c.keyInFile);
        const Outcome check = Check({}, c.bus);
        const bool ok = c.outcome == result;
        EXPECT_EQ(check.exitCode, ok ? 0 : 1) << check.err;
        EXPECT_NE((ok ? check.out : check.err).find(c.outcome), std::string::npos)
            << check.out << check.err;
        EXPECT_NE(ReadFile(programDir.File("spammers.log")).find(ok ? "Stats:" : c.outcome),
                  std::string::npos);
        struct stat st {};
        ::stat(Ini().c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, c.keyInFile ? 0600u : 0644u) << "private once it holds one";
    }
    struct stat st {};
    ::stat(programDir.File("spammers.log").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
