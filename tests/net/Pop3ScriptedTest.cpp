// The POP3 client against scripted servers: odd greetings, replies split or joined across
// reads, over-long lines and servers that go away in the middle of a reply.

#include "Pop3Test.h"

#include "net/WSocket.h"
#include "platform/ErrorReport.h"

#include "support/ScriptedServer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

using pop3test::Recorder;
using testsupport::ScriptedServer;
using Lines = std::vector<std::string>;

class Pop3Scripted : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& f : server.Failures())
            ADD_FAILURE() << "server: " << f;
    }

    void StartClient() {
        cli.SetHost("127.0.0.1");
        cli.SetPort(server.PortText());
        cli.SetUserName("bob");
        cli.SetPassWord("pw");
        server.Start();
    }

    // The server's side of greeting, USER and PASS; the test's own steps follow.
    ScriptedServer& LoginScript() {
        testsupport::Pop3Greeting(server);
        testsupport::Pop3Login(server, "bob", "pw");
        return server;
    }

    // Starts the server and logs in through Login.
    void LogIn() {
        StartClient();
        cli.Login();
        ASSERT_TRUE(rec.WaitDone());
        ASSERT_EQ(rec.Last().rq, pop3Login);
        ASSERT_EQ(rec.Last().error, 0);
        ASSERT_EQ(cli.ProtocolState(), pop3Transaction);
    }

    // Runs op, which must raise Pop3Exception with `text`. Texts that begin with "-ERR " also
    // become ErrorMessage and reach OnDisplay.
    void ExpectRefusal(void (TCustomPop3Cli::*op)(), const std::string& text) {
        std::string errorBefore = cli.ErrorMessage();
        std::size_t displayBefore = rec.display.size();
        try {
            (cli.*op)();
            ADD_FAILURE() << "no refusal, expected: " << text;
        } catch (const Pop3Exception& e) {
            EXPECT_EQ(e.what(), text);
        }
        if (text.rfind("-ERR ", 0) == 0) {
            EXPECT_EQ(cli.ErrorMessage(), text);
            ASSERT_EQ(rec.display.size(), displayBefore + 1);
            EXPECT_EQ(rec.display.back(), text);
        } else {
            EXPECT_EQ(cli.ErrorMessage(), errorBefore);
            EXPECT_EQ(rec.display.size(), displayBefore);
        }
    }

    ScriptedServer server;
    TPop3Cli cli;
    Recorder rec{cli};
};

TEST_F(Pop3Scripted, GreetingWithTimestampAllowsApop) {
    const std::string stamp = "<1896.697170952.dbc>";
    testsupport::Pop3Greeting(server, "+OK ready " + stamp);
    server.Expect("APOP bob " + Pop3ApopDigest(stamp, "pw")).SendLine("+OK maildrop ready");
    testsupport::Pop3Quit(server);
    StartClient();

    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(rec.Last().stateInHandler, pop3Ready); // ready before the handler runs
    EXPECT_EQ(cli.ProtocolState(), pop3WaitingUser);
    EXPECT_EQ(cli.Timestamp(), stamp);
    EXPECT_EQ(rec.display, Lines{"< +OK ready " + stamp});
    EXPECT_EQ(rec.states, (std::vector<TPop3State>{pop3DnsLookup, pop3Connecting, pop3WaitingBanner,
                                                   pop3Connected, pop3Ready}));

    cli.APop();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3APop);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(cli.ProtocolState(), pop3Transaction);

    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Quit);
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return rec.events.back() == "closed:0"; }));
}

TEST_F(Pop3Scripted, GreetingWithoutTimestampRefusesApopAndSendsNothing) {
    testsupport::Pop3Greeting(server, "+OK ready");
    testsupport::Pop3Quit(server);
    StartClient();
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(cli.Timestamp(), "");

    ExpectRefusal(&TCustomPop3Cli::APop, "-ERR Server do not support APOP (no timestamp)");
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ScriptDone(); }));
    EXPECT_EQ(server.Received(), Lines{"QUIT"});
}

