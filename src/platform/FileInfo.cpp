#include "FileInfo.h"

#include <QFileInfo>

namespace platform {

namespace {
QFileInfo Entry(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    info.setCaching(false);
    return info;
}
} // namespace

bool FileExists(const std::string& path) {
    return !path.empty() && Entry(path).isFile();
}

bool PathExists(const std::string& path) {
    if (path.empty()) return false;
    const QFileInfo info = Entry(path);
    // A dangling link still occupies the name.
    return info.exists() || info.isSymLink();
}

bool DirectoryExists(const std::string& path) {
    return !path.empty() && Entry(path).isDir();
}

std::optional<std::int64_t> FileSize(const std::string& path) {
    if (!FileExists(path)) return std::nullopt;
    return Entry(path).size();
}

std::optional<QDateTime> FileLastWriteTime(const std::string& path) {
    if (!FileExists(path)) return std::nullopt;
    return Entry(path).lastModified().toLocalTime();
}

} // namespace platform
