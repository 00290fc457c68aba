// The POP3 client against a real Dovecot on 127.0.0.1 (one server for this program, one
// user and mailbox per test).

#include "Pop3Test.h"

#include "servers/DovecotServer.h"
#include "servers/Pop3HeaderScan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using pop3test::Recorder;
using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using Lines = std::vector<std::string>;

[[maybe_unused]] auto* const dovecotEnvironment =
    ::testing::AddGlobalTestEnvironment(new DovecotEnvironment);

// Dovecot counts sizes with CR LF line ends; the maildir files have LF.
std::int32_t WireSize(const std::string& text) {
    return static_cast<std::int32_t>(text.size() + std::count(text.begin(), text.end(), '\n'));
}

std::string Message(int n, const std::string& body = "Hello.\n") {
    return "From: sender" + std::to_string(n) + "@example.com\nTo: me@example.com\nSubject: test " +
           std::to_string(n) + "\n\n" + body;
}

class Pop3Dovecot : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (Debian packages dovecot-core, "
                            "dovecot-pop3d): tests against a real POP3 server skipped";
        dovecot = DovecotEnvironment::Server();
        ASSERT_NE(dovecot, nullptr) << DovecotEnvironment::StartError();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        // A fresh mailbox on every run, also when the tests are repeated in one process.
        static int runs = 0;
        user = name + std::to_string(++runs);
        dovecot->AddUser(user, "secret");
        PointAtServer(cli);
    }

    void PointAtServer(TPop3Cli& client) {
        client.SetHost(dovecot->Host());
        client.SetPort(dovecot->PortText());
        client.SetUserName(user);
        client.SetPassWord("secret");
    }

    // Runs one request to its end and returns its error code.
    int Run(void (TCustomPop3Cli::*op)()) {
        std::size_t before = rec.done.size();
        (cli.*op)();
        if (!rec.WaitDone(before + 1)) return -1;
        return rec.Last().error;
    }

    void LogIn() {
        ASSERT_EQ(Run(&TCustomPop3Cli::Connect), 0) << cli.LastResponse();
        ASSERT_EQ(Run(&TCustomPop3Cli::User), 0) << cli.LastResponse();
        ASSERT_EQ(Run(&TCustomPop3Cli::Pass), 0) << cli.LastResponse();
    }

    DovecotServer* dovecot = nullptr;
    std::string user;
    TPop3Cli cli;
    Recorder rec{cli};
};

// The scan's own sequence, each request started from inside OnRequestDone.
TEST_F(Pop3Dovecot, HeaderScanDeliversEveryHeaderLine) {
    std::int32_t total = 0;
    for (int n = 1; n <= 3; ++n) {
        dovecot->AddMessage(user, Message(n));
        total += WireSize(Message(n));
    }
    std::vector<Lines> headers;
    cli.OnMessageBegin = [&](TCustomPop3Cli*) { headers.emplace_back(); };
    cli.OnMessageLine = [&](TCustomPop3Cli* c) { headers.back().push_back(c->LastResponse()); };
    bool finished = false;
    testservers::ChainHeaderScan(cli, [&] { finished = true; });
    cli.Connect();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return finished; }, 15000));
    ASSERT_EQ(rec.Last().rq, pop3Quit) << cli.ErrorMessage();
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(cli.MsgCount(), 3);
    EXPECT_EQ(cli.MsgSize(), total);
    ASSERT_EQ(headers.size(), 3u);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(headers[n - 1],
                  (Lines{"From: sender" + std::to_string(n) + "@example.com", "To: me@example.com",
                         "Subject: test " + std::to_string(n), ""}));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return cli.ProtocolState() == pop3Disconnected; }));
    EXPECT_EQ(dovecot->Messages(user).size(), 3u);
}

