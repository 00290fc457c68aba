#include "CheckLock.h"

#include "platform/Paths.h"

#include <cctype>
#include <string>
#include <unistd.h>

namespace screening {

std::string CheckLockPath() {
    return platform::ProgramDir() + "/morvandle.lock";
}

TCheckLock::TCheckLock() : lock_(CheckLockPath()) {}

bool TCheckLock::TryLock() {
    return Took(lock_.TryLock());
}

void TCheckLock::Lock() {
    lock_.Lock();
    Took(true);
}

bool TCheckLock::LockWithin(std::chrono::milliseconds limit) {
    return Took(lock_.LockWithin(limit));
}

// The id is only a hint for the message: a failed write leaves the lock held all the same.
bool TCheckLock::Took(bool locked) {
    if (!locked) return false;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock_.Descriptor(), 0) == 0)
        (void)!::pwrite(lock_.Descriptor(), pid.data(), pid.size(), 0);
    return true;
}

std::string TCheckLock::BusyText() const {
    char text[24] = {};
    const ssize_t got = ::pread(lock_.Descriptor(), text, sizeof text - 1, 0);
    std::string pid;
    for (ssize_t i = 0; i < got && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        pid += text[i];
    if (pid.empty()) return "Another check is running; nothing done";
    return "Another check is running (pid " + pid + "); nothing done";
}

} // namespace screening