TEST_F(Pop3Scripted, NegativeGreetingClosesAndReports10004) {
    testsupport::Pop3Greeting(server, "-ERR busy");
    StartClient();
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.display, Lines{"< -ERR busy"});
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 10004);
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR busy");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ClientClosed(); }));
}

TEST_F(Pop3Scripted, UnknownHostAndRefusedConnectionReportNetworkCodes) {
    cli.SetHost("no-such-host.invalid");
    cli.SetPort("110");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(1, 30000));
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 11001);
    EXPECT_EQ(cli.LastResponse(), "-ERR Host not found (Winsock error #11001)");
    EXPECT_EQ(cli.ErrorMessage(), cli.LastResponse());

    // Nothing listens on port 1 of the loopback address.
    cli.SetHost("127.0.0.1");
    cli.SetPort("1");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 10061);
    EXPECT_EQ(cli.LastResponse(), "-ERR Connection refused (Winsock error #10061)");
    EXPECT_EQ(cli.ErrorMessage(), "-ERR Host not found (Winsock error #11001)"); // first wins
    EXPECT_EQ(cli.State(), pop3Ready);
}

TEST_F(Pop3Scripted, APortTheSocketRefusesStillEndsConnect) {
    std::vector<std::string> reported;
    auto previous =
        platform::SetErrorReporter([&](const std::string& m) { reported.push_back(m); });
    const std::string refusal =
        "Error 11004 in function SetPort: Cannot convert port 'no-such-service'\r\nNo Data";
    // A name: the socket refuses inside the lookup's answer, so the error handler shows it.
    cli.SetHost("localhost");
    cli.SetPort("no-such-service");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 11004);
    EXPECT_EQ(rec.Last().stateInHandler, pop3Ready);
    EXPECT_EQ(reported, Lines{refusal});

    // A dotted address is answered inside Connect, which raises; the request ends all the same.
    cli.SetHost("127.0.0.1");
    try {
        cli.Connect();
        ADD_FAILURE() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.what(), refusal);
    }
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 11004);
    EXPECT_EQ(cli.LastResponse(), "-ERR No Data (Winsock error #11004)");
    platform::SetErrorReporter(previous);

    // The client is ready for the next attempt.
    testsupport::Pop3Greeting(server);
    StartClient();
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().error, 0);
}

TEST_F(Pop3Scripted, RefusalsBeforeLoginSendNothing) {
    ExpectRefusal(&TCustomPop3Cli::Stat, "-ERR STAT command invalid now");
    ExpectRefusal(&TCustomPop3Cli::User, "POP3 component not connected");
    ExpectRefusal(&TCustomPop3Cli::APop, "-ERR APOP command invalid now");
    cli.SetMsgLines(-1);
    ExpectRefusal(&TCustomPop3Cli::Top, "Invalid MsgLines for TOP command");

    // QUIT with no connection ends at once, but still from the event loop.
    cli.Quit();
    EXPECT_TRUE(rec.done.empty());
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, pop3Quit);
    EXPECT_EQ(rec.Last().error, 0);
}

TEST_F(Pop3Scripted, HandlersMayReplaceThemselves) {
    // Each handler clears itself and then still uses what it captured.
    const std::string tag(64, 't');
    std::vector<std::string> seen;
    cli.OnDisplay = [&, tag](TCustomPop3Cli* c, const std::string&) {
        c->OnDisplay = nullptr;
        seen.push_back("display " + tag);
    };
    cli.OnRequestDone = [&, tag](TCustomPop3Cli* c, TPop3Request, std::uint16_t) {
        c->OnRequestDone = nullptr;
        seen.push_back("done " + tag);
    };
    EXPECT_THROW(cli.Stat(), Pop3Exception); // its refusal is displayed
    cli.Quit();                              // no connection: done at once, from the loop
    ASSERT_TRUE(testsupport::WaitUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (Lines{"display " + tag, "done " + tag}));
}

