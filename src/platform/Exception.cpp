#include "Exception.h"

#include <cerrno>
#include <cstring>

namespace platform {

EInOutError InOutErrorFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return EInOutError("File not found", err);
    case EACCES:
    case EPERM:
        return EInOutError("File access denied", err);
    case ENOSPC:
        return EInOutError("Disk full", err);
    default:
        return EInOutError("I/O error " + std::to_string(err) + " (" + std::strerror(err) + ")",
                           err);
    }
}

} // namespace platform
