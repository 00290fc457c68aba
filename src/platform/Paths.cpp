#include "Paths.h"

#include <QDir>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {
std::string programDirOverride;
std::string settingsFileOverride;

std::string ExecutableDir() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return QDir::currentPath().toStdString();
    return FolderOf(std::string(buf, static_cast<size_t>(n)));
}

// The value of an environment variable when it holds an absolute path, else empty.
std::string AbsolutePathFromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : std::string();
}

// Empty (the root folder) when neither HOME nor the password database names one.
std::string HomeDir() {
    std::string home = AbsolutePathFromEnv("HOME");
    if (home.empty()) {
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) home = user->pw_dir;
    }
    return home;
}
} // namespace

std::string ProgramDir() {
    return programDirOverride.empty() ? ExecutableDir() : programDirOverride;
}

std::string SettingsFilePath() {
    if (!settingsFileOverride.empty()) return settingsFileOverride;
    std::string base = AbsolutePathFromEnv("XDG_CONFIG_HOME");
    if (base.empty()) base = HomeDir() + "/.config";
    return base + "/Morvandle.ini";
}

void SetProgramDirOverride(const std::string& dir) {
    programDirOverride = dir;
}
void SetSettingsFileOverride(const std::string& path) {
    settingsFileOverride = path;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace platform
