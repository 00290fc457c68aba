// Everything before a connection: error texts, the send chunk, the Addr/Port/Proto setters,
// the checks of Connect and Listen, and name lookups.

#include "WSocketTestSupport.h"
#include "support/LocalResolver.h"

#include <cerrno>
#include <fcntl.h>

using namespace wsockettest;
using testsupport::RunEventLoopFor;
using testsupport::WaitUntil;

namespace {

std::string Unsent(const TBuffer& b) {
    int len = 0;
    const char* data = b.Peek(len);
    return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

} // namespace

TEST(WSocketSetup, ErrorTextsAndNativeErrorMapping) {
    EXPECT_EQ(WinsockErrorDesc(0), "No Error");
    EXPECT_EQ(WinsockErrorDesc(10047), "Address family not supported by protocol family");
    EXPECT_EQ(WinsockErrorDesc(10001), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorDesc(-1), "Not a WinSock error");

    EXPECT_EQ(WinsockErrorFromErrno(0), 0);
    EXPECT_EQ(WinsockErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), 10057);
    // A native error with no counterpart must not pose as one from the table.
    EXPECT_EQ(WinsockErrorDesc(WinsockErrorFromErrno(ENOENT)), "Not a WinSock error");
    EXPECT_EQ(WinsockErrorDesc(WinsockErrorFromErrno(ENOSPC)), "Not a WinSock error");
}

TEST(WSocketSetup, BufferChunkFillsSendsAndRefills) {
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
    EXPECT_EQ(TBuffer(-5).BufSize(), 1514);

    TBuffer b(10);
    EXPECT_EQ(b.Write("abcdefgh", 8), 8);
    EXPECT_EQ(b.Write("ijklmn", 6), 2); // only the free space
    EXPECT_EQ(b.Write("z", 1), 0);
    EXPECT_EQ(Unsent(b), "abcdefghij");
    b.Remove(4);
    EXPECT_EQ(Unsent(b), "efghij");
    EXPECT_EQ(b.Write("z", 1), 0); // sent bytes are not reused until all are sent
    b.Remove(100);                 // more than is left: just the rest
    EXPECT_EQ(Unsent(b), "");
    EXPECT_EQ(b.WrCount(), 0);
    EXPECT_EQ(b.RdCount(), 0);
    EXPECT_EQ(b.Write("xyz", 3), 3);

    b.SetBufSize(20); // resizing keeps what is stored
    EXPECT_EQ(Unsent(b), "xyz");
    EXPECT_EQ(b.Write("0123456789abcdefghij", 20), 17);
}

