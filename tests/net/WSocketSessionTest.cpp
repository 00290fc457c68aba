// Connections on 127.0.0.1: the order of events and states, sending, receiving, closing.

#include "WSocketTestSupport.h"

#include "platform/ErrorReport.h"

using namespace wsockettest;
using testsupport::RunEventLoopFor;
using testsupport::WaitUntil;

namespace {

// Records the length of every platform send, to see how the queue hands out its chunks.
class RecordingSocket : public TWSocket {
  public:
    std::vector<int> sends;

  protected:
    int RealSend(const char* Data, int Len) override {
        sends.push_back(Len);
        return TWSocket::RealSend(Data, Len);
    }
};

} // namespace

TEST(WSocketSession, ConnectSendReceiveAndCloseFromEitherSide) {
    ConnectedPair pair;
    EventLog client, server;
    client.Attach(pair.client);
    server.Attach(pair.server);
    EXPECT_EQ(pair.client.GetPeerAddr(), "127.0.0.1");
    EXPECT_EQ(pair.server.GetPeerAddr(), "127.0.0.1");
    EXPECT_EQ(pair.server.GetLocalPort(), pair.listener.GetLocalPort());

    EXPECT_EQ(pair.client.SendStr("USER bob\r\n"), 10);
    ASSERT_TRUE(WaitUntil([&] { return server.data == "USER bob\r\n"; }));
    EXPECT_EQ(pair.server.ReadCount(), 10);
    pair.server.SendStr("+OK");
    ASSERT_TRUE(WaitUntil([&] { return client.data == "+OK"; }));

    // The server closes: the client is offered what is left, hears the close once, then
    // ends closed with its defaults reset.
    pair.server.Close();
    EXPECT_EQ(server.events.back(), "closed 0");
    EXPECT_EQ(pair.server.State(), wsClosed);
    ASSERT_TRUE(WaitUntil([&] { return pair.client.State() == wsClosed; }));
    const std::vector<std::string> tail(client.events.end() - 3, client.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"data 0", "closed 0", "state 4>7"}));
    EXPECT_EQ(pair.client.ReadCount(), 0);
    RunEventLoopFor(50);
    EXPECT_EQ(client.Count("closed 0"), 1);

    // The client side closing works the same way round.
    ConnectedPair other;
    EventLog otherServer;
    otherServer.Attach(other.server);
    other.client.SendStr("QUIT\r\n");
    other.client.Close();
    ASSERT_TRUE(WaitUntil([&] { return other.server.State() == wsClosed; }));
    EXPECT_EQ(otherServer.data, "QUIT\r\n");
    EXPECT_EQ(otherServer.Count("closed 0"), 1);

    // Closing a closed socket does nothing at all.
    const size_t before = client.events.size();
    pair.client.Close();
    pair.client.Abort();
    EXPECT_EQ(client.events.size(), before);
}

TEST(WSocketSession, ConnectReportsItsOutcomeOnceFromTheLoop) {
    RawListener peer;
    TWSocket s;
    EventLog log;
    log.Attach(s);
    int sent = 0;
    s.OnDataSent = [&](TCustomWSocket*, uint16_t) { ++sent; };
    s.SetAddr("127.0.0.1");
    s.SetPort(" " + peer.PortText() + "abc"); // leading blanks and trailing junk: the number
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    EXPECT_FALSE(log.Has("connected 0"));
    const int fd = peer.AcceptFd();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WaitUntil([&] { return log.Has("connected 0"); }));
    RunEventLoopFor(50);
    const std::vector<std::string> expected = {"state 7>1", "state 1>3", "state 3>4",
                                               "connected 0"};
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(sent, 1); // the platform's first "writable" after connecting
    close(fd);
}

