// The FTP client's control connection against scripted servers: banners, login, single
// commands and their replies, multi-step conditions, refusals, time-outs, over-long lines
// and clients destroyed by their own event handlers.

#include "FtpScriptedTest.h"

#include "net/WSocket.h"

#include <QElapsedTimer>

#include <memory>

namespace {

using ftptest::FtpScripted;
using Lines = std::vector<std::string>;

TEST_F(FtpScripted, MultiLineBannerThenLogin) {
    // A lone LF is part of a line; shown, it would start a line of its own in the log.
    server.SendLine("220-Welcome").SendLine("220-to the\ntest").SendLine("220 ready");
    server.Expect("USER bob").SendLine("331 password please");
    server.Expect("PASS pw").SendLine("230 logged in");
    StartClient();
    // A handler that runs the event loop: later lines arrive meanwhile and must wait.
    cli.OnResponse = [](TCustomFtpCli*) { testsupport::RunEventLoopFor(5); };
    cli.Connect();
    EXPECT_TRUE(rec.done.empty()); // reported from the loop, never from inside the call
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, ftpRqConnect);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_EQ(rec.Last().stateInHandler, ftpStReady);
    EXPECT_EQ(rec.states,
              (std::vector<TFtpSessionState>{ftpStResolving, ftpStAwaitingBanner, ftpStConnected,
                                             ftpStStepReady, ftpStAwaitingReply, ftpStStepReady,
                                             ftpStAwaitingReply, ftpStStepReady, ftpStReady}));
    EXPECT_EQ(rec.display, (Lines{"< 220-Welcome", "< 220-to the test", "< 220 ready", "> USER bob",
                                  "< 331 password please", "> PASS pw", "< 230 logged in"}));
    EXPECT_TRUE(cli.Connected());
}

