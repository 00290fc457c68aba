#pragma once

namespace testservers {

// A port on 127.0.0.1 that was free a moment ago (the kernel's choice for port 0); 0 when
// none could be had.
int PickFreePort();

// Whether something accepts connections on 127.0.0.1 at this port.
bool PortAccepts(int port);

} // namespace testservers
