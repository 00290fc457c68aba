#include "Paths.h"

#include <QDir>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef MORVANDLE_INSTALL_BINDIR
#error "MORVANDLE_INSTALL_BINDIR must name the install prefix's bin folder"
#endif
#ifndef MORVANDLE_INSTALL_DATADIR
#error "MORVANDLE_INSTALL_DATADIR must name the install prefix's share folder"
#endif

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
// The same folder whether or not the path goes through a symbolic link (/bin and /usr/bin
// on a merged-/usr system).
bool SameFolder(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const QString canonicalA = QDir(QString::fromStdString(a)).canonicalPath();
    return !canonicalA.isEmpty() && canonicalA == QDir(QString::fromStdString(b)).canonicalPath();
}

bool RunsInstalled() {
    return SameFolder(ExecutableDir(), MORVANDLE_INSTALL_BINDIR);
}
} // namespace

std::string ProgramDirFor(const std::string& executableDir, const std::string& installBinDir) {
    if (!SameFolder(executableDir, installBinDir)) return executableDir;
    std::string base = AbsolutePathFromEnv("XDG_DATA_HOME");
    if (base.empty()) base = HomeDir() + "/.local/share";
    const std::string dir = base + "/morvandle";
    // The lists and the log are the user's own: only the user may read them. An existing
    // folder keeps the mode the user gave it.
    QDir().mkpath(QString::fromStdString(base));
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

std::string ProgramDir() {
    if (!programDirOverride.empty()) return programDirOverride;
    return ProgramDirFor(ExecutableDir(), MORVANDLE_INSTALL_BINDIR);
}

std::string SharedFilesDir() {
    if (programDirOverride.empty() && RunsInstalled())
        return std::string(MORVANDLE_INSTALL_DATADIR) + "/morvandle";
    return ProgramDir();
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