TEST_F(FtpScripted, LoginVariants) {
    struct Case {
        const char* name;
        std::vector<const char*> serverLines; // banner and answers, in order
        std::vector<const char*> expected;    // what the client must send
        int error;
        const char* errorMessage;
    } cases[] = {
        {"230 after USER skips PASS", {"220 hi", "230 no password needed"}, {"USER bob"}, 0, ""},
        {"refused banner", {"421 Too many users"}, {}, 421, "421 Too many users"},
        {"refused password",
         {"220 hi", "331 pw?", "530 Login incorrect."},
         {"USER bob", "PASS pw"},
         530,
         "530 Login incorrect."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScriptedServer s;
        s.SendLine(c.serverLines[0]);
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            s.Expect(c.expected[i]).SendLine(c.serverLines[i + 1]);
        s.Start();
        TFtpClient client;
        Configure(client, s);
        EXPECT_EQ(client.ConnectSync(), c.error == 0);
        EXPECT_EQ(client.RequestResult(), c.error);
        EXPECT_EQ(client.ErrorMessage(), c.errorMessage);
        client.Abort();
        EXPECT_TRUE(testsupport::WaitUntil([&] { return s.ClientClosed(); }));
        EXPECT_EQ(s.Received(), (Lines(c.expected.begin(), c.expected.end())));
        EXPECT_TRUE(s.Failures().empty());
    }
}

TEST_F(FtpScripted, SingleCommandsAndTheirReplies) {
    LoginScript();
    server.Expect("PWD").SendLine("257 \"/a \"\"quoted\"\" dir\" is current");
    server.Expect("CWD /pub").SendLine("250 \"/pub\" is now current");
    server.Expect("CDUP").SendLine("250 ok");
    server.Expect("SIZE f.txt").SendLine("213 1234");
    server.Expect("TYPE A").SendLine("200 Switching to ASCII mode.");
    server.Expect("SYST").SendLine("215 UNIX Type: L8");
    server.Expect("MKD f.txt").SendLine("550 Create directory operation failed.");
    server.Expect("RNFR f.txt").SendLine("350 Ready for RNTO.");
    server.Expect("RNTO g.txt").SendLine("250 Rename successful.");
    server.Expect("SITE CHMOD 644 g.txt").SendLine("200 SITE CHMOD command ok.");
    server.Expect("NOOP").SendLine("502 not here");
    server.Expect("QUIT").SendAndClose("221 Goodbye.\r\n");
    LogIn();
    cli.SetHostDirName("/pub");
    cli.SetHostFileName("f.txt");

    struct Case {
        void (TCustomFtpCli::*op)();
        const char* local; // LocalFileName before the command
        int error;
    } cases[] = {
        {&TCustomFtpCli::Pwd, "", 0},         {&TCustomFtpCli::Cwd, "", 0},
        {&TCustomFtpCli::CDup, "", 0},        {&TCustomFtpCli::Size, "", 0},
        {&TCustomFtpCli::TypeAscii, "", 0},   {&TCustomFtpCli::Syst, "", 0},
        {&TCustomFtpCli::Mkd, "", 550},       {&TCustomFtpCli::RenFrom, "", 0},
        {&TCustomFtpCli::RenTo, "g.txt", 0},  {&TCustomFtpCli::Quote, "SITE CHMOD 644 g.txt", 0},
        {&TCustomFtpCli::Quote, "NOOP", 502}, {&TCustomFtpCli::Quit, "", 0},
    };
    std::vector<std::string> dirs;
    for (const auto& c : cases) {
        cli.SetLocalFileName(c.local);
        EXPECT_EQ(Run(c.op), c.error) << cli.LastResponse();
        dirs.push_back(cli.RemoteDirName());
        if (c.op == &TCustomFtpCli::Size) {
            EXPECT_EQ(cli.RemoteFileSize(), 1234);
        }
    }
    EXPECT_EQ(dirs[0], "/a \"quoted\" dir");
    EXPECT_EQ(dirs[1], "/pub");
    EXPECT_EQ(dirs[2], ""); // CDUP's reply names no folder
    EXPECT_FALSE(cli.Binary());
    // The first refusal is kept; later ones do not replace it.
    EXPECT_EQ(cli.ErrorMessage(), "550 Create directory operation failed.");
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(rec.Last().rq, ftpRqQuit);
    EXPECT_EQ(rec.events.back(), "done:" + std::to_string(ftpRqQuit) + ":0");
}

TEST_F(FtpScripted, RefusedCwdInsideQueryFileSizeStillSaysGoodbye) {
    LoginScript().Expect("CWD /nowhere").SendLine("550 Failed to change directory.");
    server.Expect("QUIT").SendAndClose("221 Goodbye.\r\n");
    StartClient();
    cli.SetHostDirName("/nowhere");
    cli.SetHostFileName("f.txt");
    EXPECT_EQ(Run(&TCustomFtpCli::QueryFileSize), 550);
    EXPECT_EQ(rec.Last().rq, ftpRqQueryFileSize);
    EXPECT_EQ(cli.LastResponse(), "550 Failed to change directory.");
    EXPECT_EQ(cli.StatusCode(), 550);
    EXPECT_EQ(cli.ErrorMessage(), "550 Failed to change directory.");
    EXPECT_EQ(cli.RequestResult(), 550);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ScriptDone(); }));
}

TEST_F(FtpScripted, EmptyFolderIsSkippedInsideARequest) {
    LoginScript().Expect("SIZE f.txt").SendLine("213 77");
    server.Expect("QUIT").SendAndClose("221 Goodbye.\r\n");
    StartClient();
    cli.SetHostFileName("f.txt");
    EXPECT_EQ(Run(&TCustomFtpCli::QueryFileSize), 0);
    EXPECT_EQ(cli.RemoteFileSize(), 77);
    EXPECT_EQ(cli.LastResponse(), "213 77");
}