TEST(WSocketSession, RefusedConnectionReportsTheCodeAndCloses) {
    int port;
    {
        RawListener gone; // a port that was just free and now has nobody listening
        port = gone.Port();
    }
    TWSocket s;
    EventLog log;
    log.Attach(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    ASSERT_TRUE(WaitUntil([&] { return log.Has("connected 10061"); }));
    EXPECT_EQ(s.State(), wsClosed);
    const std::vector<std::string> expected = {"state 7>1",       "state 1>3", "state 3>4",
                                               "connected 10061", "state 4>7", "closed 0"};
    EXPECT_EQ(log.events, expected);

    // A handler that runs the event loop before the failed socket closes hears nothing more
    // from it in the meantime: no data, no close of its own.
    TWSocket t;
    EventLog nested;
    nested.Attach(t);
    t.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) {
        nested.events.push_back("connected " + std::to_string(e));
        RunEventLoopFor(100);
    };
    t.SetAddr("127.0.0.1");
    t.SetPort(std::to_string(port));
    t.Connect();
    ASSERT_TRUE(WaitUntil([&] { return t.State() == wsClosed; }));
    EXPECT_EQ(nested.events, expected);
}

TEST(WSocketSession, DatagramSocketsConnectAtOnceAndExchangeDatagrams) {
    TWSocket receiver;
    receiver.SetProto("udp");
    receiver.SetAddr("127.0.0.1");
    receiver.SetPort("0");
    std::vector<std::string> states;
    bool receiverConnected = false;
    receiver.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { receiverConnected = e == 0; };
    ASSERT_EQ(receiver.Listen(), 0);
    EXPECT_TRUE(receiverConnected);
    EXPECT_EQ(receiver.State(), wsConnected);
    std::string got, from;
    receiver.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        char buf[100];
        sockaddr_in src{};
        int len = sizeof src;
        const int n = s->ReceiveFrom(buf, sizeof buf, src, len);
        if (n > 0) got.assign(buf, static_cast<size_t>(n));
        from = inet_ntoa(src.sin_addr);
    };

    TWSocket sender;
    sender.SetProto("17");
    sender.SetAddr("127.0.0.1");
    sender.SetPort(receiver.GetLocalPort());
    bool connectedInside = false;
    sender.OnChangeState = [&](TCustomWSocket*, TSocketState, TSocketState n) {
        states.push_back(std::to_string(n));
    };
    sender.OnSessionConnected = [&](TCustomWSocket*, uint16_t e) { connectedInside = e == 0; };
    sender.Connect();
    EXPECT_TRUE(connectedInside);
    EXPECT_EQ(states, (std::vector<std::string>{"1", "4"}));
    EXPECT_EQ(sender.SendStr("ping"), 4);
    ASSERT_TRUE(WaitUntil([&] { return got == "ping"; }));
    EXPECT_EQ(from, "127.0.0.1");
}

