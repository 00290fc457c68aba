#pragma once

#include <string>

namespace platform {

// The folder where the list files, the log and the update file live, without a trailing
// "/". Normally the folder of the running executable; for a program running from the
// install prefix's bin folder, which the user cannot write to, $XDG_DATA_HOME/morvandle
// (by default ~/.local/share/morvandle), created with mode 0700 on first use.
std::string ProgramDir();

// The rule behind ProgramDir(), for an executable in executableDir of a build whose
// install prefix puts programs in installBinDir.
std::string ProgramDirFor(const std::string& executableDir, const std::string& installBinDir);

// The folder of the read-only files shipped with the program (the help pages): the install
// prefix's share/morvandle for an installed program, else the program's folder.
std::string SharedFilesDir();

// Full path of the settings file: $XDG_CONFIG_HOME/Morvandle.ini, by default
// ~/.config/Morvandle.ini. Always absolute: a relative XDG_CONFIG_HOME is ignored, and
// without HOME the user's home folder comes from the password database, so the settings
// never depend on the current folder.
std::string SettingsFilePath();

// Tests redirect both; an empty string restores the real location.
void SetProgramDirOverride(const std::string& dir);
void SetSettingsFileOverride(const std::string& path);

// The part of a path before its last "/": "/" for a file in the root folder, empty for a
// bare name.
std::string FolderOf(const std::string& path);
// The part after the last "/".
std::string FileNameOf(const std::string& path);

} // namespace platform
