// Throughput of TWSocket over loopback against plain blocking sockets, so the difference is
// the cost of the event machinery: 200 MB, the sender writing in 1514-byte frames, the
// receiver reading 4096 bytes at a time.
//
//   bench_socket [megabytes] [runs]
//
// Each variant runs several times, alternating, and the median time is reported: the
// machine is shared, so single runs are noisy.

#include "net/WSocket.h"
#include "support/BenchSupport.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Both ends are TWSocket on one event loop: the sender queues 64 KB each time its queue
// has emptied (the socket cuts it into 1514-byte chunks), the receiver reads 4096 bytes
// per OnDataAvailable.
double EventLoopRun(uint64_t total) {
    TWSocket listener, client, server;
    listener.SetAddr("127.0.0.1");
    listener.SetPort("0");
    listener.Listen();
    listener.OnSessionAvailable = [&](TCustomWSocket*, uint16_t) { server.Dup(listener.Accept()); };

    uint64_t sent = 0, received = 0;
    Clock::time_point start;
    double elapsed = 0;
    static char block[65536];
    const auto sendMore = [&](TCustomWSocket* s, uint16_t) {
        if (sent == total) return;
        const auto n = static_cast<int>(std::min<uint64_t>(sizeof block, total - sent));
        sent += static_cast<uint64_t>(n);
        s->Send(block, n);
    };
    server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        char buf[4096];
        const int n = s->Receive(buf, sizeof buf);
        if (n > 0) received += static_cast<uint64_t>(n);
        if (received == total && elapsed == 0) {
            elapsed = Seconds(start);
            QCoreApplication::exit(0);
        }
    };
    client.OnSessionConnected = [&](TCustomWSocket* s, uint16_t) {
        start = Clock::now();
        client.OnDataSent = sendMore;
        sendMore(s, 0);
    };
    client.SetAddr("127.0.0.1");
    client.SetPort(listener.GetLocalPort());
    client.Connect();
    QTimer::singleShot(120000, [] { QCoreApplication::exit(1); });
    if (QCoreApplication::exec() != 0) {
        std::fprintf(stderr, "event-loop transfer timed out after %llu bytes\n",
                     static_cast<unsigned long long>(received));
        std::exit(1);
    }
    return elapsed;
}

// Plain blocking sockets, one thread writing 1514-byte blocks, one reading 4096.
double BlockingRun(uint64_t total) {
    const int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(lfd, 1);
    socklen_t len = sizeof a;
    getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    const int cfd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(cfd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) std::exit(1);
    const int sfd = accept(lfd, nullptr, nullptr);

    const auto start = Clock::now();
    std::thread writer([&] {
        static char block[1514];
        uint64_t sent = 0;
        while (sent < total) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(sizeof block, total - sent));
            const ssize_t w = send(cfd, block, n, 0);
            if (w <= 0) std::exit(1);
            sent += static_cast<uint64_t>(w);
        }
    });
    uint64_t received = 0;
    char buf[4096];
    while (received < total) {
        const ssize_t r = recv(sfd, buf, sizeof buf, 0);
        if (r <= 0) std::exit(1);
        received += static_cast<uint64_t>(r);
    }
    const double elapsed = Seconds(start);
    writer.join();
    close(cfd);
    close(sfd);
    close(lfd);
    return elapsed;
}

} // namespace

using benchsupport::Median;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const uint64_t total = megabytes * 1024 * 1024;
    const double mb = static_cast<double>(total) / (1024.0 * 1024.0);

    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<double> plainTimes, loopTimes;
    for (int i = 0; i < runs; ++i) {
        plainTimes.push_back(BlockingRun(total));
        loopTimes.push_back(EventLoopRun(total));
    }
    const double plain = Median(plainTimes);
    const double loop = Median(loopTimes);
    std::printf("%llu MB, median of %d runs each\n", static_cast<unsigned long long>(megabytes),
                runs);
    std::printf("plain blocking sockets (threads): %8.1f MB/s (%.3f s)\n", mb / plain, plain);
    std::printf("TWSocket on the event loop:       %8.1f MB/s (%.3f s)\n", mb / loop, loop);
    std::printf("ratio TWSocket / plain:           %8.2f\n", plain / loop);
    return 0;
}
