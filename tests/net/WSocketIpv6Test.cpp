// The socket over IPv6 and over names that resolve to both families: lookups, listening on
// ::1, and the connection race over a name's addresses.

#include "WSocketTestSupport.h"

#include "support/LocalResolver.h"

#include <chrono>

using namespace wsockettest;

namespace {

TEST(WSocketIpv6, LookupsAnswerEveryAddressOfBothFamiliesInOrder) {
    testsupport::LocalResolver names{{"six-first.test", "::1 127.0.0.1"},
                                     {"four-first.test", "127.0.0.1 ::1"},
                                     {"six-only.test", "2001:db8::1"}};
    struct Case {
        const char* name;
        std::string result;
        std::vector<std::string> list; // empty: answered at once, as for a dotted address
    } cases[] = {
        {"::1", "::1", {}},
        {"2001:DB8:0:0::1", "2001:db8::1", {}},
        {"six-first.test", "::1", {"::1", "127.0.0.1"}},
        {"four-first.test", "127.0.0.1", {"127.0.0.1", "::1"}},
        {"six-only.test", "2001:db8::1", {"2001:db8::1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWSocket s;
        int error = -1;
        s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) { error = e; };
        s.DnsLookup(c.name);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return error >= 0; }));
        EXPECT_EQ(error, 0);
        EXPECT_EQ(s.DnsResult(), c.result);
        EXPECT_EQ(s.DnsResultList(), c.list);
    }
}

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

// A name with an address of each family, the server on one of them: the connection ends up
// there, at once when the other is refused and after the attempt delay when it stays silent.
// With no server at all the outcome is the last address's refusal.
TEST(WSocketIpv6, ConnectRacesTheAddressesOfANameInTheirOrder) {
    testsupport::LocalResolver names{{"six-first.test", "::1 127.0.0.1"},
                                     {"four-first.test", "127.0.0.1 ::1"}};
    enum Other { refused, silent };
    struct Case {
        const char* name;
        const char* serverAddr; // nullptr: no server
        Other other;
        int error;
        int minMs, maxMs;
    } cases[] = {
        {"six-first.test", "127.0.0.1", refused, 0, 0, 200},
        {"four-first.test", "::1", refused, 0, 0, 200},
        {"four-first.test", "::1", silent, 0, 200, 2000},
        {"six-first.test", nullptr, refused, 10061, 0, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " server " + (c.serverAddr ? c.serverAddr : "none") +
                     (c.other == silent ? ", other silent" : ", other refused"));
        TWSocket listener, server, client;
        int port = 0;
        if (c.serverAddr) {
            listener.SetAddr(c.serverAddr);
            listener.SetPort("0");
            ASSERT_EQ(listener.Listen(), 0);
            port = std::stoi(listener.GetLocalPort());
            listener.OnSessionAvailable = [&](TCustomWSocket*, uint16_t) {
                server.Dup(listener.Accept());
            };
        } else {
            RawListener gone;
            port = gone.Port();
        }
        std::unique_ptr<SilentListener> quiet;
        if (c.other == silent) quiet = std::make_unique<SilentListener>(port);
        int outcome = -1;
        client.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { outcome = e; };
        const auto start = std::chrono::steady_clock::now();
        client.SetAddr(c.name);
        client.SetPort(std::to_string(port));
        client.Connect();
        ASSERT_TRUE(testsupport::WaitUntil([&] { return outcome >= 0; }));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        EXPECT_EQ(outcome, c.error);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LT(ms, c.maxMs);
        if (c.error != 0) continue;
        EXPECT_EQ(client.GetPeerAddr(), c.serverAddr);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.State() == wsConnected; }));
        EXPECT_EQ(server.GetPeerAddr(), c.serverAddr);
        // The connection that won is the one in use.
        EXPECT_EQ(client.SendStr("ping"), 4);
        std::string got;
        server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
            char buf[16];
            const int n = s->Receive(buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
        };
        EXPECT_TRUE(testsupport::WaitUntil([&] { return got == "ping"; }));
    }
}

} // namespace
