#pragma once

// Shared by the FTP client's source files only.

#include "net/FtpCli.h"

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

template <class Fn> void TCustomFtpCli::Entry(Fn&& F) {
    const std::shared_ptr<Life> life = FLife;
    ++life->Depth;
    struct Leave {
        Life& L;
        ~Leave() { --L.Depth; }
    } leave{*life};
    try {
        F();
    } catch (const Destroyed&) {
        // Only the outermost entry stops the unwinding; inner ones belong to the dead object.
        if (life->Depth > 1) throw;
    }
}

// Calls an event's handler through a copy (a handler may replace itself); when the handler
// destroyed the client, unwinds to the outermost entry.
template <class Handler, class... Args> void TCustomFtpCli::Fire(const Handler& H, Args&&... A) {
    if (!H) return;
    const std::shared_ptr<Life> life = FLife;
    const Handler copy = H;
    copy(std::forward<Args>(A)...);
    if (!life->Alive) throw Destroyed{};
}

namespace ftpcli {

// Sharing modes map onto advisory locks, the nearest this platform has: other programs
// that lock honour them; the rest are not kept out.
inline int LockFor(TFtpShareMode Mode) {
    switch (Mode) {
    case ftpShareExclusive:
    case ftpShareDenyRead:
        return LOCK_EX;
    case ftpShareDenyWrite:
        return LOCK_SH;
    default:
        return 0;
    }
}

inline unsigned Bit(int Step) {
    return 1u << Step;
}

// Milliseconds of a monotonic clock, the tick count of the transfer statistics.
int64_t TickCount();

} // namespace ftpcli

// The local file of a transfer, open only while the transfer runs.
struct TCustomFtpCli::LocalFile {
    int Fd = -1;
    ~LocalFile() {
        if (Fd >= 0) ::close(Fd);
    }
    bool Open(const std::string& Path, int Flags, TFtpShareMode Mode) {
        Fd = ::open(Path.c_str(), Flags | O_CLOEXEC, 0644);
        if (Fd < 0) return false;
        const int lock = ftpcli::LockFor(Mode);
        return lock == 0 || ::flock(Fd, lock | LOCK_NB) == 0;
    }
};
