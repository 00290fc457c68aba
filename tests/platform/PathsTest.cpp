#include "platform/Paths.h"

#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
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

} // namespace
