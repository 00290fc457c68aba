#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TConfigData;
class TFtpClient;

namespace update {

// Points the client at the update server of the settings (UpdateServer, port "ftp" unless it
// names one): anonymous login, /pub/apps/spamupd.txt, binary, a 60-second limit.
void ConfigureUpdateClient(TFtpClient& ftp, const TConfigData& config);

enum class TDownloadResult {
    Downloaded,   // the target now holds the whole file
    NoConnection, // no connection or login
    NoSize,       // SIZE refused: the file is not there
    Cancelled,    // stopped by the caller; nothing changed
    Incomplete,   // the transfer failed or fell short of the announced size; nothing changed
    NotStored,    // complete, but it could not replace the target
};

// Fetches the update file with the client's settings (host, folder, remote name) into
// `target`: connect, change folder, SIZE, binary type, RETR into target + ".part", QUIT.
// Only a transfer that ended well with as many bytes as SIZE announced replaces the target:
// a cut line in a partial file would become a short search string that matches good mail.
// `onSize` hears the announced size before the transfer; `cancelled` is asked on every
// progress event.
TDownloadResult DownloadUpdateFile(TFtpClient& ftp, const std::string& target,
                                   const std::function<void(std::int64_t size)>& onSize,
                                   const std::function<bool()>& cancelled);

} // namespace update
