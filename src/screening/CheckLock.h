#pragma once

#include "platform/FileLock.h"

#include <chrono>
#include <string>

namespace screening {

// The lock file of the program folder: ProgramDir() + "/morvandle.lock".
std::string CheckLockPath();

// One check of the mailbox or one update of the lists per program folder at a time, across
// the desktop program and morvandle-check: both change the same lists, log and quarantine.
// The holder writes its process id into the lock file, so that a second one can say who
// holds it. Held until the object goes; the kernel lets go of it when the process ends.
class TCheckLock {
  public:
    // Opens or creates the lock file; throws platform::EInOutError when it cannot.
    TCheckLock();

    // Take the lock (at once, waiting without limit, or waiting at most `limit`) and record
    // this process in the file; false when another holder keeps it.
    bool TryLock();
    void Lock();
    bool LockWithin(std::chrono::milliseconds limit);

    // "Another check is running (pid N); nothing done", N as the holder recorded it;
    // without "(pid N)" when the file holds no process id (a holder that has just locked).
    std::string BusyText() const;

  private:
    bool Took(bool locked);

    platform::FileLock lock_;
};

} // namespace screening
