// The password command, with a keyring that holds another password for the account.

#include "secrets/SecretStore.h"
#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "secrets/TokenStore.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QObject>
#include <gtest/gtest.h>
#include <optional>

namespace {

struct SecretStoreTest : ::testing::Test {
    testsupport::TempDir dir;
    QObject context;
    TConfigData config;

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "run through run-with-keyring (ctest does)";
        platform::SetSettingsFileOverride(dir.File("Morvandle.ini"));
    }
    void TearDown() override { platform::SetSettingsFileOverride(""); }

    // Waits for the one report of an asynchronous call.
    template <class Result, class Start> Result Await(Start start) {
        std::optional<Result> result;
        start([&](const Result& r) { result = r; });
        EXPECT_TRUE(testsupport::WaitUntil([&] { return result.has_value(); }, 15000));
        return result.value_or(Result{});
    }
};

} // namespace

// The command's first line is the password, and the keyring is not asked; anything else
// stops the check with the command's own words.
TEST_F(SecretStoreTest, PasswordCommandGivesItsFirstLineOrSaysWhyNot) {
    config.Login = "cmd";
    config.Server = "pop.example";
    config.Password = "from the keyring";
    ASSERT_TRUE(Await<secrets::TStored>([&](auto done) {
                    secrets::StorePassword(config, &context, done);
                }).ok);
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
        const secrets::TSecret read = Await<secrets::TSecret>([&](auto done) {
            secrets::ReadPassword(config, &context, done,
                                  {secrets::kKeyringLimit, std::chrono::seconds(1)});
        });
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(read.ok ? read.secret : read.error, c.text);
    }
}

// A refresh token the keyring could not take (locked) went to the settings file: it is newer
// than the keyring's item, and is used until a keyring write takes its place.
TEST_F(SecretStoreTest, RefreshTokenFromTheSettingsFileOutranksAnOlderKeyringItem) {
    config.Login = "rt";
    config.Server = "pop.example";
    const auto store = [&](const std::string& token) {
        return Await<secrets::TStored>(
            [&](auto done) { secrets::StoreRefreshToken(config, token, &context, done); });
    };
    const auto read = [&] {
        return Await<secrets::TSecret>(
                   [&](auto done) { secrets::ReadRefreshToken(config, &context, done); })
            .secret;
    };
    ASSERT_TRUE(store("old").ok);
    platform::ProfileFile(dir.File("Morvandle.ini"))
        .WriteString("Config", "OAuth2RefreshToken", ScramblePassword("oauth2:rt@pop.example new"));
    EXPECT_EQ(read(), "new");
    ASSERT_TRUE(store("newer").ok);
    EXPECT_EQ(read(), "newer");
}
