#include "DelayProxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <list>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadSize = 64 * 1024;
// Bytes held per direction before the relay stops reading from the sender, so that a
// receiver that does not read pushes back on its sender as a real network would.
constexpr std::size_t kMaxHeld = 4 * 1024 * 1024;

std::runtime_error Failure(const std::string& what) {
    return std::runtime_error("delay proxy: " + what + ": " + std::strerror(errno));
}

void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // the delay is ours alone
}

// Bytes read at one moment, due at that moment plus the delay; empty bytes stand for the
// sender's end of data.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

// One direction of a connection: from one socket into the other.
struct Direction {
    int from = -1, to = -1;
    std::deque<Chunk> held;
    std::size_t heldBytes = 0;
    bool readDone = false;  // the sender ended (or failed)
    bool writeDone = false; // the end was passed on
    bool blocked = false;   // the receiver's buffer is full: wait until it can take more
    bool hidePipelining = false;
    std::string partial; // with hidePipelining: the start of a line not yet complete
};

// The complete lines of partial + bytes without "PIPELINING"; the incomplete rest stays.
std::string WithoutPipelining(std::string& partial, std::string_view bytes) {
    partial += bytes;
    const std::size_t end = partial.rfind('\n') + 1; // 0 when no line is complete
    std::string lines;
    for (std::size_t at = 0, next; at < end; at = next) {
        next = partial.find('\n', at) + 1;
        const std::string_view line(partial.data() + at, next - at);
        if (line != "PIPELINING\r\n") lines += line;
    }
    partial.erase(0, end);
    return lines;
}

struct Connection {
    int client = -1, server = -1;
    Direction up, down; // client to server, server to client
    bool failed = false;

    bool Finished() const { return failed || (up.writeDone && down.writeDone); }
    ~Connection() {
        if (client >= 0) ::close(client);
        if (server >= 0) ::close(server);
    }
};

} // namespace

struct DelayProxy::Relay {
    int listener = -1;
    int wake[2] = {-1, -1};
    sockaddr_in target{};
    Clock::duration delay{};
    bool hidePipelining = false;
    std::list<Connection> connections;
    char buffer[kReadSize];
    std::thread thread;

    ~Relay() {
        for (int fd : {listener, wake[0], wake[1]})
            if (fd >= 0) ::close(fd);
    }

    void Run();
    void Accept();
    void Read(Direction& d, Connection& c);
    void Write(Direction& d, Connection& c, Clock::time_point now);
};

