// The secret store against the real keyring that run-with-keyring starts for this program.

#include "secrets/SecretStore.h"
#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "secrets/SettingsFileMode.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QObject>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

struct SecretStoreTest : ::testing::Test {
    testsupport::TempDir dir;
    QObject context;
    TConfigData config;

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "run through run-with-keyring (ctest does)";
        platform::SetSettingsFileOverride(Ini());
    }
    void TearDown() override { platform::SetSettingsFileOverride(""); }
    std::string Ini() const { return dir.File("Morvandle.ini"); }
    std::string FilePassword() const {
        return UnscramblePassword(
            platform::ProfileFile(Ini()).ReadString("Config", "Password", ""));
    }

    secrets::TSecret Read(const secrets::TSecretLimits& limits = {}) {
        std::optional<secrets::TSecret> result;
        secrets::ReadPassword(
            config, &context, [&](const secrets::TSecret& r) { result = r; }, limits);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return result.has_value(); }, 15000));
        return result.value_or(secrets::TSecret{false, {}, "no answer"});
    }
    secrets::TStored Store(const std::string& password) {
        config.Password = password;
        std::optional<secrets::TStored> result;
        secrets::StorePassword(config, &context, [&](const secrets::TStored& r) { result = r; });
        EXPECT_TRUE(testsupport::WaitUntil([&] { return result.has_value(); }, 15000));
        return result.value_or(secrets::TStored{false, {}, "no answer"});
    }
};

} // namespace

// One item per login and server; the settings file's Password only until the keyring has
// the password, and only as the fallback.
TEST_F(SecretStoreTest, KeyringHoldsOnePasswordPerAccount) {
    struct Step {
        const char* what;
        const char* login;
        const char* server;
        std::optional<std::string> store; // stored first, when set
        std::string iniPassword;          // what the settings file holds, scrambled
        std::string read;                 // what a check then logs in with
        bool keyInFile;                   // the settings file has a Password key after it
    } const steps[] = {
        {"an old file's scrambled password", "ann", "pop.example:110", {}, "old", "old", true},
        {"moves to the keyring on a save", "ann", "pop.example:110", "old", "old", "old", false},
        {"replaced", "ann", "pop.example:110", "new", "", "new", false},
        {"another login gets nothing of it", "bob", "pop.example:110", {}, "", "", false},
        {"another server gets nothing of it", "ann", "pop.other:110", {}, "", "", false},
        {"removed", "ann", "pop.example:110", "", "", "", true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        config.Login = s.login;
        config.Server = s.server;
        if (!s.iniPassword.empty()) WritePasswordKey(s.iniPassword);
        config.Password = FilePassword();
        if (s.store) {
            const secrets::TStored stored = Store(*s.store);
            EXPECT_TRUE(stored.ok) << stored.error;
            EXPECT_EQ(stored.notice, "");
        }
        config.Password = FilePassword(); // a check reads the file afresh
        const secrets::TSecret read = Read();
        EXPECT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.secret, s.read);
        EXPECT_EQ(ReadFile(Ini()).find("Password=") != std::string::npos, s.keyInFile);
    }
}

// The command's first line is the password, and the keyring is not asked; anything else
// stops the check with the command's own words.
TEST_F(SecretStoreTest, PasswordCommandGivesItsFirstLineOrSaysWhyNot) {
    config.Login = "cmd";
    config.Server = "pop.example";
    ASSERT_TRUE(Store("from the keyring").ok);
    struct Case {
        const char* command;
        bool ok;
        std::string text; // the password, or the start of the error
    } const cases[] = {
        {"printf 'se cret\\r\\nsecond line\\n'", true, "se cret"},
        {"printf last", true, "last"},
        {"echo 'no such entry' >&2; echo partial; exit 3", false,
         "The password command failed with exit status 3: no such entry"},
        {"true", false, "The password command printed nothing (exit status 0)"},
        {"echo locked >&2", false, "The password command printed nothing (exit status 0): locked"},
        {"sleep 30", false, "The password command gave no answer within 1 second"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        config.PasswordCommand = c.command;
        const secrets::TSecret read = Read({secrets::kKeyringLimit, std::chrono::seconds(1)});
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(read.ok ? read.secret : read.error, c.text);
    }
}

// A settings file that holds a password is nobody else's business; one without stays as it
// was made.
TEST_F(SecretStoreTest, ASettingsFileWithAPasswordIsMadePrivate) {
    struct Case {
        const char* lines;
        mode_t before, after;
        secrets::TModeCheck::Kind kind;
    } const cases[] = {
        {"Password=x9\n", 0644, 0600, secrets::TModeCheck::Tightened},
        {"Password=x9\n", 0640, 0600, secrets::TModeCheck::Tightened},
        {"Password=x9\n", 0600, 0600, secrets::TModeCheck::Private},
        {"Password=\n", 0644, 0644, secrets::TModeCheck::Private},
        {"Server=s\n", 0644, 0644, secrets::TModeCheck::Private},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        WriteFile(Ini(), std::string("[Config]\n") + c.lines);
        ::chmod(Ini().c_str(), c.before);
        EXPECT_EQ(secrets::TightenSettingsFile().kind, c.kind);
        struct stat st {};
        ::stat(Ini().c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, c.after);
    }
}
