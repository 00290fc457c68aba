// The blocking operations of the socket against loopback peers, each with a countdown and
// MultiThreaded: what they return and when they end. What a wait costs is measured by
// bench_socket_costs.

#include "WSocketTestSupport.h"

#include "net/Wait.h"
#include "support/ScriptedServer.h"

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

using namespace wsockettest;
using namespace std::chrono_literals;
using testsupport::ScriptedServer;

namespace {

enum class Mode { Countdown, MultiThreaded };

// A socket set up for blocking operations in one mode; either part may be destroyed early.
struct Blocking {
    std::unique_ptr<TWSocket> s = std::make_unique<TWSocket>();
    std::unique_ptr<TWait> w = std::make_unique<TWait>();
    explicit Blocking(Mode m) {
        if (m == Mode::Countdown)
            s->SetWaitCtrl(w.get());
        else
            s->SetMultiThreaded(true);
    }
};

std::string Name(Mode m) {
    return m == Mode::Countdown ? "countdown" : "MultiThreaded";
}

double Since(const QElapsedTimer& t) {
    return static_cast<double>(t.elapsed()) / 1000;
}

// Blocks the test thread, without the event loop, until fd can be read, or 5 s.
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

const std::string kEightMegabytes = [] {
    std::string s(8u << 20, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = PatternByte(i);
    return s;
}();

// A peer that reads slowly in its own thread: whether all of the pattern came, in order.
std::future<bool> ReadSlowly(int fd) {
    return std::async(std::launch::async, [fd] {
        char buf[16384];
        bool same = true;
        for (uint64_t got = 0; got < kEightMegabytes.size();) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return false;
            for (ssize_t i = 0; i < n; ++i)
                same = same && buf[i] == PatternByte(got + static_cast<uint64_t>(i));
            got += static_cast<uint64_t>(n);
            std::this_thread::sleep_for(1ms);
        }
        return same;
    });
}

} // namespace

TEST(WSocketWait, ReadLineTakesOneLineAtATime) {
    const std::string a254(254, 'a'), b46(46, 'b');
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script; // the client sends "go" before each read
        int timeout;
        std::vector<std::string> lines;
        int tooLong;
        bool closed;
        double firstReadAtLeast;
    };
    // What follows a time-out is the next line, not the rest of the timed-out one.
    // clang-format off
    const Case cases[] = {
        {"300 characters", [&](auto& v) { v.Expect("go").Send(a254 + b46 + "\r\n"); },
         5, {a254, b46}, 1, false, 0},
        {"many packets", [](auto& v) { v.Expect("go").SendBytewise("split\r\nline two\nrest"); },
         5, {"split", "line two"}, 0, false, 0},
        {"closed mid-line", [](auto& v) { v.Expect("go").SendAndClose("partial"); },
         5, {"partial"}, 0, true, 0},
        {"time-out", [](auto& v) { v.Expect("go").Send("par").Expect("go").SendLine("t"); },
         2, {"par", "t"}, 0, false, 1.8},
    };
    // clang-format on
    for (Mode mode : {Mode::Countdown, Mode::MultiThreaded})
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + (", " + Name(mode)));
            ScriptedServer server;
            c.script(server);
            server.Start();
            Blocking b(mode);
            int tooLong = 0;
            b.s->OnLineTooLong = [&](TCustomWSocket*) { ++tooLong; };
            b.s->SetAddr("127.0.0.1");
            b.s->SetPort(server.PortText());
            b.s->Connect();
            ASSERT_TRUE(b.s->Wait(5, wsConnected));

            std::vector<std::string> lines(c.lines.size());
            double firstRead = 0;
            for (std::string& line : lines) {
                QElapsedTimer start;
                start.start();
                b.s->SendStr("go\r\n");
                b.s->ReadLine(c.timeout, line);
                if (firstRead == 0) firstRead = Since(start);
            }
            EXPECT_EQ(lines, c.lines);
            EXPECT_EQ(tooLong, c.tooLong);
            EXPECT_EQ(b.s->State() == wsClosed, c.closed);
            EXPECT_GE(firstRead, c.firstReadAtLeast);
            EXPECT_TRUE(server.Failures().empty());
        }
}

TEST(WSocketWait, WithoutACountdownTheOperationsRefuseAndReadNothing) {
    RawListener peer;
    TWSocket s;
    const int fd = peer.Connected(s);
    ASSERT_EQ(write(fd, "hello\r\n", 7), 7);
    ASSERT_TRUE(Readable(s.HSocket()));
    std::string line = "untouched";
    EXPECT_EQ(Raised([&] { s.ReadLine(5, line); }), "No wait object assigned");
    EXPECT_EQ(Raised([&] { s.Flush(); }), "No wait object assigned");
    EXPECT_EQ(Raised([&] { s.Wait(5, wsClosed); }),
              "Error 11004 in function TWSocket.Wait\r\nNo Data");
    s.OnError = [](TCustomWSocket*) {};
    EXPECT_FALSE(s.Wait(5, wsClosed));
    EXPECT_EQ(s.LastError(), 11004);
    EXPECT_EQ(line, "untouched");
    {
        TWait w;
        s.SetWaitCtrl(&w);
        s.ReadLine(5, line);
        EXPECT_EQ(line, "hello"); // all of it was left for a read that can wait
    }
    EXPECT_EQ(s.WaitCtrl(), nullptr); // the countdown is gone, and the socket knows
    close(fd);
}