TEST_F(FtpScripted, RefusalsRaiseAndSendNothing) {
    LoginScript().Expect("QUIT").SendAndClose("221 bye\r\n");
    struct Case {
        const char* name;
        std::function<void(TFtpClient&)> setup;
        void (TCustomFtpCli::*op)();
        const char* text;
    } cases[] = {
        {"User offline", {}, &TCustomFtpCli::User, "FTP component not connected"},
        {"Retr offline", {}, &TCustomFtpCli::Retr, "RETR: not connected"},
        {"Nlst offline", {}, &TCustomFtpCli::Nlst, "NLST: not connected"},
        {"Stor offline", {}, &TCustomFtpCli::Stor, "STOR/APPE: not connected"},
        {"Cwd no folder", {}, &TCustomFtpCli::Cwd, "HostDirName emtpy"},
        {"User no name", [](TFtpClient& c) { c.SetUserName(""); }, &TCustomFtpCli::User,
         "UserName emtpy"},
        {"Pass no password", [](TFtpClient& c) { c.SetPassWord(""); }, &TCustomFtpCli::Pass,
         "Password emtpy"},
        {"Size with a line break",
         [](TFtpClient& c) { c.SetHostFileName("a.txt\r\nDELE important.txt"); },
         &TCustomFtpCli::Size, "HostFileName contains a line break"},
        {"request with a line break", [](TFtpClient& c) { c.SetHostDirName("/pub\nRMD /pub"); },
         &TCustomFtpCli::QueryFileSize, "HostDirName contains a line break"},
        {"Quote with a line break", [](TFtpClient& c) { c.SetLocalFileName("NOOP\nDELE x"); },
         &TCustomFtpCli::SendQuote, "LocalFileName contains a line break"},
        {"Pass with a NUL", [](TFtpClient& c) { c.SetPassWord(std::string("pw\0DELE x", 9)); },
         &TCustomFtpCli::Pass, "PassWord contains a line break"},
    };
    const auto expectRaise = [&](const auto& c) {
        SCOPED_TRACE(c.name);
        TFtpClient fresh;
        fresh.SetUserName("bob");
        fresh.SetPassWord("pw");
        if (c.setup) c.setup(fresh);
        try {
            (fresh.*c.op)();
            ADD_FAILURE() << "no refusal";
        } catch (const FtpException& e) {
            EXPECT_EQ(std::string(e.what()), c.text);
        }
        EXPECT_EQ(fresh.State(), ftpStReady);
    };
    for (const auto& c : cases)
        expectRaise(c);

    LogIn();
    // Nothing to resume from: done without a command, and still reported from the loop.
    cli.SetLocalFileName("/nonexistent/file");
    QCoreApplication::processEvents();
    const std::size_t before = rec.done.size();
    cli.Rest();
    EXPECT_EQ(rec.done.size(), before);
    ASSERT_TRUE(rec.WaitDone(before + 1));
    EXPECT_EQ(rec.Last().rq, ftpRqRest);
    EXPECT_EQ(rec.Last().error, 0);
    EXPECT_THROW(cli.Open(), FtpException);
    EXPECT_THROW(cli.Connect(), FtpException);
    cli.SetHostFileName("a\rb");
    EXPECT_THROW(cli.Dele(), FtpException);
    cli.Quit();
    EXPECT_THROW(cli.Syst(), FtpException); // "FTP component not ready" while QUIT waits
    ASSERT_TRUE(rec.WaitDone(before + 2));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return server.ScriptDone(); }));
    EXPECT_EQ(server.Received(), (Lines{"USER bob", "PASS pw", "QUIT"}));
}

TEST_F(FtpScripted, SilentServerTimesOut) {
    LoginScript().Expect("SIZE f.txt"); // and then nothing
    LogIn();
    cli.SetTimeout(1);
    cli.SetHostFileName("f.txt");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(cli.SizeSync());
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(cli.StatusCode(), 426);
    EXPECT_EQ(cli.State(), ftpStReady);
    EXPECT_FALSE(cli.Connected());
    ASSERT_TRUE(rec.WaitDone(2));
    EXPECT_EQ(rec.Last().error, 426);
}

TEST_F(FtpScripted, OverlongReplyLineEndsTheRequest) {
    LoginScript().Expect("SYST").Send("215 " + std::string(5000, 'x'));
    LogIn();
    EXPECT_EQ(Run(&TCustomFtpCli::Syst), 500);
    EXPECT_EQ(cli.ErrorMessage(), "500 Reply line too long");
    EXPECT_FALSE(cli.Connected());
    EXPECT_EQ(cli.State(), ftpStReady);
}

