#pragma once

// Names for the clients' enums, so that a failed assertion prints "pop3Top", not "8".

#include "net/FtpCli.h"
#include "net/Pop3Prot.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace testsupport {

template <class Enum, std::size_t N> std::string EnumName(Enum v, const char* const (&names)[N]) {
    const auto i = static_cast<std::size_t>(v);
    return i < N ? names[i] : "#" + std::to_string(i);
}

inline std::string Name(TPop3ProtocolState v) {
    static const char* const names[] = {"pop3Disconnected", "pop3WaitingUser", "pop3WaitingPass",
                                        "pop3Transaction"};
    return EnumName(v, names);
}
inline std::string Name(TPop3State v) {
    static const char* const names[] = {
        "pop3Ready",         "pop3DnsLookup",     "pop3Connecting",      "pop3Connected",
        "pop3InternalReady", "pop3WaitingBanner", "pop3WaitingResponse", "pop3Abort"};
    return EnumName(v, names);
}
inline std::string Name(TPop3Request v) {
    static const char* const names[] = {"pop3Connect", "pop3User", "pop3Pass", "pop3RPop",
                                        "pop3Quit",    "pop3Stat", "pop3List", "pop3Retr",
                                        "pop3Top",     "pop3Dele", "pop3Noop", "pop3Last",
                                        "pop3RSet",    "pop3Uidl", "pop3APop", "pop3Login"};
    return EnumName(v, names);
}
inline std::string Name(TFtpSessionState v) {
    static const char* const names[] = {
        "ftpStNotConnected", "ftpStReady",    "ftpStStepReady",      "ftpStResolving",
        "ftpStConnected",    "ftpStAborting", "ftpStAwaitingBanner", "ftpStAwaitingReply"};
    return EnumName(v, names);
}
inline std::string Name(TFtpRequest v) {
    static const char* const names[] = {"ftpRqOpen",
                                        "ftpRqUser",
                                        "ftpRqPass",
                                        "ftpRqCwd",
                                        "ftpRqPwd",
                                        "ftpRqCDup",
                                        "ftpRqTypeSet",
                                        "ftpRqDataPort",
                                        "ftpRqRest",
                                        "ftpRqRetr",
                                        "ftpRqList",
                                        "ftpRqNlst",
                                        "ftpRqStor",
                                        "ftpRqAppe",
                                        "ftpRqSyst",
                                        "ftpRqSize",
                                        "ftpRqMkd",
                                        "ftpRqRmd",
                                        "ftpRqDele",
                                        "ftpRqRenFrom",
                                        "ftpRqRenTo",
                                        "ftpRqQuote",
                                        "ftpRqQuit",
                                        "ftpRqAbort",
                                        "ftpRqConnect",
                                        "ftpRqGet",
                                        "ftpRqPut",
                                        "ftpRqAppend",
                                        "ftpRqDir",
                                        "ftpRqLs",
                                        "ftpRqRen",
                                        "ftpRqResumeGet",
                                        "ftpRqDownloadFile",
                                        "ftpRqUploadFile",
                                        "ftpRqAppendToFile",
                                        "ftpRqListDirectory",
                                        "ftpRqListNames",
                                        "ftpRqQuerySystem",
                                        "ftpRqQueryFileSize",
                                        "ftpRqMakeDirectory",
                                        "ftpRqRemoveDirectory",
                                        "ftpRqDeleteFile",
                                        "ftpRqRenameFile",
                                        "ftpRqSendQuote",
                                        "ftpRqResumeDownloadFile"};
    return EnumName(v, names);
}

} // namespace testsupport

inline void PrintTo(TPop3ProtocolState v, std::ostream* os) {
    *os << testsupport::Name(v);
}
inline void PrintTo(TPop3State v, std::ostream* os) {
    *os << testsupport::Name(v);
}
inline void PrintTo(TPop3Request v, std::ostream* os) {
    *os << testsupport::Name(v);
}
inline void PrintTo(TFtpSessionState v, std::ostream* os) {
    *os << testsupport::Name(v);
}
inline void PrintTo(TFtpRequest v, std::ostream* os) {
    *os << testsupport::Name(v);
}
