#pragma once

// Shared by the POP3 client's source files only.

#include "net/WinsockErrors.h"

#include <cstdint>
#include <string>
#include <utility>

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
