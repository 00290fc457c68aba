#include "support/DelayProxy.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <random>

namespace {

using namespace std::chrono_literals;

// Greets each client, then echoes what it receives; notes when the client's end arrives.
struct EchoServer {
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    bool peerEnded = false;

    EchoServer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            peer = server.nextPendingConnection();
            peer->write("hello\r\n");
            QObject::connect(peer, &QTcpSocket::readyRead,
                             [this] { peer->write(peer->readAll()); });
            QObject::connect(peer, &QTcpSocket::disconnected, [this] { peerEnded = true; });
        });
    }
};

} // namespace

// Bytes pass both ways unchanged and in order, each way one delay late; a large transfer is
// relayed as it comes (one delay in all, not one per chunk); the client's end reaches the
// server.
TEST(DelayProxy, RelaysBothWaysOneDelayLateAndPassesTheEndOn) {
    struct Case {
        std::chrono::milliseconds delay;
        int bytes;
    };
    for (const Case c : {Case{0ms, 1 << 20}, Case{50ms, 1 << 20}, Case{50ms, 5}}) {
        SCOPED_TRACE(std::to_string(c.delay.count()) + " ms, " + std::to_string(c.bytes) +
                     " bytes");
        EchoServer echo;
        ASSERT_TRUE(echo.server.isListening());
        testsupport::DelayProxy proxy("127.0.0.1", echo.server.serverPort(), c.delay);
        QTcpSocket client;
        QByteArray received;
        QObject::connect(&client, &QTcpSocket::readyRead, [&] { received += client.readAll(); });
        QElapsedTimer clock;
        clock.start();
        client.connectToHost(QHostAddress::LocalHost, proxy.Port());
        ASSERT_TRUE(testsupport::WaitUntil([&] { return received == "hello\r\n"; }));
        EXPECT_GE(clock.elapsed(), c.delay.count());

        QByteArray payload(c.bytes, '\0');
        std::mt19937 rng(static_cast<unsigned>(c.bytes));
        for (char& b : payload)
            b = static_cast<char>(rng());
        received.clear();
        clock.restart();
        client.write(payload);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return received.size() >= payload.size(); }));
        EXPECT_GE(clock.elapsed(), 2 * c.delay.count());
        // Chunk by chunk, 16 chunks of 64 KB or more would take 32 delays.
        EXPECT_LT(clock.elapsed(), 2 * c.delay.count() + 700);
        EXPECT_TRUE(received == payload);

        client.disconnectFromHost();
        EXPECT_TRUE(testsupport::WaitUntil([&] { return echo.peerEnded; }));
    }
}

// A server's "PIPELINING" lines vanish, also when one arrives in pieces; the rest passes.
TEST(DelayProxy, HidesPipeliningFromTheServersLines) {
    EchoServer echo;
    ASSERT_TRUE(echo.server.isListening());
    testsupport::DelayProxy proxy("127.0.0.1", echo.server.serverPort(), 0ms, true);
    QTcpSocket client;
    QByteArray received;
    QObject::connect(&client, &QTcpSocket::readyRead, [&] { received += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, proxy.Port());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return received == "hello\r\n"; }));
    client.write("+OK\r\nTOP\r\nPIPEL");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return received.size() >= 17; }));
    client.write("INING\r\nXPIPELINING\r\n.\r\n");
    ASSERT_TRUE(testsupport::WaitUntil([&] { return received.endsWith(".\r\n"); }));
    EXPECT_EQ(received, "hello\r\n+OK\r\nTOP\r\nXPIPELINING\r\n.\r\n");
}
