// The blocking operations of the socket against loopback peers, each with a countdown and
// MultiThreaded: what they return, when they end, and that waiting costs no CPU.

#include "WSocketTestSupport.h"

#include "net/Wait.h"
#include "support/ScriptedServer.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

using namespace wsockettest;
using testsupport::ScriptedServer;
using testsupport::WaitUntil;

namespace {

enum class Mode { Countdown, MultiThreaded };
const Mode kModes[] = {Mode::Countdown, Mode::MultiThreaded};

std::string Name(Mode m) {
    return m == Mode::Countdown ? "countdown" : "MultiThreaded";
}

void Prepare(TCustomWSocket& s, TWait& w, Mode m) {
    if (m == Mode::Countdown)
        s.SetWaitCtrl(&w);
    else
        s.SetMultiThreaded(true);
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Stopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

// Blocks the test thread (no event loop) until fd has something to read, or 5 s.
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

char PatternByte(uint64_t i) {
    return static_cast<char>((i % 251) ^ ((i / 251) & 0xFF));
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = PatternByte(i);
    return s;
}

// A peer that reads slowly in its own thread and checks what it gets.
class SlowReader {
  public:
    SlowReader(int fd, uint64_t expected) : thread_([this, fd, expected] { Run(fd, expected); }) {}
    ~SlowReader() { thread_.join(); }
    // Waits without the event loop: only what was handed to the platform can still arrive.
    bool AllArrived() {
        std::unique_lock lock(mutex_);
        return done_cv_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; });
    }
    uint64_t got = 0;
    bool mismatch = false;

  private:
    void Run(int fd, uint64_t expected) {
        char buf[16384];
        while (got < expected) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] != PatternByte(got + static_cast<uint64_t>(i))) mismatch = true;
            got += static_cast<uint64_t>(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard lock(mutex_);
        done_ = true;
        done_cv_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

constexpr size_t kEightMegabytes = 8u * 1024 * 1024;

} // namespace

TEST(WSocketWait, ReadLineTakesOneLineAtATime) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script; // each read is preceded by "go"
        int timeout;
        std::vector<std::string> lines;
        int tooLong;
        bool closed;
        double firstReadSeconds; // at least
    };
    const std::string a254(254, 'a'), b46(46, 'b');
    const Case cases[] = {
        {"a line of 300 characters",
         [&](ScriptedServer& sv) { sv.Expect("go").Send(a254 + b46 + "\r\n").Expect("go"); },
         5,
         {a254, b46},
         1,
         false,
         0},
        {"lines split across many packets",
         [](ScriptedServer& sv) {
             sv.Expect("go").SendBytewise("split\r\nline two\nrest").Expect("go");
         },
         5,
         {"split", "line two"},
         0,
         false,
         0},
        {"a peer that closes mid-line",
         [](ScriptedServer& sv) { sv.Expect("go").SendAndClose("partial"); },
         5,
         {"partial"},
         0,
         true,
         0},
        // What comes after a time-out is the next line, not the rest of the timed-out one.
        {"a time-out",
         [](ScriptedServer& sv) { sv.Expect("go").Send("par").Expect("go").SendLine("t"); },
         2,
         {"par", "t"},
         0,
         false,
         1.8},
    };
    for (Mode mode : kModes)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + Name(mode));
            ScriptedServer server;
            c.script(server);
            server.Start();
            TWSocket s;
            TWait w;
            Prepare(s, w, mode);
            int tooLong = 0;
            s.OnLineTooLong = [&](TCustomWSocket*) { ++tooLong; };
            s.SetAddr("127.0.0.1");
            s.SetPort(server.PortText());
            s.Connect();
            ASSERT_TRUE(s.Wait(5, wsConnected));

            const double cpu = CpuSeconds();
            std::vector<std::string> lines;
            double firstRead = 0;
            for (size_t i = 0; i < c.lines.size(); ++i) {
                const Stopwatch watch;
                s.SendStr("go\r\n");
                std::string line;
                s.ReadLine(c.timeout, line);
                lines.push_back(line);
                if (i == 0) firstRead = watch.Seconds();
            }
            EXPECT_EQ(lines, c.lines);
            EXPECT_EQ(tooLong, c.tooLong);
            EXPECT_EQ(s.State() == wsClosed, c.closed);
            EXPECT_GE(firstRead, c.firstReadSeconds);
            // Waiting for data blocks in the event loop; a polling wait would use it all.
            const double used = CpuSeconds() - cpu;
            if (c.firstReadSeconds > 0)
                std::printf("[ measured ] CPU time over a %.1f s ReadLine wait (%s): %.4f s\n",
                            firstRead, Name(mode).c_str(), used);
            EXPECT_LT(used, 0.2);
            EXPECT_TRUE(server.Failures().empty());
        }
}

