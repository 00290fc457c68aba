// What the socket costs besides throughput: 50 MB each way at once on one event loop (and
// whether it arrived whole and in order), the CPU time of two seconds idle with an open
// connection, and the CPU time of a two-second ReadLine wait on a silent peer, with a
// countdown and MultiThreaded.
//
//   bench_socket_costs [megabytes]
//
// A busy loop would spend the whole wait; the event-driven socket should spend almost none.

#include "net/WSocket.h"
#include "net/WSocketTestSupport.h" // tests/net: the loopback pair and the byte pattern
#include "net/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace wsockettest;
using testsupport::WaitUntil;

// One end of the duplex run: sends the pattern as its queue empties, checks what comes in.
struct Streamer {
    std::uint64_t total, sent = 0, received = 0;
    bool whole = true;
    void Attach(TWSocket& s) {
        s.OnDataSent = [this](TCustomWSocket* sock, uint16_t) { SendMore(*sock); };
        s.OnDataAvailable = [this](TCustomWSocket* sock, uint16_t) {
            char buf[65536];
            const int n = sock->Receive(buf, sizeof buf);
            for (int i = 0; i < n; ++i)
                if (buf[i] != PatternByte(received + static_cast<std::uint64_t>(i))) whole = false;
            if (n > 0) received += static_cast<std::uint64_t>(n);
        };
    }
    void SendMore(TCustomWSocket& s) {
        if (sent == total) return;
        std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(65536, total - sent)),
                          '\0');
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = PatternByte(sent + i);
        sent += block.size();
        s.Send(block.data(), static_cast<int>(block.size()));
    }
};

void Duplex(std::uint64_t megabytes) {
    const std::uint64_t total = megabytes << 20;
    ConnectedPair pair;
    Streamer a{total}, b{total};
    a.Attach(pair.client);
    b.Attach(pair.server);
    QElapsedTimer t;
    t.start();
    a.SendMore(pair.client);
    b.SendMore(pair.server);
    const bool done = WaitUntil([&] { return a.received == total && b.received == total; }, 120000);
    const double s = static_cast<double>(t.elapsed()) / 1000;
    std::printf("%llu MB each way at once: %.3f s (%.1f MB/s each way), %s\n",
                static_cast<unsigned long long>(megabytes), s, static_cast<double>(megabytes) / s,
                done && a.whole && b.whole ? "whole and in order" : "DATA LOST OR OUT OF ORDER");
}

void IdleConnection() {
    ConnectedPair pair;
    pair.client.SendStr("hello"); // every notifier used once
    WaitUntil([&] { return pair.server.RcvdCount() > 0; });
    QEventLoop idle;
    QTimer::singleShot(2000, &idle, &QEventLoop::quit);
    const double before = ProcessCpuSeconds();
    idle.exec();
    std::printf("CPU time over 2 s idle with an open connection: %.4f s\n",
                ProcessCpuSeconds() - before);
}

void ReadLineWait(bool multiThreaded) {
    ConnectedPair pair; // the server end stays silent
    TWait wait;
    if (multiThreaded)
        pair.client.SetMultiThreaded(true);
    else
        pair.client.SetWaitCtrl(&wait);
    std::string line;
    QElapsedTimer t;
    t.start();
    const double before = ProcessCpuSeconds();
    pair.client.ReadLine(2, line);
    std::printf("CPU time over a %.1f s ReadLine wait (%s): %.4f s\n",
                static_cast<double>(t.elapsed()) / 1000,
                multiThreaded ? "MultiThreaded" : "countdown", ProcessCpuSeconds() - before);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Duplex(argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50);
    IdleConnection();
    ReadLineWait(false);
    ReadLineWait(true);
    return 0;
}
