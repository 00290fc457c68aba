#pragma once

// A socket address of either family, and its text: dotted IPv4 or IPv6.

#include <cstdint>
#include <optional>
#include <string>
#include <sys/socket.h>

struct TSockAddr {
    sockaddr_storage Storage{};
    socklen_t Len = 0;

    int Family() const { return Storage.ss_family; }
    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&Storage); }
    // Port in host order.
    uint16_t Port() const;
    void SetPort(uint16_t Port);
};

// An IPv4 address in any form the classic dotted parser takes (the broadcast address
// included), or an IPv6 address; none for anything else, a host name for one.
std::optional<TSockAddr> NumericAddr(const std::string& Text);

// Dotted IPv4 text, or IPv6 text in its shortest form; an IPv4 peer met on an IPv6 socket
// (::ffff:a.b.c.d) reads as its dotted IPv4 address. Empty for another family.
std::string AddrText(const sockaddr* Addr);

// The wildcard address of the family, port 0.
TSockAddr AnyAddr(int Family);
