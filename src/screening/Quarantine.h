#pragma once

// The quarantine: a copy of every message that Check and Eat deletes, in one mbox file
// (mboxrd: ">From " quoting, LF line ends) that mail programs open directly.

#include <QDateTime>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class DurableAppender;
}

namespace screening {

// The quarantine file in the program's folder: ProgramDir() + "/quarantine.mbox", or
// "/quarantine-ACCOUNT.mbox" for a further account (TAccountSettings::FilesName). The main
// window's "open quarantine folder" shows the folder of this path.
std::string QuarantinePath(const std::string& account = "");
// Where the file goes once it has grown past QuarantineRotateSize, replacing an older one.
std::string QuarantineOlderPath(const std::string& quarantinePath);
inline constexpr std::uint64_t QuarantineRotateSize = 100ull * 1024 * 1024;
// How long a copy waits for another process that is appending to the file. A check in the
// same program folder cannot be that process (one check per folder at a time), so only a
// foreign holder or a second folder sharing the file waits here; the copy then fails and its
// message is not deleted.
inline constexpr std::chrono::milliseconds QuarantineLockWait{3000};

// One line of a message as mboxrd stores it: a line that is "From " behind any number of
// ">" gets one more ">", so no body line can pass for a message separator and a reader can
// undo the quoting exactly.
std::string MboxQuoteLine(const std::string& line);

// The values of the first header of that name (unfolded; any letter case), "" without one.
std::string HeaderValue(const std::vector<std::string>& headerLines, const std::string& name);
// The envelope sender of an mbox separator line: the address of Return-Path, else of
// From, else MAILER-DAEMON (also for the null sender "<>").
std::string MboxEnvelopeSender(const std::vector<std::string>& headerLines);
// "Tue Dec  8 01:17:40 2026": the separator line's time, in UTC with English names.
std::string MboxDate(const QDateTime& moment);

// One message on its way into the quarantine. The constructor locks the file against other
// processes' copies until Commit or destruction, rotates a full file and opens it (throwing
// platform::EInOutError when it cannot, before anything is fetched);
// AddLine takes the message's lines as the server sent them, without line ends and
// byte-stuffing; Commit writes the end of the message and returns once the whole copy is on
// disk. A copy destroyed without Commit leaves the file exactly as it was.
class TQuarantineCopy {
  public:
    TQuarantineCopy(const std::string& path, const QDateTime& now);
    ~TQuarantineCopy();
    TQuarantineCopy(const TQuarantineCopy&) = delete;
    TQuarantineCopy& operator=(const TQuarantineCopy&) = delete;

    // Never throws (it runs inside the client's line event); a failed write is kept and
    // thrown by Commit.
    void AddLine(const std::string& line);
    void Commit();

    // From and Subject of the copied message, for the log.
    std::string Summary() const;

  private:
    void EndHeaders();

    std::unique_ptr<platform::DurableAppender> file_;
    QDateTime now_;
    std::string separatorPrefix_; // ends the previous content on a line of its own
    std::vector<std::string> headers_;
    std::size_t headerBytes_ = 0;
    bool inHeaders_ = true;
    std::exception_ptr failure_;
};

} // namespace screening
