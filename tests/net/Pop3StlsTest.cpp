// STLS as the POP3 client speaks it: the greeting decides, STLS is sent and its answer judged
// by the client, and only then is the transport asked to secure the connection. Nothing the
// server sent before the handshake may count after it.

#include "Pop3Test.h"

#include "support/FakeTransport.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Lines = std::vector<std::string>;
using testsupport::FakeTransport;

TEST(Pop3Stls, TheClientSecuresTheConnectionBeforeItLogsIn) {
    const std::string closed = "TLS error: the server closed the connection before STLS";
    struct Case {
        const char* name;
        std::function<void(FakeTransport&)> script;
        std::uint16_t error;
        std::string failure; // ConnectFailure
        Lines events;        // what the client reported, in order
        Lines sent;
    } cases[] = {
        {"secured; a line sent with the answer is dropped",
         [](FakeTransport& s) {
             s.ServerSends("+OK ready <1.2@x>").ClientSends("STLS");
             s.ServerSendsRaw("+OK Begin TLS\r\n+OK welcome bob\r\n").ClientStartsTls();
             s.ClientSends("USER bob").ServerSends("+OK").ClientSends("PASS pw").ServerSends("+OK");
         },
         0,
         "",
         {"display:< +OK ready <1.2@x>", "display:> USER bob", "display:< +OK", "display:> PASS pw",
          "display:< +OK", "done:pop3Login:0"},
         {"STLS", "USER bob", "PASS pw"}},
        {"STLS refused",
         [](FakeTransport& s) {
             s.ServerSends("+OK ready").ClientSends("STLS").ServerSends("-ERR no TLS today");
         },
         kTlsFailure,
         "TLS error: the server refused STLS (-ERR no TLS today)",
         {"done:pop3Login:10053", "closed:0"},
         {"STLS"}},
        {"answered without +OK",
         [](FakeTransport& s) {
             s.ServerSends("+OK ready").ClientSends("STLS").ServerSends("+OKAY");
         },
         kTlsFailure,
         "TLS error: the server refused STLS (+OKAY)",
         {"done:pop3Login:10053", "closed:0"},
         {"STLS"}},
        {"closed before the answer",
         [](FakeTransport& s) { s.ServerSends("+OK ready").ClientSends("STLS").ServerCloses(); },
         kTlsFailure,
         closed,
         {"done:pop3Login:10053"},
         {"STLS"}},
        {"handshake fails",
         [](FakeTransport& s) {
             s.ServerSends("+OK ready").ClientSends("STLS").ServerSends("+OK").ClientStartsTls();
             s.FailTls("wrong version number");
         },
         kTlsFailure,
         "TLS error: wrong version number",
         {"done:pop3Login:10053", "closed:0"},
         {"STLS"}},
        {"greeting too long",
         [](FakeTransport& s) { s.ServerSendsRaw(std::string(5000, 'x')); },
         kTlsFailure,
         "TLS error: the server's line before STLS is too long",
         {"done:pop3Login:10053", "closed:0"},
         {}},
        {"refusing greeting: no STLS",
         [](FakeTransport& s) { s.ServerSends("-ERR busy"); },
         10004,
         "",
         {"display:< -ERR busy", "closed:0", "done:pop3Login:10004"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* server = new FakeTransport;
        TPop3Cli cli{std::unique_ptr<TTransport>(server)};
        pop3test::Recorder rec{cli};
        cli.SetSecurity(secStls);
        cli.SetUserName("bob");
        cli.SetPassWord("pw");
        c.script(*server);
        cli.Login();
        ASSERT_TRUE(testsupport::WaitUntil(
            [&] { return !rec.done.empty() && (c.error == 0 || server->Closed()); }));
        EXPECT_EQ(rec.Last().error, c.error);
        EXPECT_EQ(cli.ConnectFailure(), c.failure);
        EXPECT_EQ(rec.events, c.events);
        EXPECT_EQ(server->Sent(), c.sent);
        EXPECT_EQ(server->Failures(), Lines{});
        EXPECT_EQ(server->Unplayed(), "");
        // What the server said before the handshake is no reply to anything.
        EXPECT_EQ(rec.responses, c.error == 0       ? (Lines{"+OK ready <1.2@x>", "+OK", "+OK"})
                                 : c.error == 10004 ? Lines{"-ERR busy"}
                                                    : Lines{});
    }
}

} // namespace