TEST_F(Pop3Scripted, RefusalsInTransactionSendNothing) {
    LoginScript().Expect("STAT").SendLine("+OK 0 0");
    testsupport::Pop3Quit(server);
    LogIn();

    ExpectRefusal(&TCustomPop3Cli::User, "-ERR USER command invalid now");
    ExpectRefusal(&TCustomPop3Cli::Pass, "-ERR PASS command invalid now");
    ExpectRefusal(&TCustomPop3Cli::RPop, "-ERR RPOP command invalid now");
    ExpectRefusal(&TCustomPop3Cli::APop, "-ERR APOP command invalid now");
    ExpectRefusal(&TCustomPop3Cli::Connect, "POP3 component already connected");
    ExpectRefusal(&TCustomPop3Cli::Login, "pop3 component already connected");

    cli.Stat();
    ExpectRefusal(&TCustomPop3Cli::Stat, "POP3 component not ready");
    ExpectRefusal(&TCustomPop3Cli::Quit, "POP3 component not ready");
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3Stat);

    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ScriptDone(); }));
    EXPECT_EQ(server.Received(), (Lines{"USER bob", "PASS pw", "STAT", "QUIT"}));
}

TEST_F(Pop3Scripted, TopDeliversUnstuffedLinesOneByOne) {
    LoginScript().Expect("STAT").SendLine("+OK 7");
    server.Expect("TOP 2 0").Send("+OK\r\nFrom: a@b\r\n..From me\r\n\r\n.x\r\n.\r\n");
    testsupport::Pop3Quit(server);
    LogIn();

    cli.Stat();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(cli.MsgCount(), 7);
    EXPECT_EQ(cli.MsgSize(), 0);

    rec.display.clear();
    rec.responses.clear();
    rec.events.clear();
    cli.SetMsgNum(2);
    cli.SetMsgLines(0);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Top);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(rec.lines, (Lines{"From: a@b", ".From me", "", ".x"}));
    EXPECT_EQ(rec.display, (Lines{"> TOP 2 0", "< +OK"})); // data lines are not displayed
    // ... but every line reaches OnResponse as it came, still dot-stuffed.
    EXPECT_EQ(rec.responses, (Lines{"+OK", "From: a@b", "..From me", "", ".x", "."}));
    EXPECT_EQ(rec.events.back(), "done:8:0");
    EXPECT_EQ(rec.events[rec.events.size() - 2], "end");
    EXPECT_EQ(cli.LastResponse(), "");
}

TEST_F(Pop3Scripted, ServerClosingInTopEndsItAndQuitCompletesAtOnce) {
    LoginScript().Expect("TOP 1 0").SendAndClose("+OK\r\nFrom: a@b\r\n");
    LogIn();
    cli.SetMsgNum(1);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3Top);
    EXPECT_EQ(rec.Last().error, 10004);
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[rec.events.size() - 2].rfind("closed:", 0), 0u);
    EXPECT_EQ(rec.lines, Lines{"From: a@b"});
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);

    ExpectRefusal(&TCustomPop3Cli::Top, "-ERR TOP command invalid now");
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Quit);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(server.Received(), (Lines{"USER bob", "PASS pw", "TOP 1 0"}));
}

TEST_F(Pop3Scripted, AbortFromTheClosedHandlerStillEndsTheRequest) {
    LoginScript().Expect("TOP 1 0").SendAndClose("+OK\r\nFrom: a@b\r\n");
    LogIn();
    cli.OnSessionClosed = [](TCustomPop3Cli* c, std::uint16_t) { c->Abort(); };
    cli.SetMsgNum(1);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3Top);
    EXPECT_EQ(rec.Last().error, 10004);
    EXPECT_EQ(cli.State(), pop3Ready);
    testsupport::RunEventLoopFor(50);
    EXPECT_EQ(rec.done.size(), 2u);
}

