#pragma once

#include <string>

namespace platform {

// The folder of the running executable, without a trailing "/". The list files, the log
// and the update file live there.
std::string ProgramDir();

// Full path of the settings file: $XDG_CONFIG_HOME/Morvandle.ini, by default
// ~/.config/Morvandle.ini.
std::string SettingsFilePath();

// Tests redirect both; an empty string restores the real location.
void SetProgramDirOverride(const std::string& dir);
void SetSettingsFileOverride(const std::string& path);

} // namespace platform
