// Connections over IPv6 and over names with addresses of both families: the lookup finds
// them all, in the order given, and the connection races them.

#include "WSocketTestSupport.h"

#include "net/Transport.h"
#include "support/LocalResolver.h"

#include <chrono>

using namespace wsockettest;

namespace {

// A listener on 127.0.0.1 whose one backlog place is taken: a further connect to it is
// neither accepted nor refused, as with a server that does not answer.
struct SilentListener {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int filler = -1;
    explicit SilentListener(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        listen(fd, 0);
        filler = RawConnect(port);
    }
    ~SilentListener() {
        close(filler);
        close(fd);
    }
};

// The server on one family: the connection ends up there, at once when the other address
// is refused and after the attempt delay when it stays silent. With no server at all the
// outcome is the last address's refusal.
TEST(WSocketIpv6, ConnectRacesTheAddressesOfANameInTheirOrder) {
    testsupport::LocalResolver names{{"six-first.test", "::1 127.0.0.1"},
                                     {"four-first.test", "127.0.0.1 ::1"}};
    struct Case {
        const char* name;
        const char* serverAddr; // nullptr: no server
        bool otherSilent;
        int error;
        int minMs, maxMs;
    } cases[] = {
        {"six-first.test", "127.0.0.1", false, 0, 0, 200},
        {"four-first.test", "::1", false, 0, 0, 200},
        {"four-first.test", "::1", true, 0, 200, 2000},
        {"::1", "::1", false, 0, 0, 200},
        {"six-first.test", nullptr, false, 10061, 0, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " to " + (c.serverAddr ? c.serverAddr : "nothing") +
                     (c.otherSilent ? ", the other silent" : ""));
        TWSocket listener;
        int port = RawListener().Port(); // free on 127.0.0.1, and then closed
        if (c.serverAddr) {
            listener.SetAddr(c.serverAddr);
            listener.SetPort("0");
            ASSERT_EQ(listener.Listen(), 0);
            port = std::stoi(listener.GetLocalPort());
        }
        std::unique_ptr<SilentListener> quiet;
        if (c.otherSilent) quiet = std::make_unique<SilentListener>(port);
        TSocketTransport client;
        int outcome = -1;
        client.OnLookupDone = [&](uint16_t e) {
            ASSERT_EQ(e, 0);
            client.Connect();
        };
        client.OnConnected = [&](uint16_t e) { outcome = e; };
        const auto start = std::chrono::steady_clock::now();
        client.SetPort(std::to_string(port));
        client.Lookup(c.name);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return outcome >= 0; }));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        EXPECT_EQ(outcome, c.error);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        if (c.serverAddr) {
            EXPECT_EQ(client.PeerAddr(), c.serverAddr);
        }
    }
}

} // namespace