TEST_F(Pop3Scripted, RepliesSplitIntoBytesOrEndedByALoneLf) {
    server.Send("+OK hi\n").Expect("USER bob").Send("+OK\n").Expect("PASS pw").SendLine("+OK");
    server.Expect("TOP 3 0").SendBytewise("+OK top\r\nSubject: x\r\nTo: y\n\r\n.\r\n");
    server.Expect("NOOP").SendBytewise("+OK\r\n");
    StartClient();
    cli.Login();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.done.size(), 1u);
    EXPECT_EQ(rec.Last().rq, pop3Login);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(cli.ProtocolState(), pop3Transaction);

    cli.SetMsgNum(3);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(rec.lines, (Lines{"Subject: x", "To: y", ""}));
    cli.Noop();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Noop);
    EXPECT_EQ(rec.Last().error, 0);
}

// A line that arrives before USER is written cannot be USER's reply.
TEST_F(Pop3Scripted, OnlyWhatArrivesAfterTheCommandAnswersIt) {
    server.Send("+OK hi\r\n+OK stray\r\n").Expect("USER bob").SendLine("-ERR unknown user");
    StartClient();
    cli.Login();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR unknown user");
    EXPECT_EQ(server.Received(), Lines{"USER bob"}); // no PASS
}

// A multi-line reply that never ends must not fill memory.
TEST_F(Pop3Scripted, AMultiLineReplyIsBoundedInSize) {
    std::string flood = "+OK\r\n";
    for (int i = 0; i < 2000; ++i)
        flood += "X-Filler: " + std::string(40, 'f') + "\r\n";
    LoginScript().Expect("TOP 1 0").Send(flood);
    LogIn();
    cli.SetMaxReplySize(64 * 1024);
    cli.SetMsgNum(1);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR Reply too long");
    EXPECT_LT(rec.lines.size(), 64u * 1024 / 50);
    EXPECT_TRUE(
        testsupport::WaitUntil([&] { return cli.ProtocolState() == pop3Disconnected; }, 5000));
}

TEST_F(Pop3Scripted, LoginStopsAtTheFirstFailure) {
    testsupport::Pop3Greeting(server);
    server.Expect("USER bob").SendLine("+OK");
    server.Expect("PASS pw").SendLine("-ERR [AUTH] Authentication failed.");
    server.Expect("PASS pw").SendLine("-ERR again");
    StartClient();
    cli.Login();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, pop3Login);
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ProtocolState(), pop3WaitingPass); // a negative reply changes nothing
    EXPECT_EQ(cli.ErrorMessage(), "-ERR [AUTH] Authentication failed.");

    // The connection stays; PASS may be tried again, and later errors do not overwrite.
    cli.Pass();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3Pass);
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR [AUTH] Authentication failed.");
}

TEST_F(Pop3Scripted, AbortEndsLoginWith426) {
    StartClient(); // the server accepts but never greets
    cli.Login();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return cli.State() == pop3WaitingBanner; }));
    cli.Abort();
    EXPECT_EQ(cli.State(), pop3Ready);
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.done.size(), 1u);
    EXPECT_EQ(rec.Last().rq, pop3Login);
    EXPECT_EQ(rec.Last().error, 426);
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ClientClosed(); }));

    // With nothing outstanding, Abort reports nothing.
    cli.Abort();
    testsupport::RunEventLoopFor(50);
    EXPECT_EQ(rec.done.size(), 1u);
}

TEST_F(Pop3Scripted, ReplyLineLimit) {
    const std::size_t max = TCustomPop3Cli::MaxLineLength;
    LoginScript().Expect("TOP 1 0").Send("+OK\r\n" + std::string(max, 'a') + "\r\n.\r\n");
    server.Expect("TOP 2 0").Send("+OK\r\n" + std::string(max + 1, 'b'));
    LogIn();

    cli.SetMsgNum(1);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 0);
    ASSERT_EQ(rec.lines.size(), 1u);
    EXPECT_EQ(rec.lines[0].size(), max);

    // One byte more can never end: the request fails and the connection is dropped, so the
    // caller is not left waiting.
    cli.SetMsgNum(2);
    cli.Top();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Top);
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR Reply line too long");
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ClientClosed(); }));
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(4));
    EXPECT_EQ(rec.Last().rq, pop3Quit);
    EXPECT_EQ(rec.Last().error, 0);
}

} // namespace
