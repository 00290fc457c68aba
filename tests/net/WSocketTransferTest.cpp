// Bulk transfers: no data lost or reordered, and no spinning on data nobody reads. What
// idling costs is measured by bench_socket_costs.

#include "WSocketTestSupport.h"

#include "platform/MessagePump.h"

using namespace wsockettest;
using testsupport::RunEventLoopFor;
using testsupport::WaitUntil;

namespace {

// Sends Total pattern bytes in blocks, one block more each time the queue empties, and
// checks everything that comes in; closes once both directions are complete.
struct Streamer {
    uint64_t total;
    uint64_t expected;
    uint64_t sent = 0;
    uint64_t received = 0;
    bool mismatch = false;
    bool closed = false;
    bool sendDone = false;

    void Attach(TCustomWSocket& s) {
        s.OnDataSent = [this](TCustomWSocket* sock, uint16_t) { SendMore(*sock); };
        s.OnDataAvailable = [this](TCustomWSocket* sock, uint16_t) {
            char buf[4096];
            const int n = sock->Receive(buf, sizeof buf);
            for (int i = 0; i < n; ++i)
                if (buf[i] != PatternByte(received + static_cast<uint64_t>(i))) mismatch = true;
            if (n > 0) received += static_cast<uint64_t>(n);
            CloseWhenComplete(*sock);
        };
        s.OnSessionClosed = [this](TCustomWSocket*, uint16_t) { closed = true; };
    }
    void SendMore(TCustomWSocket& s) {
        if (sendDone) return;
        if (sent == total) {
            sendDone = true;
            CloseWhenComplete(s);
            return;
        }
        char block[65536];
        const auto n = static_cast<int>(std::min<uint64_t>(sizeof block, total - sent));
        for (int i = 0; i < n; ++i)
            block[i] = PatternByte(sent + static_cast<uint64_t>(i));
        sent += static_cast<uint64_t>(n);
        s.Send(block, n);
    }
    // A close event closes the socket, so neither side may close while data still flows.
    void CloseWhenComplete(TCustomWSocket& s) {
        if (sendDone && received == expected && s.State() == wsConnected) s.Close();
    }
};

} // namespace

// bench_socket_costs runs this with 50 MB each way and times it.
TEST(WSocketTransfer, MegabytesEachWayArriveWholeAndInOrder) {
    constexpr uint64_t kTotal = 8ull * 1024 * 1024;
    ConnectedPair pair;
    Streamer a{kTotal, kTotal}, b{kTotal, kTotal};
    a.Attach(pair.client);
    b.Attach(pair.server);
    a.SendMore(pair.client);
    b.SendMore(pair.server);
    ASSERT_TRUE(WaitUntil([&] { return a.closed && b.closed; }, 60000))
        << "client got " << a.received << ", server got " << b.received;
    EXPECT_EQ(a.received, kTotal);
    EXPECT_EQ(b.received, kTotal);
    EXPECT_FALSE(a.mismatch);
    EXPECT_FALSE(b.mismatch);
}

TEST(WSocketTransfer, DataSentJustBeforeCloseStillArrives) {
    // The sender closes as soon as its queue has gone to the platform; an orderly close must
    // still deliver all of it.
    constexpr uint64_t kTotal = 8ull * 1024 * 1024;
    ConnectedPair pair;
    Streamer receiver{0, kTotal};
    receiver.Attach(pair.server);
    pair.server.OnDataSent = nullptr;
    std::string block(kTotal, '\0');
    for (uint64_t i = 0; i < kTotal; ++i)
        block[i] = PatternByte(i);
    pair.client.OnDataSent = [](TCustomWSocket* s, uint16_t) { s->Close(); };
    pair.client.Send(block.data(), static_cast<int>(block.size()));
    ASSERT_TRUE(WaitUntil([&] { return receiver.closed; }, 30000));
    EXPECT_EQ(receiver.received, kTotal);
    EXPECT_FALSE(receiver.mismatch);
}

TEST(WSocketTransfer, AHandlerThatRunsTheEventLoopFirstLosesNothing) {
    // Clients let the application process pending events inside their handlers; the same
    // socket's next read event may then run nested inside the first.
    constexpr uint64_t kTotal = 4ull * 1024 * 1024;
    ConnectedPair pair;
    Streamer sender{kTotal, 0};
    sender.Attach(pair.client);
    uint64_t received = 0;
    bool mismatch = false;
    pair.server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        platform::ProcessMessages();
        char buf[1000];
        const int n = s->Receive(buf, sizeof buf);
        for (int i = 0; i < n; ++i)
            if (buf[i] != PatternByte(received + static_cast<uint64_t>(i))) mismatch = true;
        if (n > 0) received += static_cast<uint64_t>(n);
    };
    sender.SendMore(pair.client);
    ASSERT_TRUE(WaitUntil([&] { return received == kTotal; }, 30000)) << received;
    EXPECT_FALSE(mismatch);
}

TEST(WSocketTransfer, AHandlerThatReadsNothingNeitherHangsNorSpins) {
    ConnectedPair pair;
    int calls = 0;
    pair.server.OnDataAvailable = [&](TCustomWSocket*, uint16_t) { ++calls; };
    pair.client.SendStr("unread");
    ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
    const double before = ProcessCpuSeconds();
    RunEventLoopFor(500);
    EXPECT_LT(ProcessCpuSeconds() - before, 0.2);
    EXPECT_EQ(calls, 1);

    // Once the program reads again, the data is all there and events resume.
    char buf[16];
    EXPECT_EQ(pair.server.Receive(buf, 3), 3);
    std::string got(buf, 3);
    pair.server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        const int n = s->Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    };
    ASSERT_TRUE(WaitUntil([&] { return got == "unread"; }));
}
