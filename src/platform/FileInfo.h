#pragma once

#include <QDateTime>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// True for a file (or a link to one); a folder or a missing path is not a file.
bool FileExists(const std::string& path);

// True when anything at all, file or folder, has this name.
bool PathExists(const std::string& path);

bool DirectoryExists(const std::string& path);

// Size in bytes as the folder entry gives it; a missing path or a folder has no size.
std::optional<std::int64_t> FileSize(const std::string& path);

// Last-write time in local time; nothing for a missing path or a folder.
std::optional<QDateTime> FileLastWriteTime(const std::string& path);

} // namespace platform
