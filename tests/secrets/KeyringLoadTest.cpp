// A check asks the keyring only where a session bus could answer: without one the keyring's
// libraries stay unloaded, and the settings file's password is used as ever.

#include "config/dataConfig.h"
#include "support/TempDir.h"

#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(KeyringLoad, OnlyWhereASessionBusCouldAnswer) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "run through run-with-keyring (ctest does)";
    testsupport::TempDir programDir, configDir;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    // Port 1 refuses at once: the check gets as far as the connection, after the password.
    testsupport::WriteFile(
        configDir.File("Morvandle.ini"),
        "[Config]\nServer=127.0.0.1:1\nLogin=me\nPassword=" + ScramblePassword("pw") + "\n");
    struct Case {
        const char* what;
        std::vector<const char*> removed;
        bool loaded;
    } cases[] = {
        {"no bus, no display", {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "XDG_RUNTIME_DIR"}, false},
        {"a bus", {"DISPLAY", "XDG_RUNTIME_DIR"}, true},
    };
    for (const Case& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : c.removed)
            env.remove(name);
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        env.insert("LD_DEBUG", "files"); // the dynamic loader names every library it loads
        QProcess check;
        check.setProcessEnvironment(env);
        check.start(QString::fromStdString(programDir.File("morvandle-check")), {});
        ASSERT_TRUE(check.waitForFinished(30000)) << c.what;
        const QString out = check.readAllStandardOutput();
        const QString err = check.readAllStandardError();
        EXPECT_TRUE(out.contains("Error 10061 attempting connection"))
            << c.what << ": " << out.toStdString();
        EXPECT_EQ(err.contains("libsecret"), c.loaded) << c.what;
    }
}

} // namespace