DelayProxy::DelayProxy(const std::string& targetHost, std::uint16_t targetPort,
                       std::chrono::milliseconds delay, bool hidePipelining)
    : relay_(std::make_unique<Relay>()) {
    Relay& r = *relay_;
    r.delay = delay;
    r.hidePipelining = hidePipelining;
    r.target.sin_family = AF_INET;
    r.target.sin_port = htons(targetPort);
    if (::inet_pton(AF_INET, targetHost.c_str(), &r.target.sin_addr) != 1) {
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        if (::getaddrinfo(targetHost.c_str(), nullptr, &hints, &found) != 0 || !found)
            throw std::runtime_error("delay proxy: unknown host " + targetHost);
        r.target.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    r.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    if (r.listener < 0 || ::bind(r.listener, reinterpret_cast<sockaddr*>(&local), size) != 0 ||
        ::listen(r.listener, 16) != 0 ||
        ::getsockname(r.listener, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        throw Failure("listen");
    port_ = ntohs(local.sin_port);
    if (::pipe2(r.wake, O_CLOEXEC | O_NONBLOCK) != 0) throw Failure("pipe");
    r.thread = std::thread([&r] { r.Run(); });
}

DelayProxy::~DelayProxy() {
    const char stop = 0;
    while (::write(relay_->wake[1], &stop, 1) < 0 && errno == EINTR) {
    }
    relay_->thread.join();
}

void DelayProxy::Relay::Run() {
    std::vector<pollfd> fds;
    for (;;) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        fds.assign({{wake[0], POLLIN, 0}, {listener, POLLIN, 0}});
        for (Connection& c : connections) {
            short clientEvents = 0, serverEvents = 0;
            for (Direction* d : {&c.up, &c.down}) {
                short& fromEvents = d->from == c.client ? clientEvents : serverEvents;
                short& toEvents = d->to == c.client ? clientEvents : serverEvents;
                if (!d->readDone && d->heldBytes < kMaxHeld) fromEvents |= POLLIN;
                if (d->held.empty()) continue;
                if (d->blocked)
                    toEvents |= POLLOUT;
                else
                    next = std::min(next, d->held.front().due);
            }
            // A socket that is waited on for nothing stays out: a closed one would report
            // its hang-up at once, again and again.
            fds.push_back({clientEvents ? c.client : -1, clientEvents, 0});
            fds.push_back({serverEvents ? c.server : -1, serverEvents, 0});
        }
        timespec wait{};
        if (next != Clock::time_point::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max<Clock::duration>(next - now, Clock::duration::zero()))
                                .count();
            wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        const timespec* timeout = next == Clock::time_point::max() ? nullptr : &wait;
        if (::ppoll(fds.data(), fds.size(), timeout, nullptr) < 0 && errno != EINTR) return;
        if (fds[0].revents) return; // asked to stop
        if (fds[1].revents & POLLIN) Accept();
        std::size_t at = 2;
        for (Connection& c : connections) {
            if (at + 1 >= fds.size()) break; // accepted just now
            const short clientReady = fds[at++].revents, serverReady = fds[at++].revents;
            for (Direction* d : {&c.up, &c.down}) {
                const short fromReady = d->from == c.client ? clientReady : serverReady;
                const short toReady = d->to == c.client ? clientReady : serverReady;
                if (fromReady & (POLLIN | POLLHUP | POLLERR)) Read(*d, c);
                if (toReady & (POLLOUT | POLLERR)) d->blocked = false;
            }
        }
        const Clock::time_point after = Clock::now();
        for (Connection& c : connections) {
            Write(c.up, c, after);
            Write(c.down, c, after);
        }
        connections.remove_if([](const Connection& c) { return c.Finished(); });
    }
}

void DelayProxy::Relay::Accept() {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    Connection& c = connections.emplace_back();
    c.client = client;
    // A blocking connect: the target is a local server, which answers at once.
    c.server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (c.server < 0 ||
        ::connect(c.server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        c.failed = true; // the client sees its connection closed
        return;
    }
    SetNonBlocking(c.client);
    SetNonBlocking(c.server);
    c.up.from = c.down.to = c.client;
    c.up.to = c.down.from = c.server;
    c.down.hidePipelining = hidePipelining;
}

void DelayProxy::Relay::Read(Direction& d, Connection& c) {
    if (d.readDone) return;
    const ssize_t n = ::recv(d.from, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n < 0) {
        c.failed = true;
        return;
    }
    d.readDone = n == 0;
    std::string bytes(buffer, static_cast<std::size_t>(n));
    if (d.hidePipelining) {
        bytes = WithoutPipelining(d.partial, bytes);
        if (d.readDone) bytes += std::exchange(d.partial, "");
        if (bytes.empty() && !d.readDone) return;
    }
    const Clock::time_point due = Clock::now() + delay;
    d.heldBytes += bytes.size();
    if (d.readDone && !bytes.empty()) d.held.push_back({due, std::move(bytes)});
    if (d.readDone)
        d.held.push_back({due, ""});
    else
        d.held.push_back({due, std::move(bytes)});
}

void DelayProxy::Relay::Write(Direction& d, Connection& c, Clock::time_point now) {
    while (!c.failed && !d.blocked && !d.held.empty() && d.held.front().due <= now) {
        Chunk& chunk = d.held.front();
        if (chunk.bytes.empty()) { // the sender's end
            ::shutdown(d.to, SHUT_WR);
            d.writeDone = true;
            d.held.pop_front();
            continue;
        }
        const ssize_t n = ::send(d.to, chunk.bytes.data() + chunk.sent,
                                 chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            d.blocked = true;
        } else if (n < 0) {
            c.failed = true;
        } else if ((chunk.sent += static_cast<std::size_t>(n)) == chunk.bytes.size()) {
            d.heldBytes -= chunk.bytes.size();
            d.held.pop_front();
        }
    }
}

} // namespace testsupport
