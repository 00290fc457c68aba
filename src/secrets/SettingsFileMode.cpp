#include "SettingsFileMode.h"

#include "platform/Paths.h"
#include "platform/Profile.h"

#include <sys/stat.h>

namespace secrets {

TModeCheck TightenSettingsFile() {
    const std::string path = platform::SettingsFilePath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 077) == 0) return {};
    if (platform::ProfileFile(path).ReadString("Config", "Password", "").empty()) return {};
    if (::chmod(path.c_str(), 0600) == 0)
        return {TModeCheck::Tightened,
                path + " holds a password and was readable by others: made it private (mode 0600)"};
    return {TModeCheck::OthersCanRead,
            "Warning: " + path +
                " holds a password and others may read it; make it private with chmod 600"};
}

} // namespace secrets
