#pragma once

#include <QTemporaryDir>
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

} // namespace testsupport
