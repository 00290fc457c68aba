#pragma once

#include <chrono>
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
    TooLarge,     // more bytes came than SIZE announced; stopped, nothing changed
    OverLimit,    // SIZE announced more than the largest file accepted; nothing fetched
    TimedOut,     // the whole download took longer than allowed; stopped, nothing changed
};

// What a download may cost at most, whatever the server does.
struct TDownloadLimits {
    std::int64_t MaxSize = 16 * 1024 * 1024; // bytes; the setting MaxUpdateSize
    std::chrono::milliseconds TotalTime = std::chrono::minutes(10);
};

inline constexpr const char* kUpdateTooLargeText =
    "The update file is larger than the server announced";
inline constexpr const char* kUpdateOverLimitText =
    "The update file is larger than MaxUpdateSize allows";
inline constexpr const char* kUpdateTimedOutText =
    "The update download did not finish within 10 minutes";

// The part file a download of `target` writes first.
std::string UpdatePartFile(const std::string& target);
// Removes a part file that an earlier download left behind (a program that was killed).
void RemoveStaleUpdatePart(const std::string& target);

// Fetches the update file with the client's settings (host, folder, remote name) into
// `target`: connect, change folder, SIZE, binary type, RETR into target + ".part", QUIT.
// Only a transfer that ended well with as many bytes as SIZE announced replaces the target:
// a cut line in a partial file would become a short search string that matches good mail.
// The transfer stops as soon as it passes the announced size, and the whole download at the
// time limit; the part file is gone after every failure. `onSize` hears the announced size
// before the transfer; `cancelled` is asked on every progress event.
TDownloadResult DownloadUpdateFile(TFtpClient& ftp, const std::string& target,
                                   const std::function<void(std::int64_t size)>& onSize,
                                   const std::function<bool()>& cancelled,
                                   const TDownloadLimits& limits = {});

} // namespace update