TEST(WSocketWait, WithoutACountdownTheOperationsRefuseAndReadNothing) {
    RawListener peer;
    TWSocket s;
    const int fd = peer.Connected(s);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "hello\r\n", 7), 7);
    ASSERT_TRUE(Readable(s.HSocket()));
    std::string line = "untouched";
    const struct {
        const char* name;
        std::function<void()> op;
        std::string message;
    } cases[] = {
        {"ReadLine", [&] { s.ReadLine(5, line); }, "No wait object assigned"},
        {"Flush", [&] { s.Flush(); }, "No wait object assigned"},
        {"Wait", [&] { s.Wait(5, wsClosed); }, "Error 11004 in function TWSocket.Wait\r\nNo Data"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Raised(c.op), c.message) << c.name;
    EXPECT_EQ(line, "untouched");

    int errors = 0;
    s.OnError = [&](TCustomWSocket*) { ++errors; };
    EXPECT_FALSE(s.Wait(5, wsClosed));
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 11004);

    // The line is all there for a ReadLine that can wait.
    {
        TWait w;
        s.SetWaitCtrl(&w);
        s.ReadLine(5, line);
        EXPECT_EQ(line, "hello");
    }
    EXPECT_EQ(s.WaitCtrl(), nullptr); // the countdown is gone, and the socket knows
    close(fd);
}

TEST(WSocketWait, WaitForAConnectionAndItsTimeOut) {
    // A listener whose one backlog place is taken never answers another connect.
    const int full = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(full, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(full, 0), 0);
    getsockname(full, reinterpret_cast<sockaddr*>(&a), &len);
    const int taken = RawConnect(ntohs(a.sin_port));

    for (Mode mode : kModes) {
        SCOPED_TRACE(Name(mode));
        RawListener peer;
        TWSocket s;
        TWait w;
        Prepare(s, w, mode);
        bool shown = false;
        w.OnWaiting = [&](TCustomWait* sender) { shown = sender->Visible(); };
        s.SetAddr("127.0.0.1");
        s.SetPort(peer.PortText());
        s.Connect();
        Stopwatch watch;
        EXPECT_TRUE(s.Wait(5, wsConnected));
        EXPECT_LT(watch.Seconds(), 2);
        EXPECT_TRUE(s.Wait(5, wsConnected)); // at once when the state already holds
        EXPECT_EQ(w.ModalResult(), mode == Mode::Countdown ? 1 : 0);
        EXPECT_EQ(shown, mode == Mode::Countdown);
        EXPECT_FALSE(w.Visible());

        TWSocket t;
        Prepare(t, w, mode);
        t.SetAddr("127.0.0.1");
        t.SetPort(std::to_string(ntohs(a.sin_port)));
        t.Connect();
        watch = Stopwatch();
        EXPECT_FALSE(t.Wait(1, wsConnected));
        EXPECT_GE(watch.Seconds(), 0.9);
        EXPECT_EQ(t.State(), wsConnecting);
        if (mode == Mode::Countdown) {
            EXPECT_EQ(w.ModalResult(), 2);
            EXPECT_EQ(w.Caption(), "1");
        }
    }
    close(taken);
    close(full);
}

