#include "ServerPorts.h"

#include "net/SockAddr.h"

#include <sys/socket.h>
#include <unistd.h>

namespace testservers {

int PickFreePort(const std::string& host) {
    std::optional<TSockAddr> addr = NumericAddr(host);
    if (!addr) return 0;
    int fd = ::socket(addr->Family(), SOCK_STREAM, 0);
    if (fd < 0) return 0;
    int port = 0;
    if (::bind(fd, addr->Raw(), addr->Len) == 0 && ::getsockname(fd, addr->Raw(), &addr->Len) == 0)
        port = addr->Port();
    ::close(fd);
    return port;
}

bool PortAccepts(int port, const std::string& host) {
    std::optional<TSockAddr> addr = NumericAddr(host);
    if (!addr) return false;
    int fd = ::socket(addr->Family(), SOCK_STREAM, 0);
    if (fd < 0) return false;
    addr->SetPort(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, addr->Raw(), addr->Len) == 0;
    ::close(fd);
    return ok;
}

} // namespace testservers
