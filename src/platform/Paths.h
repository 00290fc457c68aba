#pragma once

#include <string>

namespace platform {

// The folder of the running executable, without a trailing "/". The list files, the log
// and the update file live there.
std::string ProgramDir();

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