TEST_F(FtpScripted, ServerClosingBeforeTheReplyIsNoSuccess) {
    LoginScript().Expect("CWD /pub").Close();
    LogIn();
    cli.SetHostDirName("/pub");
    EXPECT_EQ(Run(&TCustomFtpCli::Cwd), 426);
    EXPECT_EQ(cli.ErrorMessage(), "426 Connection closed");
    EXPECT_NE(std::find(rec.events.begin(), rec.events.end(), "closed:0"), rec.events.end());
}

TEST_F(FtpScripted, RefusedConnection) {
    cli.SetHostName("127.0.0.1");
    cli.SetPort("1"); // nothing listens there
    cli.SetUserName("bob");
    cli.SetPassWord("pw");
    EXPECT_FALSE(cli.ConnectSync());
    EXPECT_EQ(cli.RequestResult(), 10061);
    EXPECT_EQ(cli.ErrorMessage(), "500 Connection refused (Winsock error #10061)");
    EXPECT_EQ(cli.LastResponse(), cli.ErrorMessage());
    EXPECT_EQ(cli.State(), ftpStReady);
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, ftpRqConnect);
    EXPECT_EQ(rec.Last().error, 10061);
}

TEST_F(FtpScripted, AbortEndsARunningRequest) {
    server.SendLine("220 hi").Expect("USER bob"); // and no answer
    StartClient();
    cli.Connect();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return server.ScriptDone(); }));
    EXPECT_TRUE(cli.AbortSync());
    EXPECT_EQ(cli.State(), ftpStReady);
    EXPECT_FALSE(cli.Connected());
    ASSERT_TRUE(rec.WaitDone());
    EXPECT_EQ(rec.Last().rq, ftpRqConnect);
    EXPECT_EQ(rec.Last().error, 426);
    EXPECT_EQ(cli.ErrorMessage(), "426 Operation aborted.");
}

TEST_F(FtpScripted, ClientDestroyedByItsOwnEvents) {
    LoginScript();
    server.Start();
    enum Where { InResponse, InDisplay, InStateChange, InRequestDone, InSessionClosed, Midway };
    for (Where where :
         {InResponse, InDisplay, InStateChange, InRequestDone, InSessionClosed, Midway}) {
        SCOPED_TRACE(where);
        testsupport::ScriptedServer s;
        s.SendLine("220 hi").Expect("USER bob").SendLine("331 pw?").Expect("PASS pw");
        s.SendAndClose("230 ok\r\n"); // and the server goes
        s.Start();
        auto* c = new TFtpClient;
        bool destroyed = false;
        const auto destroy = [&] {
            if (destroyed) return;
            destroyed = true;
            delete c;
        };
        Configure(*c, s);
        if (where == InResponse) c->OnResponse = [&](TCustomFtpCli*) { destroy(); };
        if (where == InDisplay)
            c->OnDisplay = [&](TCustomFtpCli*, const std::string& m) {
                if (m == "> PASS pw") destroy();
            };
        if (where == InStateChange)
            c->OnStateChange = [&](TCustomFtpCli* x) {
                if (x->State() == ftpStConnected) destroy();
            };
        if (where == InRequestDone)
            c->OnRequestDone = [&](TCustomFtpCli*, TFtpRequest, uint16_t) { destroy(); };
        if (where == InSessionClosed) {
            c->OnRequestDone = [&](TCustomFtpCli* x, TFtpRequest, uint16_t) {
                if (!destroyed) x->Syst(); // the server closes instead of answering
            };
            c->OnSessionClosed = [&](TCustomFtpCli*, uint16_t) { destroy(); };
        }
        c->Connect();
        if (where == Midway) {
            // Gone while the connection is still being made.
            EXPECT_EQ(c->State(), ftpStAwaitingBanner);
            destroy();
        }
        EXPECT_TRUE(testsupport::WaitUntil([&] { return destroyed; }));
        testsupport::RunEventLoopFor(50); // nothing may reach the freed client
    }
    Configure(cli, server);
    EXPECT_TRUE(cli.ConnectSync());
}

} // namespace
