// The POP3 client as a transcript against an in-process server: odd greetings, replies split
// or joined across reads, over-long lines and servers that go away in the middle of a reply.

#include "Pop3Test.h"

#include "support/FakeTransport.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

using pop3test::Recorder;
using Lines = std::vector<std::string>;

class Pop3Transcript : public ::testing::Test {
  protected:
    Pop3Transcript() {
        cli.SetUserName("bob");
        cli.SetPassWord("pw");
    }

    void TearDown() override {
        for (const auto& f : server->Failures())
            ADD_FAILURE() << f;
        EXPECT_EQ(server->Unplayed(), "") << "the conversation stopped short";
    }

    // The server's side of greeting, USER and PASS.
    testsupport::FakeTransport& LoginScript() {
        return server->ServerSends("+OK ready")
            .ClientSends("USER bob")
            .ServerSends("+OK")
            .ClientSends("PASS pw")
            .ServerSends("+OK");
    }

    void LogIn() {
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

    testsupport::FakeTransport* server = new testsupport::FakeTransport;
    TPop3Cli cli{std::unique_ptr<TTransport>(server)};
    Recorder rec{cli};
};

TEST_F(Pop3Transcript, GreetingWithTimestampAllowsApop) {
    const std::string stamp = "<1896.697170952.dbc>";
    server->ServerSends("+OK ready " + stamp);
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

    server->ClientSends("APOP bob " + Pop3ApopDigest(stamp, "pw")).ServerSends("+OK in");
    cli.APop();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().rq, pop3APop);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(cli.ProtocolState(), pop3Transaction);

    server->ClientSends("QUIT").ServerSends("+OK bye").ServerCloses();
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(3));
    EXPECT_EQ(rec.Last().rq, pop3Quit);
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return rec.events.back() == "closed:0"; }))
        << ::testing::PrintToString(rec.events) << server->Unplayed();
}

TEST_F(Pop3Transcript, GreetingWithoutTimestampRefusesApopAndSendsNothing) {
    server->ServerSends("+OK ready");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(cli.Timestamp(), "");
    ExpectRefusal(&TCustomPop3Cli::APop, "-ERR Server do not support APOP (no timestamp)");
    server->ClientSends("QUIT").ServerSends("+OK");
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(server->Sent(), Lines{"QUIT"});
}

TEST_F(Pop3Transcript, NegativeGreetingClosesAndReports10004) {
    // A lone CR in the text would start a line of its own in the log.
    server->ServerSends("-ERR busy\r\rnow");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.display, Lines{"< -ERR busy now"});
    EXPECT_EQ(rec.Last().rq, pop3Connect);
    EXPECT_EQ(rec.Last().error, 10004);
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR busy now");
    EXPECT_TRUE(cli.ConnectionClosed());
}

