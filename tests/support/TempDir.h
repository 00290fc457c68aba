#pragma once

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace testsupport {

// A fresh folder removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir() : dir_(QDir::tempPath() + "/morvandle-XXXXXX") {}
    bool IsValid() const { return dir_.isValid(); }
    std::string Path() const { return dir_.path().toStdString(); }
    std::string File(const std::string& name) const { return Path() + "/" + name; }

  private:
    QTemporaryDir dir_;
};

// Writes the bytes unchanged, creating missing parent folders; throws when that fails.
inline void WriteFile(const std::string& path, const std::string& bytes) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << bytes) || !out.flush()) throw std::runtime_error("cannot write " + path);
}

// The file's bytes unchanged; "<missing>" when it cannot be opened, so that a missing file
// never passes for an empty one.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace testsupport
