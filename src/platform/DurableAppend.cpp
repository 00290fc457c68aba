#include "DurableAppend.h"

#include "Exception.h"
#include "Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;

[[noreturn]] void ThrowErrno(int err) {
    throw InOutErrorFromErrno(err);
}

// A new name in a folder survives a crash only once the folder itself is synced.
void SyncFolder(const std::string& file) {
    std::string folder = FolderOf(file);
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) ThrowErrno(err);
}
} // namespace

DurableAppender::DurableAppender(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        created_ = fd_ >= 0;
    }
    if (fd_ < 0) ThrowErrno(errno);
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
        const int err = errno;
        ::close(fd_);
        ThrowErrno(err);
    }
    start_ = static_cast<std::uint64_t>(end);
    buffer_.reserve(kBufferSize);
}

DurableAppender::~DurableAppender() {
    if (fd_ < 0) return;
    if (!committed_) Rollback();
    ::close(fd_);
}

std::string DurableAppender::Tail(std::size_t n) const {
    const std::size_t len = n < start_ ? n : static_cast<std::size_t>(start_);
    std::string tail(len, '\0');
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(errno);
    const ssize_t got = ::pread(fd, tail.data(), len, static_cast<off_t>(start_ - len));
    const int err = errno;
    ::close(fd);
    if (got < 0) ThrowErrno(err);
    tail.resize(static_cast<std::size_t>(got));
    return tail;
}

void DurableAppender::Write(std::string_view bytes) {
    if (fd_ < 0) throw InOutErrorFromErrno(EBADF);
    if (buffer_.size() + bytes.size() > kBufferSize) Flush();
    if (bytes.size() > kBufferSize) {
        buffer_.assign(bytes);
        Flush();
        return;
    }
    buffer_.append(bytes);
}

void DurableAppender::Flush() {
    std::string_view rest = buffer_;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            buffer_.clear();
            Rollback();
            ::close(fd_);
            fd_ = -1;
            ThrowErrno(err);
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    buffer_.clear();
}

void DurableAppender::Commit() {
    if (fd_ < 0) throw InOutErrorFromErrno(EBADF);
    Flush();
    if (::fsync(fd_) != 0) {
        const int err = errno;
        Rollback();
        ThrowErrno(err);
    }
    if (created_) SyncFolder(path_);
    committed_ = true;
}

void DurableAppender::Rollback() noexcept {
    // Best effort: a file that cannot even be cut back is left for the reader to skip the
    // torn end (the next append starts on a line of its own).
    if (::ftruncate(fd_, static_cast<off_t>(start_)) == 0) ::fsync(fd_);
}

} // namespace platform
