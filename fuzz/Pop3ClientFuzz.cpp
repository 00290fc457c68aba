// The POP3 client against a peer that plays arbitrary server bytes. The input chooses the
// requests, a bound on multi-line replies and the server's pieces of text (each ends with a
// line end): the greeting goes out when the client connects, each further piece when a
// command arrives or when the client waits with nothing in flight; an empty piece, or none
// left, and the peer hangs up; a piece of the one byte 0x04, and the client aborts instead.
// Checked: every line the client reports is the next line the server sent (LF ends it; a
// CR before the LF is not part of it), except that lines the client had not reported when its
// next command went out may be dropped unreported; and every request that starts ends
// exactly once, reported as the kind of request it was.
#include "Require.h"
#include "net/Pop3Prot.h"
#include "net/WSocket.h"
#include "platform/ErrorReport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int listenFd = -1;
std::string listenPort;

// A piece of this one byte makes the client abort where the server would have answered.
const std::string kAbortPiece = "\x04";

// The server side of one conversation, on a non-blocking socket in the fuzzer's thread.
class Peer {
  public:
    explicit Peer(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
    ~Peer() { HangUp(); }

    // Called instead of sending a piece that is kAbortPiece.
    std::function<void()> OnAbortPiece;

    // Accepts the client, reads its commands (answering each with the next piece) and writes
    // what is queued. True when anything moved.
    bool Pump() {
        bool moved = false;
        if (fd_ < 0 && !accepted_) {
            fd_ = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK);
            if (fd_ < 0) return false;
            accepted_ = moved = true;
            SendNextOrHangUp();
        }
        char buf[4096];
        while (fd_ >= 0) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0) HangUp(); // the client has closed
            if (n <= 0) break;
            moved = true;
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == '\n') {
                    // The client has dealt with every line written before its command: what
                    // it has not reported by now it dropped, and its reply starts here.
                    checked_ = sent_.size() - out_.size();
                    SendNextOrHangUp();
                }
        }
        while (fd_ >= 0 && !out_.empty()) {
            const ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            if (n <= 0) {
                HangUp(); // the client is gone
                break;
            }
            out_.erase(0, static_cast<std::size_t>(n));
            moved = true;
        }
        return moved;
    }

    // Bytes not yet written, or waiting to be read from the client.
    bool InFlight() const {
        int unread = 0;
        return !out_.empty() || (fd_ >= 0 && ::ioctl(fd_, FIONREAD, &unread) == 0 && unread > 0);
    }
    bool Accepted() const { return accepted_; }

    void SendNextOrHangUp() {
        if (fd_ < 0) return;
        if (next_ >= pieces_.size() || pieces_[next_].empty()) return HangUp();
        if (pieces_[next_] == kAbortPiece) {
            ++next_;
            return OnAbortPiece();
        }
        out_ += pieces_[next_];
        sent_ += pieces_[next_];
        ++next_;
    }

    void HangUp() {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
        out_.clear();
    }

    // Checks a line the client reported against the bytes sent.
    void Reported(const std::string& line) {
        const std::size_t lf = sent_.find('\n', checked_);
        fuzz::Require(lf != std::string::npos, "a reported line was ended by the server");
        const std::size_t end = lf > checked_ && sent_[lf - 1] == '\r' ? lf - 1 : lf;
        fuzz::Require(sent_.compare(checked_, end - checked_, line) == 0,
                      "the reported line is the next one the server sent: " + line);
        checked_ = lf + 1;
    }

  private:
    std::vector<std::string> pieces_;
    std::size_t next_ = 0;
    int fd_ = -1;
    bool accepted_ = false;
    std::string out_;
    std::string sent_;        // everything queued, in order
    std::size_t checked_ = 0; // where the next reported line should start
};

enum class Op { User, Pass, APop, RPop, Stat, List, Uidl, Retr, Top, Dele, Noop, Last, RSet, Quit };
constexpr int kOps = 14;

struct Request {
    Op op;
    std::int32_t msgNum;
};

void Start(TPop3Cli& client, const Request& r) {
    client.SetMsgNum(r.msgNum);
    switch (r.op) {
    case Op::User:
        return client.User();
    case Op::Pass:
        return client.Pass();
    case Op::APop:
        return client.APop();
    case Op::RPop:
        return client.RPop();
    case Op::Stat:
        return client.Stat();
    case Op::List:
        return client.List();
    case Op::Uidl:
        return client.Uidl();
    case Op::Retr:
        return client.Retr();
    case Op::Top:
        return client.Top();
    case Op::Dele:
        return client.Dele();
    case Op::Noop:
        return client.Noop();
    case Op::Last:
        return client.Last();
    case Op::RSet:
        return client.RSet();
    case Op::Quit:
        return client.Quit();
    }
}