TEST_F(Pop3Dovecot, ListAndUidlWithAndWithoutNumber) {
    const std::string longer = Message(2, "A longer body.\nTwo lines.\n");
    dovecot->AddMessage(user, Message(1));
    dovecot->AddMessage(user, longer);
    LogIn();

    cli.SetMsgNum(0);
    ASSERT_EQ(Run(&TCustomPop3Cli::List), 0);
    EXPECT_EQ(rec.list, (Lines{"1=" + std::to_string(WireSize(Message(1))),
                               "2=" + std::to_string(WireSize(longer))}));

    cli.SetMsgNum(2);
    ASSERT_EQ(Run(&TCustomPop3Cli::List), 0);
    EXPECT_EQ(cli.MsgNum(), 2);
    EXPECT_EQ(cli.MsgSize(), WireSize(longer));

    rec.list.clear();
    cli.SetMsgNum(0);
    ASSERT_EQ(Run(&TCustomPop3Cli::Uidl), 0);
    ASSERT_EQ(rec.list.size(), 2u);
    EXPECT_EQ(rec.list[0].substr(0, 2), "1=");
    EXPECT_EQ(rec.list[1].substr(0, 2), "2=");
    EXPECT_NE(rec.list[0], "1=");

    cli.SetMsgNum(2);
    ASSERT_EQ(Run(&TCustomPop3Cli::Uidl), 0);
    EXPECT_EQ(cli.MsgNum(), 2);
    EXPECT_EQ("2=" + cli.MsgUidl(), rec.list[1]);
}

TEST_F(Pop3Dovecot, RetrUnstuffsDotLines) {
    dovecot->AddMessage(user, Message(1, "first\n.dot line\n..two dots\n.\nlast\n"));
    LogIn();
    cli.SetMsgNum(1);
    ASSERT_EQ(Run(&TCustomPop3Cli::Retr), 0);
    EXPECT_EQ(rec.lines,
              (Lines{"From: sender1@example.com", "To: me@example.com", "Subject: test 1", "",
                     "first", ".dot line", "..two dots", ".", "last"}));
}

TEST_F(Pop3Dovecot, DeleTakesEffectAtQuit) {
    dovecot->AddMessage(user, Message(1));
    dovecot->AddMessage(user, Message(2));
    LogIn();
    cli.SetMsgNum(1);
    ASSERT_EQ(Run(&TCustomPop3Cli::Dele), 0);
    EXPECT_EQ(Run(&TCustomPop3Cli::Top), 500); // the deleted message is gone for this session
    EXPECT_EQ(cli.ErrorMessage(), "-ERR Message is deleted.");
    ASSERT_EQ(Run(&TCustomPop3Cli::Quit), 0);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return cli.ProtocolState() == pop3Disconnected; }));
    EXPECT_EQ(dovecot->Messages(user), Lines{Message(2)});
}

TEST_F(Pop3Dovecot, DeleThenDroppedConnectionRemovesNothing) {
    dovecot->AddMessage(user, Message(1));
    LogIn();
    cli.SetMsgNum(1);
    ASSERT_EQ(Run(&TCustomPop3Cli::Dele), 0);
    cli.Abort();
    EXPECT_EQ(cli.ProtocolState(), pop3Disconnected);
    // QUIT after the connection is gone ends at once, sending nothing.
    EXPECT_EQ(Run(&TCustomPop3Cli::Quit), 0);
    // The server notices the drop and releases the mailbox; a new session still sees it.
    TPop3Cli again;
    Recorder rec2(again);
    PointAtServer(again);
    again.Login();
    ASSERT_TRUE(rec2.WaitDone());
    ASSERT_EQ(rec2.Last().error, 0) << again.ErrorMessage();
    again.Stat();
    ASSERT_TRUE(rec2.WaitDone(2));
    EXPECT_EQ(again.MsgCount(), 1);
    EXPECT_EQ(dovecot->Messages(user), Lines{Message(1)});
}

TEST_F(Pop3Dovecot, WrongPasswordEndsPassWith500) {
    cli.SetPassWord("wrong");
    ASSERT_EQ(Run(&TCustomPop3Cli::Connect), 0);
    ASSERT_EQ(Run(&TCustomPop3Cli::User), 0);
    EXPECT_EQ(Run(&TCustomPop3Cli::Pass), 500);
    EXPECT_EQ(rec.Last().rq, pop3Pass);
    EXPECT_EQ(cli.ErrorMessage(), "-ERR [AUTH] Authentication failed.");
    EXPECT_NE(cli.ProtocolState(), pop3Transaction);
}

TEST_F(Pop3Dovecot, ApopLogin) {
    dovecot->AddMessage(user, Message(1));
    ASSERT_EQ(Run(&TCustomPop3Cli::Connect), 0);
    ASSERT_FALSE(cli.Timestamp().empty());
    ASSERT_EQ(Run(&TCustomPop3Cli::APop), 0) << cli.ErrorMessage();
    EXPECT_EQ(cli.ProtocolState(), pop3Transaction);
    ASSERT_EQ(Run(&TCustomPop3Cli::Stat), 0);
    EXPECT_EQ(cli.MsgCount(), 1);
}

} // namespace