TEST(WSocketSession, SendWhileNotConnectedFailsWithTheExactText) {
    TWSocket s;
    EXPECT_EQ(Raised([&] { s.SendStr("x"); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.State(), wsClosed);

    // With OnError the same failure is reported there, and Send answers -1.
    int reported = 0;
    s.OnError = [&](TCustomWSocket*) { ++reported; };
    EXPECT_EQ(s.SendStr("x"), -1);
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(s.LastError(), 10057);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketSession, SendQueuesFrameSizedChunksAndReportsSentFromTheLoop) {
    RawListener peer;
    RecordingSocket s;
    const int fd = peer.Connected(s);
    ASSERT_GE(fd, 0);

    int sentEvents = 0;
    bool insideSend = false, firedInsideSend = false;
    s.OnDataSent = [&](TCustomWSocket*, uint16_t e) {
        EXPECT_EQ(e, 0);
        ++sentEvents;
        firedInsideSend |= insideSend;
    };
    std::string payload(3000, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    insideSend = true;
    EXPECT_EQ(s.SendStr(payload), 3000);
    insideSend = false;
    EXPECT_EQ(s.sends, (std::vector<int>{1514, 1486}));
    EXPECT_EQ(sentEvents, 0);
    ASSERT_TRUE(WaitUntil([&] { return sentEvents == 1; }));
    RunEventLoopFor(50);
    EXPECT_EQ(sentEvents, 1);
    EXPECT_FALSE(firedInsideSend);
    std::string got(3000, '\0'); // all of it is with the platform by now
    const timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    EXPECT_EQ(recv(fd, got.data(), got.size(), MSG_WAITALL), 3000);
    EXPECT_EQ(got, payload);

    // The emptied last chunk is refilled, so 10 more bytes go out as one send of 10.
    s.sends.clear();
    s.SendStr("0123456789");
    EXPECT_EQ(s.sends, (std::vector<int>{10}));
    // Sends made before the loop runs share one report.
    s.SendStr("abc");
    ASSERT_TRUE(WaitUntil([&] { return sentEvents == 2; }));
    RunEventLoopFor(50);
    EXPECT_EQ(sentEvents, 2);
    close(fd);
}

TEST(WSocketSession, PeerClosingWithDataUnreadDeliversAllThenClosesOnce) {
    RawListener peer;
    TWSocket s;
    std::vector<std::string> order;
    std::string got;
    s.OnDataAvailable = [&](TCustomWSocket* sender, uint16_t) {
        char buf[700]; // small reads: the loop must come back for the rest
        const int n = sender->Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
        if (order.empty() || order.back() != "data") order.push_back("data");
    };
    s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) {
        order.push_back("closed " + std::to_string(e));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    s.Connect();
    const int fd = peer.AcceptFd();
    std::string payload(200000, 'x');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + i % 26);
    // The peer writes everything and closes before the client has read a byte. Its send
    // buffer is made big enough to take it all, whatever the client's window, so the blocking
    // send cannot wait for a client that does not run yet.
    const int sendBuffer = 256 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    ASSERT_EQ(send(fd, payload.data(), payload.size(), 0), static_cast<ssize_t>(payload.size()));
    close(fd);
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload);
    EXPECT_EQ(order, (std::vector<std::string>{"data", "closed 0"}));
}

TEST(WSocketSession, AbortDropsQueuedDataAndResetsThePeer) {
    RawListener peer;
    TWSocket s;
    EventLog log;
    const int fd = peer.Connected(s); // the peer never reads: the sent data stays queued
    ASSERT_GE(fd, 0);
    log.Attach(s);
    s.SendStr(std::string(8 * 1024 * 1024, 'z'));
    s.Abort();
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(log.events, (std::vector<std::string>{"state 4>7", "closed 0"}));
    // A hard close: the peer's next read reports the reset instead of waiting for 8 MB.
    char buf[65536];
    ssize_t n = 0;
    do
        n = recv(fd, buf, sizeof buf, 0);
    while (n > 0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(errno, ECONNRESET);
    close(fd);
}

TEST(WSocketSession, SendingIntoAResetConnectionClosesItOnceWithTheCode) {
    RawListener peer;
    TWSocket s;
    EventLog log;
    const int fd = peer.Connected(s);
    ASSERT_GE(fd, 0);
    log.Attach(s);
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
    pollfd p{s.HSocket(), POLLIN, 0}; // the reset has arrived once the socket turns readable
    ASSERT_EQ(poll(&p, 1, 2000), 1);

    s.SendStr("too late");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(log.events, (std::vector<std::string>{"state 4>7", "closed 10054"}));
    RunEventLoopFor(50);
    EXPECT_EQ(log.Count("closed 10054"), 1);
}

TEST(WSocketSession, PauseHoldsEventsUntilResume) {
    ConnectedPair pair;
    EventLog log;
    log.Attach(pair.server);
    pair.server.Pause();
    pair.client.SendStr("held");
    RunEventLoopFor(100);
    EXPECT_EQ(log.data, "");
    pair.server.Resume();
    ASSERT_TRUE(WaitUntil([&] { return log.data == "held"; }));
}

TEST(WSocketSession, HandlersMayCloseOrDestroyTheSocketInsideAnEvent) {
    // Closing from OnDataAvailable while more data waits: nothing more is delivered.
    {
        ConnectedPair pair;
        int calls = 0, closes = 0;
        pair.server.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { ++closes; };
        pair.server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
            ++calls;
            char b[1];
            s->Receive(b, 1);
            s->Close();
        };
        pair.client.SendStr(std::string(5000, 'q'));
        ASSERT_TRUE(WaitUntil([&] { return pair.server.State() == wsClosed; }));
        RunEventLoopFor(50);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(closes, 1);
    }
    // Destroying the socket from its own events, with more events already on their way.
    {
        RawListener peer;
        auto owned = std::make_unique<TWSocket>();
        TWSocket* raw = owned.get();
        raw->OnSessionConnected = [&](TCustomWSocket*, uint16_t) {
            raw->SendStr("x"); // posts a write event that must find nobody
            owned.reset();
        };
        raw->SetAddr("127.0.0.1");
        raw->SetPort(peer.PortText());
        raw->Connect();
        const int fd = peer.AcceptFd();
        ASSERT_TRUE(WaitUntil([&] { return !owned; }));
        RunEventLoopFor(50);
        close(fd);
    }
    {
        ConnectedPair pair;
        pair.server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
            char b[10];
            s->Receive(b, sizeof b);
            pair.server.Abort();
        };
        pair.client.SendStr(std::string(100, 'r'));
        ASSERT_TRUE(WaitUntil([&] { return pair.server.State() == wsClosed; }));
    }
}

