// A value with a line break in a POP3 command line would let the rest run as a command of its
// own (a password could delete mail): it must never reach the server.

#include "Pop3Test.h"

#include "support/ScriptedServer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(Pop3CommandValue, ALineBreakInAValueIsRefusedBeforeAnythingIsSent) {
    const std::string user = "The user name contains a line break";
    const std::string pass = "The password contains a line break";
    struct {
        const char* name;
        void (TCustomPop3Cli::*op)();
        std::string user, password, refusal;
    } cases[] = {
        {"USER", &TCustomPop3Cli::User, "bob\r\nDELE 1", "pw", user},
        {"APOP", &TCustomPop3Cli::APop, "bob\nDELE 1", "pw", user},
        {"PASS", &TCustomPop3Cli::Pass, "bob", "pw\r\nDELE 1", pass},
        {"PASS, lone CR", &TCustomPop3Cli::Pass, "bob", "pw\rDELE 1", pass},
        {"PASS, NUL", &TCustomPop3Cli::Pass, "bob", std::string("pw\0DELE 1", 9), pass},
        {"RPOP", &TCustomPop3Cli::RPop, "bob", "pw\nDELE 1", pass},
        {"Login", &TCustomPop3Cli::Login, "bob", "pw\r\nDELE 1", pass},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool login = c.op == &TCustomPop3Cli::Login;
        const bool afterUser = c.op == &TCustomPop3Cli::Pass || c.op == &TCustomPop3Cli::RPop;
        testsupport::ScriptedServer server;
        if (!login) testsupport::Pop3Greeting(server, "+OK ready <1.2@host>");
        if (afterUser) server.Expect("USER bob").SendLine("+OK");
        if (!login) testsupport::Pop3Quit(server);
        server.Start();
        TPop3Cli cli;
        pop3test::Recorder rec(cli);
        cli.SetHost("127.0.0.1");
        cli.SetPort(server.PortText());
        cli.SetUserName(c.user);
        cli.SetPassWord(c.password);
        if (!login) cli.Connect();
        ASSERT_TRUE(rec.WaitDone(login ? 0 : 1));
        if (afterUser) {
            cli.User();
            ASSERT_TRUE(rec.WaitDone(2));
        }
        try {
            (cli.*c.op)();
            ADD_FAILURE() << "not refused";
        } catch (const Pop3Exception& e) {
            EXPECT_EQ(e.what(), c.refusal);
        }
        EXPECT_EQ(cli.State(), pop3Ready);
        // The session goes on: the client may still say goodbye, and that is all it says.
        cli.Quit();
        ASSERT_TRUE(rec.WaitDone(rec.done.size() + 1));
        if (login) continue; // it never connected
        ASSERT_TRUE(testsupport::WaitUntil([&] { return server.Finished(); }));
        const Lines sent = afterUser ? Lines{"USER bob", "QUIT"} : Lines{"QUIT"};
        EXPECT_EQ(server.Received(), sent);
        EXPECT_EQ(server.Failures(), Lines{});
    }
}

} // namespace
