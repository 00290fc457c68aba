#pragma once

// Loopback peers and event recorders shared by the socket tests.

#include "net/WSocket.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <ctime>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace wsockettest {

// The message an operation raises, or "" when it raises nothing.
template <class Fn> std::string Raised(Fn&& fn) {
    try {
        fn();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "";
}

// A byte pattern that repeats only every 251 * 256 bytes, so a lost, doubled or swapped
// block shows at once.
inline char PatternByte(uint64_t i) {
    return static_cast<char>((i % 251) ^ ((i / 251) & 0xFF));
}

inline double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A plain blocking client connected to 127.0.0.1:port, or -1.
inline int RawConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return fd;
    close(fd);
    return -1;
}

// A plain blocking listener on 127.0.0.1 with a port the kernel picked.
class RawListener {
  public:
    RawListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd_, 5);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~RawListener() { close(fd_); }
    std::string PortText() const { return std::to_string(port_); }
    int Port() const { return port_; }
    int Fd() const { return fd_; }
    // Runs the event loop until a client arrives; -1 on time-out.
    int AcceptFd(int timeoutMs = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (!testsupport::WaitUntil([&] { return poll(&p, 1, 0) > 0; }, timeoutMs)) return -1;
        return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // Connects s here and runs the event loop until both ends hold the connection; the
    // accepted descriptor, or -1 on time-out.
    int Connected(TCustomWSocket& s) {
        s.SetAddr("127.0.0.1");
        s.SetPort(PortText());
        s.Connect();
        const int fd = AcceptFd();
        if (fd < 0 || !testsupport::WaitUntil([&] { return s.State() == wsConnected; })) return -1;
        return fd;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Records the events of one socket as short texts, in the order they fire.
struct EventLog {
    std::vector<std::string> events;
    std::string data;

    // Reads everything on each OnDataAvailable unless readData is false.
    void Attach(TCustomWSocket& s, bool readData = true) {
        s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
            events.push_back("state " + std::to_string(o) + ">" + std::to_string(n));
        };
        s.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) {
            events.push_back("closed " + std::to_string(e));
        };
        if (readData)
            s.OnDataAvailable = [this](TCustomWSocket* sender, uint16_t) {
                char buf[4096];
                const int n = sender->Receive(buf, sizeof buf);
                if (n > 0) data.append(buf, static_cast<size_t>(n));
                events.push_back("data " + std::to_string(n));
            };
    }
    long Count(const std::string& e) const { return std::count(events.begin(), events.end(), e); }
    bool Has(const std::string& e) const { return Count(e) > 0; }
};

// A connected pair of sockets on the event loop: a client that connected to a listening
// socket, and the server side that took the accepted handle over with Dup.
struct ConnectedPair {
    TWSocket listener;
    TWSocket client;
    TWSocket server;

    ConnectedPair() {
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.SetProto("tcp");
        EXPECT_EQ(listener.Listen(), 0);
        listener.OnSessionAvailable = [this](TCustomWSocket*, uint16_t) {
            server.Dup(listener.Accept());
        };
        client.SetAddr("127.0.0.1");
        client.SetPort(listener.GetLocalPort());
        client.SetProto("tcp");
        client.Connect();
        EXPECT_TRUE(testsupport::WaitUntil(
            [&] { return client.State() == wsConnected && server.State() == wsConnected; }));
    }
};

} // namespace wsockettest
