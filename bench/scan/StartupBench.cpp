// Where a morvandle-check run spends its time outside the conversation with the server:
// Check Only over 1,000 messages on a local Dovecot with a 10,000-entry spammers list
// (NoCase) and 100 addresses, through a relay that only notes when the connection comes,
// when the first command and QUIT pass, and forwards every byte at once. The process is
// timed from its start to its exit, so the phases are: start to connect (loading, Qt start,
// settings, lists, log, password), connect to the first command (the greeting), the
// conversation, and QUIT to exit (QUIT's answer, the log, leaving). `--version` times the
// process start alone. Several builds of morvandle-check run side by side, round by round.
//
//   bench_check_startup [messages] [rounds] [morvandle-check ...]

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "support/BenchSupport.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace benchsupport;
using Clock = std::chrono::steady_clock;

// When the events of the last relayed connection happened.
struct Marks {
    Clock::time_point connected, firstCommand, quit;
};

// Relays one connection at a time to the server, on a thread of its own.
class TimingRelay {
  public:
    TimingRelay(const std::string& host, int port) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
        socklen_t size = sizeof at;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &size) != 0)
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(at.sin_port);
        target_.sin_family = AF_INET;
        target_.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, host.c_str(), &target_.sin_addr);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TimingRelay() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    TimingRelay(const TimingRelay&) = delete;
    TimingRelay& operator=(const TimingRelay&) = delete;

    int Port() const { return port_; }
    Marks Last() {
        std::lock_guard lock(mutex_);
        return marks_;
    }

  private:
    void Serve() {
        while (!stop_) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            Marks marks{Clock::now(), {}, {}};
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            for (int fd : {client, server})
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&target_), sizeof target_) == 0)
                Pump(client, server, marks);
            ::close(server);
            ::close(client);
            std::lock_guard lock(mutex_);
            marks_ = marks;
        }
    }

    // Forwards both ways until either side closes, noting the client's first byte and QUIT.
    static void Pump(int client, int server, Marks& marks) {
        std::string tail; // the client's last bytes, to find QUIT split across reads
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char chunk[65536];
        while (::poll(fds, 2, 60000) > 0) {
            for (int side = 0; side < 2; ++side) {
                if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::recv(fds[side].fd, chunk, sizeof chunk, 0);
                if (n <= 0) return;
                if (side == 0) {
                    const auto now = Clock::now();
                    if (marks.firstCommand == Clock::time_point{}) marks.firstCommand = now;
                    tail.append(chunk, static_cast<std::size_t>(n));
                    if (marks.quit == Clock::time_point{} &&
                        tail.find("QUIT\r\n") != std::string::npos)
                        marks.quit = now;
                    if (tail.size() > 8) tail.erase(0, tail.size() - 8);
                }
                const int to = fds[1 - side].fd;
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t m = ::send(to, chunk + sent, n - sent, MSG_NOSIGNAL);
                    if (m <= 0) return;
                    sent += m;
                }
            }
        }
    }

    int listener_ = -1;
    int port_ = 0;
    sockaddr_in target_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    Marks marks_;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One build of morvandle-check in a program folder of its own, with the lists and settings.
struct Setup {
    std::string label;
    testsupport::TempDir programDir, configDir;
    std::vector<double> start, greeting, conversation, finish, whole, version;

    Setup(const std::string& binary, int relayPort) : label(binary) {
        std::filesystem::copy_file(binary, programDir.File("morvandle-check"));
        WriteListFile(programDir.File("spammers.txt"), SpammerEntries());
        WriteListFile(programDir.File("GoodAddr.txt"), AddressEntries());
        WriteListFile(configDir.File("Morvandle.ini"),
                      {"[Config]", "Server=127.0.0.1:" + std::to_string(relayPort),
                       std::string("Login=") + kUser, "Password=" + ScramblePassword(kPassword),
                       "Unknown=1", "Strict=0", "NoCase=1", "LogLevel=0", "HeaderCache=0",
                       "Security=0"});
    }

    // The whole process from its start to its exit; false when it failed.
    bool Run(const QStringList& args, Clock::time_point* started, Clock::time_point* ended,
             std::string* last) const {
        QProcess check;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir.Path()));
        check.setProcessEnvironment(env);
        *started = Clock::now();
        check.start(QString::fromStdString(programDir.File("morvandle-check")), args);
        check.waitForFinished(120000);
        *ended = Clock::now();
        *last = QString::fromUtf8(check.readAllStandardOutput())
                    .trimmed()
                    .split('\n')
                    .back()
                    .toStdString();
        return check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0;
    }
};

void PrintSetup(const Setup& s, int rounds) {
    std::printf("%s: median of %d rounds\n"
                "  process start to connect (loading, Qt, settings, lists, log, password): "
                "%.1f ms\n"
                "  connect to first command (the greeting):                               "
                "%.1f ms\n"
                "  first command to QUIT (login, STAT, TOPs, screening):                  "
                "%.1f ms\n"
                "  QUIT to process exit:                                                  "
                "%.1f ms\n"
                "  whole process:                                                         "
                "%.1f ms\n"
                "  --version, whole process (loading, Qt start):                          "
                "%.1f ms\n",
                s.label.c_str(), rounds, Median(s.start) * 1e3, Median(s.greeting) * 1e3,
                Median(s.conversation) * 1e3, Median(s.finish) * 1e3, Median(s.whole) * 1e3,
                Median(s.version) * 1e3);
}

int Rounds(const MailboxBench& bench, const std::vector<std::string>& binaries) {
    TimingRelay relay(bench.server.Host(), bench.server.Port());
    std::vector<std::unique_ptr<Setup>> setups;
    for (const std::string& binary : binaries)
        setups.push_back(std::make_unique<Setup>(binary, relay.Port()));
    const std::string expected = "Last Results - " + std::to_string(bench.messages) + " Checked, " +
                                 std::to_string(bench.messages) + " OK'd, 0 Eaten";
    for (int round = 1; round <= bench.rounds; ++round) {
        for (auto& s : setups) {
            Clock::time_point started, ended;
            std::string last;
            if (!s->Run({}, &started, &ended, &last) || last != expected) {
                std::fprintf(stderr, "round %d: %s said \"%s\"\n", round, s->label.c_str(),
                             last.c_str());
                return 1;
            }
            const Marks m = relay.Last();
            s->start.push_back(Seconds(m.connected - started));
            s->greeting.push_back(Seconds(m.firstCommand - m.connected));
            s->conversation.push_back(Seconds(m.quit - m.firstCommand));
            s->finish.push_back(Seconds(ended - m.quit));
            s->whole.push_back(Seconds(ended - started));
            s->Run({"--version"}, &started, &ended, &last);
            s->version.push_back(Seconds(ended - started));
            std::printf("round %d, %s: start %.1f ms, conversation %.1f ms, finish %.1f ms, "
                        "whole %.1f ms\n",
                        round, s->label.c_str(), s->start.back() * 1e3,
                        s->conversation.back() * 1e3, s->finish.back() * 1e3,
                        s->whole.back() * 1e3);
        }
    }
    for (const auto& s : setups)
        PrintSetup(*s, bench.rounds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> binaries(argv + std::min(argc, 3), argv + argc);
    if (binaries.empty()) binaries.push_back(MORVANDLE_CHECK_BINARY);
    return RunMailboxBench(
        argc, argv, [&binaries](const MailboxBench& bench) { return Rounds(bench, binaries); });
}
