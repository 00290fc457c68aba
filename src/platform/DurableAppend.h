#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Appends to a file so that the caller can tell when the bytes are safe: Commit() returns
// only once everything written is on disk (fsync; for a file it created, the folder entry
// too). Without a Commit() - an exception, a failed write, a caller that gives up - the file
// is cut back to the length it had when it was opened, so what was there stays intact.
// Every failure throws EInOutError; once a write has failed, the appender refuses the rest.
// Other processes append to the same file: from open to close the appender holds an
// exclusive flock on it, so no other appender writes in between and a cut removes only
// this appender's bytes.
class DurableAppender {
  public:
    // Opens, creating the file (mode 0600) if it is missing, and locks it, waiting for
    // another holder at most lockWait (then EInOutError "File in use by another program").
    DurableAppender(const std::string& path, std::chrono::milliseconds lockWait);
    ~DurableAppender();
    DurableAppender(const DurableAppender&) = delete;
    DurableAppender& operator=(const DurableAppender&) = delete;

    // The file's length when the lock was had.
    std::uint64_t StartSize() const { return start_; }
    // Up to n bytes that ended the file when it was opened.
    std::string Tail(std::size_t n) const;

    void Write(std::string_view bytes);
    void Commit();

  private:
    void OpenAndLock(std::chrono::milliseconds lockWait);
    void Flush();
    void Rollback() noexcept;

    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
    std::uint64_t start_ = 0;
    std::string buffer_;
};

} // namespace platform
