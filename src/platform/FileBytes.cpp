#include "FileBytes.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::optional<FileBytes> ReadFileBytes(const std::string& path, std::int64_t limit) {
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw InOutErrorFromErrno(errno);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    FileBytes file;
    if (::fstat(fd, &file.info) != 0) throw InOutErrorFromErrno(errno);
    if (file.info.st_size > limit) throw EFileTooLarge(file.info.st_size);
    // Sized once, so that the string does not grow by doubling to twice the file.
    if (file.info.st_size > 0) file.bytes.reserve(static_cast<std::size_t>(file.info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw InOutErrorFromErrno(errno);
        if (n == 0) break;
        file.bytes.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::int64_t>(file.bytes.size()) > limit)
            throw EFileTooLarge(static_cast<std::int64_t>(file.bytes.size()));
    }
    return file;
}

} // namespace platform
