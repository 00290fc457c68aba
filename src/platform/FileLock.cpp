#include "FileLock.h"

#include "Exception.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace platform {

FileLock::FileLock(const std::string& path) : path_(path) {
    do
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw InOutErrorFromErrno(errno);
}

FileLock::~FileLock() {
    ::close(fd_); // releases the lock with the descriptor
}

bool FileLock::TryLock() {
    if (!locked_) locked_ = LockExclusiveWithin(fd_, std::chrono::milliseconds(0));
    return locked_;
}

void FileLock::Lock() {
    if (locked_) return;
    int rc;
    do
        rc = ::flock(fd_, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) throw InOutErrorFromErrno(errno);
    locked_ = true;
}

bool FileLock::LockWithin(std::chrono::milliseconds limit) {
    if (!locked_) locked_ = LockExclusiveWithin(fd_, limit);
    return locked_;
}

void FileLock::Unlock() {
    if (!locked_) return;
    ::flock(fd_, LOCK_UN);
    locked_ = false;
}

bool LockExclusiveWithin(int fd, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) throw InOutErrorFromErrno(errno);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace platform
