#pragma once

#include "net/WinsockErrors.h"

#include <cstdint>

// How a mail connection is secured. Ordinals are the values of the Security setting.
enum TSecurity : int {
    secNone = 0, // plain POP3
    secTls = 1,  // TLS from the first byte (POP3S)
    secStls = 2, // plain until the greeting, then STLS (RFC 2595) and TLS
};

// The code a connection ends with when it could not be secured.
inline constexpr std::uint16_t kTlsFailure = wsaConnectionAborted;
