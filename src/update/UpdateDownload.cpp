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

TDownloadResult DownloadUpdateFile(TFtpClient& ftp, const std::string& target,
                                   const std::function<void(std::int64_t size)>& onSize,
                                   const std::function<bool()>& cancelled) {
    const std::string part = target + ".part";
    ftp.SetLocalFileName(part);
    if (!ftp.ConnectSync()) return TDownloadResult::NoConnection;
    ftp.CwdSync();
    if (!ftp.SizeSync()) {
        ftp.AbortSync();
        return TDownloadResult::NoSize;
    }
    const std::int64_t size = ftp.RemoteFileSize();
    if (onSize) onSize(size);
    ftp.TypeBinarySync();
    const bool received = ftp.GetSync();
    ftp.QuitSync();
    const bool stopped = cancelled && cancelled();
    const std::optional<std::int64_t> got = platform::FileSize(part);
    if (stopped || !received || !got || *got != size) {
        std::remove(part.c_str());
        return stopped ? TDownloadResult::Cancelled : TDownloadResult::Incomplete;
    }
    if (std::rename(part.c_str(), target.c_str()) != 0) {
        std::remove(part.c_str());
        return TDownloadResult::NotStored;
    }
    return TDownloadResult::Downloaded;
}

} // namespace update