constexpr TPop3Request kRequestOf[kOps] = {
    pop3User, pop3Pass, pop3APop, pop3RPop, pop3Stat, pop3List, pop3Uidl,
    pop3Retr, pop3Top,  pop3Dele, pop3Noop, pop3Last, pop3RSet, pop3Quit,
};

void Converse(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool login = in.ConsumeBool();
    const std::size_t maxReply = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::size_t>(0, 300)
                                                  : TCustomPop3Cli::DefaultMaxReplySize;
    std::vector<Request> requests(in.ConsumeIntegralInRange(0, 8));
    for (Request& r : requests)
        r = {static_cast<Op>(in.ConsumeIntegralInRange(0, kOps - 1)),
             in.ConsumeIntegralInRange<std::int32_t>(0, 3)};
    std::vector<std::string> pieces;
    while (in.remaining_bytes() > 0 && pieces.size() < 32) {
        std::string piece = in.ConsumeRandomLengthString(4096);
        if (!piece.empty() && piece.back() != '\n' && piece != kAbortPiece) piece += "\r\n";
        pieces.push_back(piece);
    }

    // A connection left from an earlier input must not take this one's place.
    for (int fd; (fd = ::accept4(listenFd, nullptr, nullptr, 0)) >= 0;)
        ::close(fd);

    Peer peer(std::move(pieces));
    auto owned = std::make_unique<TSocketTransport>();
    const TSocketTransport& transport = *owned;
    TPop3Cli client(std::move(owned));
    client.SetHost("127.0.0.1");
    client.SetPort(listenPort);
    client.SetUserName("bob");
    client.SetPassWord("secret");
    client.SetMsgLines(0);
    client.SetMaxReplySize(maxReply);

    // FUZZ_TRACE=1 shows the conversation, for looking into an input that failed.
    static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
    int events = 0;
    bool outstanding = false;
    TPop3Request expected = pop3Connect;
    client.OnResponse = [&](TCustomPop3Cli*, const std::string& line) {
        ++events;
        peer.Reported(line);
    };
    client.OnRequestDone = [&](TCustomPop3Cli*, TPop3Request rq, std::uint16_t error) {
        ++events;
        fuzz::Require(outstanding, "a request ends once, and only one that was started");
        fuzz::Require(rq == expected, "the request ends as the kind it was");
        if (trace) std::fprintf(stderr, "done %d, error %u\n", rq, error);
        outstanding = false;
    };
    client.OnDisplay = [&](TCustomPop3Cli*, const std::string& text) {
        ++events;
        if (trace) std::fprintf(stderr, "%s\n", text.c_str());
    };
    client.OnStateChange = [&](TCustomPop3Cli*) { ++events; };
    client.OnSessionClosed = [&](TCustomPop3Cli*, std::uint16_t) { ++events; };

    peer.OnAbortPiece = [&] { client.Abort(); };

    auto startNext = [&](std::size_t index) {
        expected = index == 0 ? (login ? pop3Login : pop3Connect)
                              : kRequestOf[static_cast<int>(requests[index - 1].op)];
        outstanding = true;
        try {
            if (index == 0)
                login ? client.Login() : client.Connect();
            else
                Start(client, requests[index - 1]);
        } catch (const Pop3Exception&) {
            outstanding = false; // refused before anything was sent
        }
    };

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t next = 0;
    int quietRounds = 0;
    for (;;) {
        fuzz::Require(std::chrono::steady_clock::now() < deadline, "the conversation ends");
        const int before = events;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        const bool moved = peer.Pump();
        const bool busy = moved || events != before || peer.InFlight() || transport.UnreadBytes() > 0;
        // Quiet twice in a row: anything posted in the first round has run by the second.
        quietRounds = busy ? 0 : quietRounds + 1;
        if (quietRounds < 2) continue;
        quietRounds = 0;
        if (outstanding) {
            // The client waits for the server: it says more, or hangs up.
            if (peer.Accepted()) peer.SendNextOrHangUp();
            continue;
        }
        if (next > requests.size()) break;
        startNext(next++);
    }
    // Nothing may end after the conversation is over, not even when the client is aborted.
    client.Abort();
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int argc = 1;
    static char name[] = "fuzz_pop3_client";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // lives as long as the process
    platform::SetErrorReporter([](const std::string& message) {
        fuzz::Require(false, "an exception reached the event loop: " + message);
    });
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    fuzz::Require(listenFd >= 0 && ::bind(listenFd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                      ::listen(listenFd, 16) == 0 &&
                      ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len) == 0,
                  "a listening socket on 127.0.0.1");
    listenPort = std::to_string(ntohs(a.sin_port));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Converse(data, size);
    // What the client's socket left for deletion goes now: memory still held after an input
    // makes libFuzzer look for leaks, which costs more than the conversation itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
