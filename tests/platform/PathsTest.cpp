#include "platform/Paths.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets or unsets an environment variable for the length of a scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Paths, TheSettingsFileNeverDependsOnTheCurrentFolder) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf");
        EXPECT_EQ(platform::SettingsFilePath(), "/srv/conf/Morvandle.ini");
    }
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/conf"); // not absolute: ignored
        EXPECT_EQ(platform::SettingsFilePath(), "/home/someone/.config/Morvandle.ini");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::SettingsFilePath(), "/home/someone/.config/Morvandle.ini");
    {
        // Without HOME (a system service, say) the password database knows the folder.
        ScopedEnv noHome("HOME", nullptr);
        const passwd* user = ::getpwuid(::getuid());
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(platform::SettingsFilePath(),
                  std::string(user->pw_dir) + "/.config/Morvandle.ini");
    }
}

TEST(Paths, ProgramDirIsTheFolderOfTheRunningProgram) {
    EXPECT_EQ(platform::ProgramDir(), QCoreApplication::applicationDirPath().toStdString());
}

TEST(Paths, AnInstalledProgramKeepsItsFilesInTheUsersDataFolder) {
    testsupport::TempDir home;
    const std::string data = home.Path() + "/data";
    ScopedEnv homeEnv("HOME", home.Path().c_str());
    const std::string bin = "/opt/morvandle-prefix/bin";
    struct Case {
        std::string executableDir;
        const char* xdgDataHome;
        std::string expected;
    } cases[] = {
        {bin, nullptr, home.Path() + "/.local/share/morvandle"},
        {bin, "relative/data", home.Path() + "/.local/share/morvandle"},
        {bin, data.c_str(), home.Path() + "/data/morvandle"},
        {bin + "/sub", nullptr, bin + "/sub"},
        {"/opt/morvandle-prefix", data.c_str(), "/opt/morvandle-prefix"},
        {"/work/build/src/app", nullptr, "/work/build/src/app"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.executableDir + " XDG_DATA_HOME=" + (c.xdgDataHome ? c.xdgDataHome : "-"));
        ScopedEnv xdg("XDG_DATA_HOME", c.xdgDataHome);
        EXPECT_EQ(platform::ProgramDirFor(c.executableDir, bin), c.expected);
    }
    // The data folders were created for the installed cases only, readable by the user alone.
    for (const std::string& dir : {home.Path() + "/.local/share/morvandle", data + "/morvandle"}) {
        struct stat info {};
        ASSERT_EQ(::stat(dir.c_str(), &info), 0) << dir;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << dir;
    }
}

} // namespace
