// Values that go into POP3 command lines: one with a line break must never reach the server,
// where the rest would run as a command of its own; and what the client reports stays on
// one line, whatever the server sends.

#include "Pop3Test.h"

#include "support/ScriptedServer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

using pop3test::Recorder;
using testsupport::ScriptedServer;
using Lines = std::vector<std::string>;

enum class Op { User, Pass, RPop, APop, Login };

struct RefusalCase {
    const char* name;
    Op op;
    std::string user, password;
    std::string refusal;
};

void Perform(TPop3Cli& cli, Op op) {
    switch (op) {
    case Op::User:
        return cli.User();
    case Op::Pass:
        return cli.Pass();
    case Op::RPop:
        return cli.RPop();
    case Op::APop:
        return cli.APop();
    case Op::Login:
        return cli.Login();
    }
}

TEST(Pop3CommandValue, ALineBreakInAValueIsRefusedBeforeAnythingIsSent) {
    const std::string userBreak = "The user name contains a line break";
    const std::string passBreak = "The password contains a line break";
    const RefusalCase cases[] = {
        {"user", Op::User, "bob\r\nDELE 1", "pw", userBreak},
        {"password", Op::Pass, "bob", "pw\r\nDELE 1", passBreak},
        {"lone LF", Op::Pass, "bob", "pw\nDELE 1", passBreak},
        {"lone CR", Op::Pass, "bob", "pw\rDELE 1", passBreak},
        {"NUL", Op::Pass, "bob", std::string("pw\0DELE 1", 9), passBreak},
        {"RPOP", Op::RPop, "bob", "pw\r\nDELE 1", passBreak},
        {"APOP user", Op::APop, "bob\r\nDELE 1", "pw", userBreak},
        {"Login", Op::Login, "bob", "pw\r\nDELE 1", passBreak},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        const bool afterUser = c.op == Op::Pass || c.op == Op::RPop;
        if (c.op != Op::Login) {
            testsupport::Pop3Greeting(server, "+OK ready <1.2@host>");
            if (afterUser) server.Expect("USER bob").SendLine("+OK");
            testsupport::Pop3Quit(server);
        }
        server.Start();
        TPop3Cli cli;
        Recorder rec(cli);
        cli.SetHost("127.0.0.1");
        cli.SetPort(server.PortText());
        cli.SetUserName(c.user);
        cli.SetPassWord(c.password);
        if (c.op != Op::Login) {
            cli.Connect();
            ASSERT_TRUE(rec.WaitDone(1));
            if (afterUser) {
                cli.User();
                ASSERT_TRUE(rec.WaitDone(2));
                ASSERT_EQ(rec.Last().error, 0);
            }
        }
        const std::size_t done = rec.done.size();
        try {
            Perform(cli, c.op);
            ADD_FAILURE() << "not refused";
        } catch (const Pop3Exception& e) {
            EXPECT_EQ(e.what(), c.refusal);
        }
        EXPECT_EQ(cli.State(), pop3Ready);
        if (c.op == Op::Login) {
            testsupport::RunEventLoopFor(50);
            EXPECT_EQ(rec.done.size(), done); // no connection was started
            continue;
        }
        // The session goes on: the client is ready to say goodbye, and that is all it says.
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(done + 1));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
        const Lines sent = afterUser ? Lines{"USER bob", "QUIT"} : Lines{"QUIT"};
        EXPECT_EQ(server.Received(), sent);
        EXPECT_EQ(server.Failures(), Lines{});
    }
}

TEST(Pop3CommandValue, AServersLoneCarriageReturnsDoNotReachTheReport) {
    ScriptedServer server;
    testsupport::Pop3Greeting(server, "+OK ready");
    server.Expect("USER bob").SendLine("-ERR no\rsuch\r\ruser");
    testsupport::Pop3Quit(server);
    server.Start();
    TPop3Cli cli;
    Recorder rec(cli);
    cli.SetHost("127.0.0.1");
    cli.SetPort(server.PortText());
    cli.SetUserName("bob");
    cli.Connect();
    ASSERT_TRUE(rec.WaitDone(1));
    cli.User();
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 500);
    // A reply with lone CRs: what is displayed and kept as the error is one line.
    EXPECT_EQ(cli.ErrorMessage(), "-ERR no such user");
    EXPECT_EQ(rec.display.back(), "< -ERR no such user");
    cli.Quit();
    ASSERT_TRUE(rec.WaitDone(3));
}

} // namespace