TEST_F(Pop3Transcript, RefusalsBeforeLoginSendNothing) {
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

TEST_F(Pop3Transcript, HandlersMayReplaceThemselves) {
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

TEST_F(Pop3Transcript, RefusalsInTransactionSendNothing) {
    LoginScript().ClientSends("STAT").ServerSends("+OK 0 0");
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
    EXPECT_EQ(server->Sent(), (Lines{"USER bob", "PASS pw", "STAT"}));
}

TEST_F(Pop3Transcript, TopDeliversUnstuffedLinesOneByOne) {
    LoginScript().ClientSends("STAT").ServerSends("+OK 7");
    LogIn();
    cli.Stat();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(cli.MsgCount(), 7);
    EXPECT_EQ(cli.MsgSize(), 0);

    rec.display.clear();
    rec.responses.clear();
    rec.events.clear();
    server->ClientSends("TOP 2 0").ServerSendsRaw(
        "+OK\r\nFrom: a@b\r\n..From me\r\n\r\n.x\r\n.\r\n");
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
    EXPECT_EQ(rec.events.back(), "done:pop3Top:0");
    EXPECT_EQ(rec.events[rec.events.size() - 2], "end");
    EXPECT_EQ(cli.LastResponse(), "");
}

TEST_F(Pop3Transcript, ServerClosingInTopEndsItAndQuitCompletesAtOnce) {
    for (bool abortOnClose : {false, true}) {
        SCOPED_TRACE(abortOnClose ? "Abort from the closed handler" : "no Abort");
        LoginScript().ClientSends("TOP 1 0").ServerSendsRaw("+OK\r\nFrom: a@b\r\n").ServerCloses();
        rec.lines.clear();
        LogIn();
        if (abortOnClose)
            cli.OnSessionClosed = [](TCustomPop3Cli* c, std::uint16_t) { c->Abort(); };
        cli.SetMsgNum(1);
        cli.Top();
        ASSERT_TRUE(rec.WaitDone(2));
        EXPECT_EQ(rec.Last().rq, pop3Top);
        EXPECT_EQ(rec.Last().error, 10004);
        EXPECT_EQ(rec.lines, Lines{"From: a@b"});
        EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
        EXPECT_EQ(cli.State(), pop3Ready);

        ExpectRefusal(&TCustomPop3Cli::Top, "-ERR TOP command invalid now");
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(3));
        EXPECT_EQ(rec.Last().rq, pop3Quit);
        EXPECT_EQ(rec.Last().error, 0);
        testsupport::RunEventLoopFor(20);
        EXPECT_EQ(rec.done.size(), 3u);
        rec.done.clear();
        cli.OnSessionClosed = nullptr;
    }
}

TEST_F(Pop3Transcript, RepliesSplitIntoBytesOrEndedByALoneLf) {
    server->ServerSendsRaw("+OK hi\n").ClientSends("USER bob").ServerSendsRaw("+OK\n");
    server->ClientSends("PASS pw").ServerSends("+OK");
    server->ClientSends("TOP 3 0").ServerSendsBytewise("+OK top\r\nSubject: x\r\nTo: y\n\r\n.\r\n");
    server->ClientSends("NOOP").ServerSendsBytewise("+OK\r\n");
    LogIn();
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
TEST_F(Pop3Transcript, OnlyWhatArrivesAfterTheCommandAnswersIt) {
    server->ServerSendsRaw("+OK hi\r\n+OK stray\r\n").ClientSends("USER bob");
    server->ServerSends("-ERR unknown user");
    cli.Login();
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().error, 500);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR unknown user");
    EXPECT_EQ(server->Sent(), Lines{"USER bob"}); // no PASS
}

TEST_F(Pop3Transcript, LoginStopsAtTheFirstFailure) {
    server->ServerSends("+OK").ClientSends("USER bob").ServerSends("+OK");
    server->ClientSends("PASS pw").ServerSends("-ERR [AUTH] Authentication failed.");
    server->ClientSends("PASS pw").ServerSends("-ERR again");
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

// A reply that can never end (a line past the limit, a multi-line reply past its size) fails
// the request and drops the connection, so neither memory nor the caller's wait is unbounded.
TEST_F(Pop3Transcript, RepliesAreBounded) {
    const std::size_t max = TCustomPop3Cli::MaxLineLength;
    std::string flood = "+OK\r\n";
    for (int i = 0; i < 2000; ++i)
        flood += "X-Filler: " + std::string(40, 'f') + "\r\n";
    struct Case {
        const char* name;
        std::string reply;
        const char* error;
    } cases[] = {
        {"line past the limit", "+OK\r\n" + std::string(max + 1, 'b'), "-ERR Reply line too long"},
        {"reply past its size", flood, "-ERR Reply too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoginScript().ClientSends("TOP 1 0").ServerSendsRaw("+OK\r\n" + std::string(max, 'a') +
                                                            "\r\n.\r\n");
        server->ClientSends("TOP 2 0").ServerSendsRaw(c.reply);
        rec.done.clear();
        rec.lines.clear();
        cli.SetMaxReplySize(TCustomPop3Cli::DefaultMaxReplySize);
        LogIn();
        cli.SetMsgNum(1);
        cli.Top();
        ASSERT_TRUE(rec.WaitDone(2));
        EXPECT_EQ(rec.Last().error, 0); // a line of the limit is taken
        ASSERT_EQ(rec.lines.size(), 1u);
        EXPECT_EQ(rec.lines[0].size(), max);

        cli.SetMaxReplySize(64 * 1024);
        cli.SetMsgNum(2);
        cli.Top();
        ASSERT_TRUE(rec.WaitDone(3));
        EXPECT_EQ(rec.Last().rq, pop3Top);
        EXPECT_EQ(rec.Last().error, 500);
        EXPECT_EQ(cli.ErrorMessage(), c.error);
        EXPECT_LT(rec.lines.size(), 64u * 1024 / 50);
        EXPECT_TRUE(cli.ConnectionClosed());
        EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(4));
        EXPECT_EQ(rec.Last().rq, pop3Quit);
        EXPECT_EQ(rec.Last().error, 0);
    }
}

} // namespace
