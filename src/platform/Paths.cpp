#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {
std::string programDirOverride;
std::string settingsFileOverride;

std::string ExecutableDir() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return QDir::currentPath().toStdString();
    std::string path(buf, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}
} // namespace

std::string ProgramDir() {
    return programDirOverride.empty() ? ExecutableDir() : programDirOverride;
}

std::string SettingsFilePath() {
    if (!settingsFileOverride.empty())
        return settingsFileOverride;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg)
        base = xdg;
    else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.config";
    }
    return base + "/Morvandle.ini";
}

void SetProgramDirOverride(const std::string& dir) { programDirOverride = dir; }
void SetSettingsFileOverride(const std::string& path) { settingsFileOverride = path; }

} // namespace platform
