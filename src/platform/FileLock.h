#pragma once

#include <chrono>
#include <string>

namespace platform {

// An exclusive lock on a file (flock), for work that two processes must not do at once on
// the same files. The kernel releases it when the process ends, however it ends, so a
// crashed holder never leaves a lock behind. The file is created (mode 0600) if missing and
// is never removed: removing it would let a later process lock a new file while another
// still holds the old one.
class FileLock {
  public:
    // Opens or creates the file; throws EInOutError when it cannot.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock if nobody holds it; false at once otherwise.
    bool TryLock();
    // Waits for the lock; throws EInOutError on a failure other than an interruption.
    void Lock();
    // Tries until the lock is had or the time is up (polling: flock has no time-out).
    bool LockWithin(std::chrono::milliseconds limit);
    void Unlock();
    bool Locked() const { return locked_; }

    // The open file, for a holder that records itself in it (a process id).
    int Descriptor() const { return fd_; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool locked_ = false;
};

// flock(LOCK_EX) on an open file, tried until it is had or the time is up (polling: flock has
// no time-out); a zero limit tries once. Throws EInOutError on a failure other than another
// holder.
bool LockExclusiveWithin(int fd, std::chrono::milliseconds limit);

} // namespace platform
