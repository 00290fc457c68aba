#pragma once

#include <string>

namespace testservers {

// A port on the loopback address `host` (127.0.0.1 or ::1) that was free a moment ago (the
// kernel's choice for port 0); 0 when none could be had.
int PickFreePort(const std::string& host = "127.0.0.1");

// Whether something accepts connections on `host` at this port.
bool PortAccepts(int port, const std::string& host = "127.0.0.1");

} // namespace testservers