TEST(WSocketSetup, PortAndProtoAcceptNumbersAndDatabaseNames) {
    // "pop3" comes from the service database for protocol tcp; a listener proves it is 110.
    // (Without the right to bind it, the bind failure at least shows a privileged port.)
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("pop3");
    int rc = -1;
    std::string bindError = Raised([&] { rc = s.Listen(); });
    if (bindError.empty()) {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(s.GetLocalPort(), "110");
    } else {
        EXPECT_NE(bindError.find("in function Bind"), std::string::npos) << bindError;
    }
    s.Close();

    EXPECT_EQ(Raised([&] { s.SetPort("no-such-service"); }),
              "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\n"
              "No Data");
    EXPECT_EQ(Raised([&] { s.SetPort("99999"); }),
              "Error 11004 in function SetPort: Cannot convert port '99999'\r\nNo Data");
    EXPECT_EQ(Raised([&] { s.SetProto("no-such-proto"); }),
              "Error 11004 in function SetProto: Cannot convert protocol 'no-such-proto'\r\n"
              "No Data");
    // A failed conversion leaves the value unassigned: Connect says so.
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort("110");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Protocol Specified");
    s.SetProto("tcp");
    s.SetPort("");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocketSetup, ConnectChecksInOrderAndAfterACloseEverythingIsSetAgain) {
    TWSocket s;
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified"); // before Addr
    s.SetPort("1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("   ");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetProto("");
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Protocol Specified");

    RawListener peer;
    s.SetProto("tcp");
    s.SetPort(peer.PortText());
    s.Connect();
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(Raised([&] { s.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(Raised([&] { s.SetPort("25"); }), "Cannot change Port if not closed");
    EXPECT_EQ(Raised([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
    s.Close();

    // The texts stay but count as not set; the same texts set again are accepted.
    EXPECT_EQ(s.Port(), "25");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(peer.PortText());
    s.SetAddr("127.0.0.1");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "");
    EXPECT_EQ(s.State(), wsConnecting);

    // With OnError the failure is reported there and the operation goes no further.
    TWSocket t;
    int errors = 0;
    t.OnError = [&](TCustomWSocket*) { ++errors; };
    t.Connect();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(t.State(), wsClosed);

    // An unknown host name always raises, even with OnError.
    testsupport::LocalResolver resolver;
    t.SetPort("1");
    t.SetAddr("no-such-host.invalid");
    EXPECT_EQ(Raised([&] { t.Connect(); }),
              "SetAddr: Cannot convert host address 'no-such-host.invalid'");
    EXPECT_EQ(t.State(), wsClosed);
}

TEST(WSocketSetup, ListenAcceptAndDupRefuseWhatTheyCannotDo) {
    TWSocket s;
    EXPECT_EQ(Raised([&] { s.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.SetPort("0");
    EXPECT_EQ(Raised([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { s.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    EXPECT_EQ(Raised([&] { s.Dup(INVALID_SOCKET); }),
              "Error 10022 in function Dup\r\nInvalid argument");
    EXPECT_EQ(s.GetLocalPort(), "error");
    EXPECT_EQ(s.GetPeerAddr(), "error");

    // A port in use: the failed bind leaves the socket closed and usable again.
    RawListener taken;
    s.SetAddr("127.0.0.1");
    s.SetPort(taken.PortText());
    EXPECT_EQ(Raised([&] { s.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
    s.SetPort("0");
    EXPECT_EQ(s.Listen(), 0);
    EXPECT_EQ(s.State(), wsListening);

    // Listening again replaces the handle; the one it held is closed, not left open.
    const TSocketHandle first = s.HSocket();
    EXPECT_EQ(s.Listen(), 0);
    EXPECT_NE(s.HSocket(), first);
    EXPECT_EQ(fcntl(first, F_GETFD), -1);
}

TEST(WSocketSetup, DottedAndEmptyNamesAreAnsweredAtOnce) {
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) { done.push_back(e); };
    s.DnsLookup("10.0.0.1");
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "10.0.0.1");
    EXPECT_TRUE(s.DnsResultList().empty());

    done.clear();
    EXPECT_EQ(Raised([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_TRUE(done.empty());
    int errors = 0;
    s.OnError = [&](TCustomWSocket*) {
        ++errors;
        EXPECT_TRUE(done.empty()); // the report comes first
    };
    s.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(done, (std::vector<int>{10022}));
}

TEST(WSocketSetup, NameLookupsEndInOneEventFromTheLoop) {
    testsupport::LocalResolver resolver({{"localhost", "127.0.0.1"}});
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t e) { done.push_back(e); };

    s.DnsLookup("no-such-host.invalid");
    EXPECT_TRUE(done.empty());
    ASSERT_TRUE(WaitUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, (std::vector<int>{11001}));
    EXPECT_EQ(s.DnsResult(), "");

    // A second lookup replaces the first, whose answer never shows.
    done.clear();
    s.DnsLookup("first-lookup.invalid");
    s.DnsLookup("localhost");
    ASSERT_TRUE(WaitUntil([&] { return !done.empty(); }));
    RunEventLoopFor(200);
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "127.0.0.1");
    ASSERT_FALSE(s.DnsResultList().empty());
    EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");

    // Cancelling reports 10004 at once and nothing after; with nothing pending, nothing.
    done.clear();
    s.DnsLookup("cancelled.invalid");
    s.CancelDnsLookup();
    EXPECT_EQ(done, (std::vector<int>{10004}));
    s.CancelDnsLookup();
    RunEventLoopFor(200);
    EXPECT_EQ(done, (std::vector<int>{10004}));

    done.clear();
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return !done.empty(); }));
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "localhost");
    EXPECT_EQ(s.DnsResultList(), (std::vector<std::string>{"localhost"}));
}

TEST(WSocketSetup, DestroyingASocketWithALookupPendingIsSafe) {
    testsupport::LocalResolver resolver;
    int done = 0;
    {
        TWSocket s;
        s.OnDnsLookupDone = [&](TCustomWSocket*, uint16_t) { ++done; };
        s.DnsLookup("destroyed.invalid");
    }
    RunEventLoopFor(300);
    EXPECT_EQ(done, 0);
}
