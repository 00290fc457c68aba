#include "UpdateDownload.h"

#include "config/dataConfig.h"
#include "net/FtpCli.h"
#include "platform/FileInfo.h"
#include "screening/Pop3Settings.h"

#include <cstdio>

namespace update {

namespace {
// The anonymous password: a name for the server's log, as anonymous FTP asks.
constexpr const char* kAnonymousPassword = "morvandle@";

// What one download changes on the client, and the part file, undone on every way out.
class DownloadScope {
  public:
    DownloadScope(TFtpClient& ftp, std::string part)
        : ftp_(ftp), part_(std::move(part)), progress_(ftp.OnProgress) {}
    ~DownloadScope() {
        ftp_.OnProgress = progress_;
        ftp_.SetWaitLimit(std::nullopt);
        if (!kept_) std::remove(part_.c_str());
    }
    DownloadScope(const DownloadScope&) = delete;
    DownloadScope& operator=(const DownloadScope&) = delete;

    const TFtpProgress& CallersProgress() const { return progress_; }
    void Keep() { kept_ = true; }

  private:
    TFtpClient& ftp_;
    std::string part_;
    TFtpProgress progress_;
    bool kept_ = false;
};

} // namespace

void ConfigureUpdateClient(TFtpClient& ftp, const TConfigData& config) {
    const screening::ServerAddress server = screening::SplitServer(config.UpdateServer, "ftp");
    ftp.SetHostName(server.Host);
    ftp.SetPort(server.Port);
    ftp.SetUserName("anonymous");
    ftp.SetPassWord(kAnonymousPassword);
    ftp.SetHostDirName("/pub/apps");
    ftp.SetHostFileName("spamupd.txt");
    ftp.SetTimeout(60);
    ftp.SetBinary(true);
    ftp.SetShareMode(ftpShareExclusive);
}

std::string UpdatePartFile(const std::string& target) {
    return target + ".part";
}

void RemoveStaleUpdatePart(const std::string& target) {
    std::remove(UpdatePartFile(target).c_str());
}

TDownloadResult DownloadUpdateFile(TFtpClient& ftp, const std::string& target,
                                   const std::function<void(std::int64_t size)>& onSize,
                                   const std::function<bool()>& cancelled,
                                   const TDownloadLimits& limits) {
    using Clock = TFtpDeadline::Clock;
    const std::string part = UpdatePartFile(target);
    DownloadScope scope(ftp, part);
    const Clock::time_point end = Clock::now() + limits.TotalTime;
    ftp.SetWaitLimit(end);
    const auto failed = [&](TDownloadResult result) {
        return Clock::now() >= end ? TDownloadResult::TimedOut : result;
    };

    ftp.SetLocalFileName(part);
    if (!ftp.ConnectSync()) return failed(TDownloadResult::NoConnection);
    ftp.CwdSync();
    if (!ftp.SizeSync()) {
        ftp.AbortSync();
        return failed(TDownloadResult::NoSize);
    }
    const std::int64_t size = ftp.RemoteFileSize();
    if (size > limits.MaxSize) {
        ftp.QuitSync();
        return TDownloadResult::OverLimit;
    }
    if (onSize) onSize(size);
    ftp.TypeBinarySync();
    // A server that sends more than it announced is cut off at once: the rest could fill
    // the disk.
    bool tooLarge = false;
    ftp.OnProgress = [&](TCustomFtpCli* sender, std::int32_t count, bool& abort) {
        if (count > size) {
            tooLarge = abort = true;
            ftp.SetWaitLimit(Clock::now()); // no wait for a reply that may never come
            return;
        }
        if (const TFtpProgress& progress = scope.CallersProgress()) progress(sender, count, abort);
    };
    const bool received = ftp.GetSync();
    const bool timedOut = !received && !tooLarge && Clock::now() >= end;
    ftp.QuitSync();
    const bool stopped = cancelled && cancelled();
    const std::optional<std::int64_t> got = platform::FileSize(part);
    if (tooLarge || (got && *got > size)) return TDownloadResult::TooLarge;
    if (timedOut) return TDownloadResult::TimedOut;
    if (stopped || !received || !got || *got != size)
        return stopped ? TDownloadResult::Cancelled : TDownloadResult::Incomplete;
    if (std::rename(part.c_str(), target.c_str()) != 0) return TDownloadResult::NotStored;
    scope.Keep();
    return TDownloadResult::Downloaded;
}

} // namespace update
