#pragma once

// Reading the quarantine back: the messages of quarantine.1.mbox and quarantine.mbox as the
// quarantine copy wrote them, and each one's bytes as they were received.

#include <QDateTime>

#include <cstdint>
#include <string>
#include <vector>

namespace screening {

struct TQuarantinedMessage {
    std::string File;            // the mbox file that holds it
    std::uint64_t Separator = 0; // where its "From " separator line starts
    std::uint64_t Offset = 0;    // where its first line starts in the file
    std::uint64_t Length = 0;    // its bytes in the file, ">From " quoting included
    std::uint64_t Size = 0;      // its bytes as received (quoting undone)
    QDateTime Kept;              // from the separator line (UTC); invalid when unreadable
    std::string From;            // decoded to UTF-8
    std::string Subject;         // decoded to UTF-8
};

// The messages of the older file, then of the current one, oldest first; a missing file holds
// none. Throws platform::EInOutError when a file exists but cannot be read.
std::vector<TQuarantinedMessage> ReadQuarantine(const std::string& quarantinePath);

// The message's bytes as received: its lines, each ending in LF, with the quoting undone
// exactly as it was applied. Throws platform::EInOutError when the file cannot be read or no
// longer holds the message (it rotated meanwhile).
std::string QuarantinedMessageBytes(const TQuarantinedMessage& message);

// Writes the message to `path` (replacing the file), for a mail program to open.
void ExportQuarantinedMessage(const TQuarantinedMessage& message, const std::string& path);

} // namespace screening