TEST(WSocketSession, AClosedHandlerMayOpenTheNextConnectionAtOnce) {
    RawListener peer;
    TWSocket s;
    int closes = 0;
    s.OnSessionClosed = [&](TCustomWSocket* sender, uint16_t) {
        if (++closes == 1) {
            sender->SetPort(peer.PortText());
            sender->SetAddr("127.0.0.1");
            sender->Connect();
        }
    };
    const int first = peer.Connected(s);
    ASSERT_GE(first, 0);
    s.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(s.State(), wsConnecting);
    const int second = peer.AcceptFd();
    ASSERT_GE(second, 0);
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
    close(second); // the new connection reports its own close
    ASSERT_TRUE(WaitUntil([&] { return closes == 2; }));
    EXPECT_EQ(s.State(), wsClosed);
    close(first);
}

TEST(WSocketSession, AListenerMayTakeOverTheConnectionItAccepts) {
    // The data-connection pattern: accept, close the listener, adopt the accepted handle.
    TWSocket data;
    data.SetAddr("0.0.0.0");
    data.SetPort("0");
    data.SetLingerOnOff(wsLingerOff);
    ASSERT_EQ(data.Listen(), 0);
    const int port = std::stoi(data.GetLocalPort());
    EventLog log;
    data.OnSessionAvailable = [&](TCustomWSocket* s, uint16_t) {
        const TSocketHandle h = s->Accept();
        s->Close();
        s->Dup(h);
        log.Attach(*s);
    };
    const int fd = RawConnect(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WaitUntil([&] { return data.State() == wsConnected; }));
    EXPECT_EQ(data.GetPeerAddr(), "127.0.0.1");
    send(fd, "file contents", 13, 0);
    close(fd);
    ASSERT_TRUE(WaitUntil([&] { return data.State() == wsClosed; }));
    EXPECT_EQ(log.data, "file contents");
    EXPECT_EQ(log.Count("closed 0"), 1);
}

TEST(WSocketSession, ExceptionsFromHandlersNeverLeaveTheEventLoop) {
    std::vector<std::string> reported;
    platform::ScopedErrorReporter reporter([&](const std::string& m) { reported.push_back(m); });
    ConnectedPair pair;
    int calls = 0;
    pair.server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
        ++calls;
        char b[4];
        s->Receive(b, sizeof b);
        throw ESocketException("handler failed");
    };
    pair.client.SendStr("1234");
    ASSERT_TRUE(WaitUntil([&] { return !reported.empty(); }));
    EXPECT_EQ(reported.front(), "handler failed");
    EXPECT_EQ(calls, 1);

    pair.client.OnSessionClosed = [](TCustomWSocket*, uint16_t) {
        throw ESocketException("closed handler failed");
    };
    pair.server.Close();
    ASSERT_TRUE(WaitUntil([&] { return reported.size() == 2; }));
    EXPECT_EQ(reported.back(), "closed handler failed");
}
