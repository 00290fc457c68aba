#include "DurableAppend.h"

#include "Exception.h"
#include "FileLock.h"
#include "Paths.h"

#include <algorithm>
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

DurableAppender::DurableAppender(const std::string& path, std::chrono::milliseconds lockWait)
    : path_(path) {
    OpenAndLock(lockWait);
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(fd_);
        ThrowErrno(err);
    }
    start_ = static_cast<std::uint64_t>(st.st_size);
    buffer_.reserve(kBufferSize);
}

// O_APPEND: every write lands at the true end of the file, never at an end remembered from
// before the lock.
void DurableAppender::OpenAndLock(std::chrono::milliseconds lockWait) {
    const auto deadline = std::chrono::steady_clock::now() + lockWait;
    for (;;) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        created_ = false;
        if (fd_ < 0 && errno == ENOENT) {
            fd_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            created_ = fd_ >= 0;
        }
        if (fd_ < 0 && errno == EEXIST) continue; // created by another meanwhile
        if (fd_ < 0) ThrowErrno(errno);
        const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now()),
                                   std::chrono::milliseconds(0));
        bool locked = false;
        try {
            locked = LockExclusiveWithin(fd_, left);
        } catch (...) {
            ::close(fd_);
            throw;
        }
        if (!locked) {
            ::close(fd_);
            throw EInOutError("File in use by another program", EWOULDBLOCK);
        }
        // The holder we waited for may have renamed or removed the file: then the name
        // belongs to another file now, which is the one to append to.
        struct stat held, named;
        if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return;
        ::close(fd_);
    }
}

DurableAppender::~DurableAppender() {
    if (fd_ < 0) return;
    if (!committed_) Rollback();
    ::close(fd_);
}

std::string DurableAppender::Tail(std::size_t n) const {
    const std::size_t len = n < start_ ? n : static_cast<std::size_t>(start_);
    std::string tail(len, '\0');
    const ssize_t got = ::pread(fd_, tail.data(), len, static_cast<off_t>(start_ - len));
    if (got < 0) ThrowErrno(errno);
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

// Runs under the lock, so start_ is still where this appender's bytes begin.
void DurableAppender::Rollback() noexcept {
    // Best effort: a file that cannot even be cut back is left for the reader to skip the
    // torn end (the next append starts on a line of its own).
    if (::ftruncate(fd_, static_cast<off_t>(start_)) == 0) ::fsync(fd_);
}

} // namespace platform