TEST(WSocketWait, FlushEndsWhenAllIsSentOrAtItsTimeOut) {
    const std::string data = Pattern(kEightMegabytes);
    for (Mode mode : kModes) {
        SCOPED_TRACE(Name(mode));
        RawListener peer;
        TWSocket s;
        TWait w;
        Prepare(s, w, mode);
        const int fd = peer.Connected(s);
        ASSERT_GE(fd, 0);
        SlowReader reader(fd, data.size());
        ASSERT_EQ(s.Send(data.data(), static_cast<int>(data.size())),
                  static_cast<int>(data.size()));
        s.Flush();
        EXPECT_FALSE(w.Visible());
        EXPECT_EQ(w.ModalResult(), mode == Mode::Countdown ? 1 : 0);
        ASSERT_TRUE(reader.AllArrived());
        EXPECT_EQ(reader.got, data.size());
        EXPECT_FALSE(reader.mismatch);
        close(fd);
    }

    // A reader that never reads: the countdown ends the flush.
    RawListener peer;
    TWSocket s;
    TWait w;
    s.SetWaitCtrl(&w);
    const int fd = peer.Connected(s);
    ASSERT_GE(fd, 0);
    s.Send(data.data(), static_cast<int>(data.size()));
    s.SetFlushTimeout(1);
    const Stopwatch watch;
    s.Flush();
    EXPECT_GE(watch.Seconds(), 0.9);
    EXPECT_LT(watch.Seconds(), 5);
    EXPECT_EQ(w.ModalResult(), 2);
    EXPECT_EQ(s.State(), wsConnected);
    close(fd);
}

TEST(WSocketWait, WaitForCloseDeliversWhatCameBeforeTheClose) {
    RawListener peer;
    TWSocket s;
    EventLog log;
    log.Attach(s);
    const int fd = peer.Connected(s);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "early ", 6), 6);
    QTimer::singleShot(50, [fd] {
        EXPECT_EQ(write(fd, "bye", 3), 3);
        close(fd);
    });
    const Stopwatch watch;
    s.WaitForClose();
    EXPECT_LT(watch.Seconds(), 5);
    EXPECT_EQ(log.data, "early bye");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(WSocketWait, DestroyingTheSocketOrItsCountdownInsideAWaitEndsIt) {
    const std::string data = Pattern(kEightMegabytes);
    using Op = std::function<void(TWSocket*, std::string&)>;
    const std::pair<const char*, Op> ops[] = {
        {"ReadLine", [](TWSocket* s, std::string& line) { s->ReadLine(10, line); }},
        {"Wait", [](TWSocket* s, std::string&) { s->Wait(10, wsClosed); }},
        {"Flush", [](TWSocket* s, std::string&) { s->Flush(); }},
        {"WaitForClose", [](TWSocket* s, std::string&) { s->WaitForClose(); }},
    };
    for (Mode mode : kModes)
        for (const auto& [name, op] : ops)
            for (const bool socketGoes : {true, false}) {
                const std::string what = name;
                // Only a wait on the countdown ends with it.
                if (!socketGoes && (mode != Mode::Countdown || what == "WaitForClose")) continue;
                SCOPED_TRACE(what + ", " + Name(mode) + (socketGoes ? ", socket" : ", countdown"));
                RawListener peer;
                auto s = std::make_unique<TWSocket>();
                auto w = std::make_unique<TWait>();
                Prepare(*s, *w, mode);
                s->SetFlushTimeout(10);
                const int fd = peer.Connected(*s);
                ASSERT_GE(fd, 0);
                ASSERT_EQ(write(fd, "part", 4), 4);
                ASSERT_TRUE(Readable(s->HSocket()));
                if (what == "Flush") s->Send(data.data(), static_cast<int>(data.size()));
                QTimer::singleShot(100, [&] {
                    if (socketGoes)
                        s.reset();
                    else
                        w.reset();
                });
                std::string line;
                const Stopwatch watch;
                op(s.get(), line);
                EXPECT_LT(watch.Seconds(), 5);
                if (what == "ReadLine") {
                    EXPECT_EQ(line, "part");
                }
                EXPECT_TRUE(WaitUntil([&] { return !(socketGoes ? bool(s) : bool(w)); }));
                close(fd);
            }
}
