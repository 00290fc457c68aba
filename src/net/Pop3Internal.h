#pragma once

// Shared by the POP3 client's source files only.

#include "net/LineFramer.h"
#include "net/Pop3Prot.h"
#include "net/WinsockErrors.h"

#include <cstdint>
#include <string>
#include <utility>

// The error code of a request that the server answered with -ERR.
constexpr std::uint16_t kPop3NegativeReply = 500;

// A reply that begins with "+" ("+OK"); "-ERR" or anything else is negative.
inline bool Pop3Positive(const std::string& line) {
    return !line.empty() && line[0] == '+';
}

// What the refusals below call the two credentials.
constexpr const char* kPop3UserName = "user name";
constexpr const char* kPop3Password = "password";

// A value that goes into a command line must not carry a line break: the server would take
// the rest as a command of its own (a password could delete mail).
inline void Pop3RefuseLineBreak(const std::string& value, const char* what) {
    if (TLineFramer::HasLineBreak(value))
        throw Pop3Exception(std::string("The ") + what + " contains a line break");
}

// The reply text of a network failure.
inline std::string Pop3WinsockFailure(std::uint16_t error) {
    return "-ERR " + WinsockErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

// Calls an event's handler through a copy: a handler may replace or clear itself, which
// must not destroy the code that is running.
template <class Handler, class... Args> void Pop3Call(const Handler& handler, Args&&... args) {
    if (!handler) return;
    const Handler copy = handler;
    copy(std::forward<Args>(args)...);
}
