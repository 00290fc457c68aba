#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "Exception.h"

namespace platform {

// A file read whole, with what fstat said of the file that was read (its size and time
// belong to exactly these bytes, even if the name is replaced meanwhile).
struct FileBytes {
    std::string bytes;
    struct stat info;
};

// More bytes than the reader was willing to take; `size` is how many it had when it stopped.
class EFileTooLarge : public Exception {
  public:
    explicit EFileTooLarge(std::int64_t size)
        : Exception("File too large (" + std::to_string(size) + " bytes)"), Size(size) {}
    std::int64_t Size;
};

// Reads the file whole, at most `limit` bytes of it (a larger file throws EFileTooLarge,
// also one that grows past the limit while it is read). Nothing when no file has the name;
// any other failure throws EInOutError.
std::optional<FileBytes> ReadFileBytes(const std::string& path,
                                       std::int64_t limit = std::numeric_limits<std::int64_t>::max());

} // namespace platform
