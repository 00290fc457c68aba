#include "net/SockAddr.h"

#include <arpa/inet.h>
#include <netinet/in.h>

uint16_t TSockAddr::Port() const {
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(Raw())->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(Raw())->sin_port);
}

void TSockAddr::SetPort(uint16_t Port) {
    if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(Raw())->sin6_port = htons(Port);
    else
        reinterpret_cast<sockaddr_in*>(Raw())->sin_port = htons(Port);
}

std::optional<TSockAddr> NumericAddr(const std::string& Text) {
    TSockAddr a;
    auto* v4 = reinterpret_cast<sockaddr_in*>(a.Raw());
    if (inet_aton(Text.c_str(), &v4->sin_addr) != 0) {
        v4->sin_family = AF_INET;
        a.Len = sizeof(sockaddr_in);
        return a;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(a.Raw());
    if (inet_pton(AF_INET6, Text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        a.Len = sizeof(sockaddr_in6);
        return a;
    }
    return std::nullopt;
}

std::string AddrText(const sockaddr* Addr) {
    char text[INET6_ADDRSTRLEN] = {};
    if (Addr->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(Addr)->sin_addr, text,
                  sizeof text);
        return text;
    }
    if (Addr->sa_family != AF_INET6) return "";
    const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(Addr)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6))
        inet_ntop(AF_INET, a6.s6_addr + 12, text, sizeof text);
    else
        inet_ntop(AF_INET6, &a6, text, sizeof text);
    return text;
}

TSockAddr AnyAddr(int Family) {
    TSockAddr a;
    a.Storage.ss_family = static_cast<sa_family_t>(Family);
    a.Len = Family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return a;
}