TEST(WSocketWait, WaitForAConnectionAndItsTimeOut) {
    // A listener whose one backlog place is taken never answers another connect.
    RawListener full;
    ASSERT_EQ(listen(full.Fd(), 0), 0);
    const int taken = RawConnect(full.Port());
    for (Mode mode : {Mode::Countdown, Mode::MultiThreaded}) {
        SCOPED_TRACE(Name(mode));
        const bool countdown = mode == Mode::Countdown;
        RawListener peer;
        Blocking b(mode);
        b.s->SetAddr("127.0.0.1");
        b.s->SetPort(peer.PortText());
        b.s->Connect();
        QElapsedTimer start;
        start.start();
        EXPECT_TRUE(b.s->Wait(5, wsConnected));
        EXPECT_LT(Since(start), 2);
        EXPECT_EQ(b.w->ModalResult(), countdown ? 1 : 0);
        EXPECT_FALSE(b.w->Visible());

        Blocking t(mode);
        t.s->SetAddr("127.0.0.1");
        t.s->SetPort(full.PortText());
        t.s->Connect();
        start.start();
        EXPECT_FALSE(t.s->Wait(1, wsConnected));
        EXPECT_GE(Since(start), 0.9);
        EXPECT_EQ(t.s->State(), wsConnecting);
        EXPECT_EQ(t.w->ModalResult(), countdown ? 2 : 0);
    }
    close(taken);
}

TEST(WSocketWait, FlushEndsWhenAllIsSentOrAtItsTimeOut) {
    const int size = static_cast<int>(kEightMegabytes.size());
    for (Mode mode : {Mode::Countdown, Mode::MultiThreaded}) {
        SCOPED_TRACE(Name(mode));
        RawListener peer;
        Blocking b(mode);
        const int fd = peer.Connected(*b.s);
        std::future<bool> arrived = ReadSlowly(fd);
        ASSERT_EQ(b.s->Send(kEightMegabytes.data(), size), size);
        b.s->Flush();
        EXPECT_EQ(b.w->ModalResult(), mode == Mode::Countdown ? 1 : 0);
        // The event loop does not run any more: only what Flush handed over can arrive.
        const bool came = arrived.wait_for(30s) == std::future_status::ready;
        shutdown(fd, SHUT_RDWR);
        EXPECT_TRUE(came && arrived.get());
        close(fd);
    }

    // A reader that never reads: the countdown ends the flush, and says so.
    RawListener peer;
    Blocking b(Mode::Countdown);
    const int fd = peer.Connected(*b.s);
    b.s->Send(kEightMegabytes.data(), size);
    b.s->SetFlushTimeout(1);
    QElapsedTimer start;
    start.start();
    b.s->Flush();
    EXPECT_GE(Since(start), 0.9);
    EXPECT_LT(Since(start), 5);
    EXPECT_EQ(b.w->ModalResult(), 2);
    EXPECT_FALSE(b.w->Visible());
    EXPECT_EQ(b.s->State(), wsConnected);
    close(fd);
}

TEST(WSocketWait, WaitForCloseDeliversWhatCameBeforeTheClose) {
    RawListener peer;
    TWSocket s;
    EventLog log;
    log.Attach(s);
    const int fd = peer.Connected(s);
    ASSERT_EQ(write(fd, "early ", 6), 6);
    QTimer::singleShot(50, [fd] {
        EXPECT_EQ(write(fd, "bye", 3), 3);
        close(fd);
    });
    s.WaitForClose();
    EXPECT_EQ(log.data, "early bye");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(WSocketWait, DestroyingTheSocketOrItsCountdownInsideAWaitEndsIt) {
    const std::pair<std::string, std::function<void(TWSocket*, std::string&)>> ops[] = {
        {"ReadLine", [](TWSocket* s, std::string& line) { s->ReadLine(10, line); }},
        {"Wait", [](TWSocket* s, std::string&) { s->Wait(10, wsClosed); }},
        {"Flush", [](TWSocket* s, std::string&) { s->Flush(); }},
        {"WaitForClose", [](TWSocket* s, std::string&) { s->WaitForClose(); }},
    };
    for (Mode mode : {Mode::Countdown, Mode::MultiThreaded})
        for (const auto& [name, op] : ops)
            for (const bool socketGoes : {true, false}) {
                // Only a wait on the countdown ends with it.
                if (!socketGoes && (mode != Mode::Countdown || name == "WaitForClose")) continue;
                SCOPED_TRACE(name + ", " + Name(mode) + (socketGoes ? ", socket" : ", countdown"));
                RawListener peer;
                Blocking b(mode);
                b.s->SetFlushTimeout(10);
                const int fd = peer.Connected(*b.s);
                ASSERT_EQ(write(fd, "part", 4), 4);
                ASSERT_TRUE(Readable(b.s->HSocket()));
                if (name == "Flush")
                    b.s->Send(kEightMegabytes.data(), static_cast<int>(kEightMegabytes.size()));
                QObject scope; // no timer outlives its case
                QTimer::singleShot(100, &scope, [&] { socketGoes ? b.s.reset() : b.w.reset(); });
                std::string line;
                QElapsedTimer start;
                start.start();
                op(b.s.get(), line);
                EXPECT_LT(Since(start), 5);
                EXPECT_EQ(line, name == "ReadLine" ? "part" : "");
                close(fd);
            }
}
