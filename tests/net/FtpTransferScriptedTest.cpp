// The FTP client's data connection against scripted servers: the order of the final reply
// and the data close, bare listing commands, displayed downloads, dropped and foreign data
// connections, REST answers, uploads and their refusals.

#include "FtpScriptedTest.h"

#include "support/TempDir.h"

#include <QElapsedTimer>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using ftptest::FtpScripted;
using testsupport::ReadFile;
using testsupport::ScriptedServer;
using testsupport::WriteFile;
using Lines = std::vector<std::string>;

class FtpTransfer : public FtpScripted {
  protected:
    // Login, then PORT (on the loopback address, any port) accepted.
    ScriptedServer& PortScript() {
        return LoginScript().ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
    }
    testsupport::TempDir local;
};

TEST_F(FtpTransfer, FinalReplyBeforeOrAfterTheDataClose) {
    for (bool replyFirst : {true, false}) {
        SCOPED_TRACE(replyFirst ? "reply first" : "close first");
        ScriptedServer s;
        LoginScript(s).ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
        s.Expect("RETR f.txt").SendLine("150 Opening data connection.");
        s.OpenData().SendData("line one\r\nline two\r\n");
        if (replyFirst)
            s.SendLine("226 Transfer complete.").CloseData();
        else
            s.CloseData().SendLine("226 Transfer complete.");
        s.Start();
        TFtpClient c;
        ftptest::Recorder r(c);
        Configure(c, s);
        c.SetHostFileName("f.txt");
        c.SetLocalFileName(local.File("f.txt"));
        ASSERT_TRUE(c.ConnectSync());
        ASSERT_TRUE(c.GetSync()) << c.ErrorMessage();
        EXPECT_EQ(ReadFile(local.File("f.txt")), "line one\r\nline two\r\n");
        EXPECT_TRUE(r.Displayed("! 20 bytes received/sent in "));
        testsupport::RunEventLoopFor(100);
        ASSERT_EQ(r.done.size(), 2u); // Connect and Get, each once
        EXPECT_EQ(r.Last().rq, ftpRqGet);
        EXPECT_EQ(r.Last().error, 0);
        EXPECT_TRUE(s.Failures().empty());
    }
}

TEST_F(FtpTransfer, BareListingShownLineByLineWithoutAFile) {
    PortScript().Expect("NLST").SendLine("150 Here comes the list.");
    server.OpenData().SendData("a.txt\r\n\r\nb.t").SendData("xt\r\n").CloseData();
    server.SendLine("226 Directory send OK.");
    LogIn();
    cli.SetDisplayFileFlag(true);
    cli.SetLocalFileName(local.File("never"));
    EXPECT_EQ(Run(&TCustomFtpCli::Ls), 0) << cli.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("never")), "<missing>");
    // A line cut by the end of a block may arrive in two parts.
    EXPECT_TRUE(rec.file == (Lines{"a.txt", "b.txt"}) || rec.file == (Lines{"a.txt", "b.t", "xt"}));
}

TEST_F(FtpTransfer, FailuresOfADownload) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script; // after PORT
        const char* localFile;
        int error;
        const char* errorMessage;
        const char* note;
    } cases[] = {
        {"refused at once",
         [](ScriptedServer& s) { s.Expect("RETR f.txt").SendLine("550 Failed to open file."); },
         "f.txt", 550, "550 Failed to open file.", nullptr},
        {"refused at the end",
         [](ScriptedServer& s) {
             s.Expect("RETR f.txt").SendLine("150 ok").OpenData().SendData("part").CloseData();
             s.SendLine("451 Local error.");
         },
         "f.txt", 451, "451 Local error.", "! RETR/LIST/NLST Failed"},
        {"connection dropped mid-transfer",
         [](ScriptedServer& s) {
             s.Expect("RETR f.txt").SendLine("150 ok").OpenData().SendData("part").CloseData();
             s.Close();
         },
         "f.txt", 426, "426 Connection closed", nullptr},
        {"local file cannot be made", [](ScriptedServer&) {}, "no/such/folder/f.txt", 550,
         "Unable to open local file ", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer s;
        LoginScript(s).ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
        c.script(s);
        s.Start();
        TFtpClient cl;
        ftptest::Recorder r(cl);
        Configure(cl, s);
        cl.SetHostFileName("f.txt");
        cl.SetLocalFileName(std::string(c.localFile).find('/') == std::string::npos
                                ? local.File(c.localFile)
                                : local.Path() + "/" + c.localFile);
        ASSERT_TRUE(cl.ConnectSync());
        EXPECT_FALSE(cl.GetSync());
        EXPECT_EQ(cl.RequestResult(), c.error);
        EXPECT_EQ(cl.ErrorMessage().rfind(c.errorMessage, 0), 0u) << cl.ErrorMessage();
        if (c.note) {
            EXPECT_TRUE(r.Displayed(c.note));
        }
        EXPECT_EQ(cl.State(), ftpStReady);
        EXPECT_TRUE(s.Failures().empty());
    }
}

TEST_F(FtpTransfer, DataFromAStrangerIsRefused) {
    PortScript().Expect("RETR f.txt").SendLine("150 ok");
    server.OpenData("127.0.0.2").SendData("forged");
    server.OpenData().SendData("genuine").CloseData().SendLine("226 done");
    LogIn();
    cli.SetHostFileName("f.txt");
    cli.SetLocalFileName(local.File("f.txt"));
    ASSERT_TRUE(cli.GetSync()) << cli.ErrorMessage();
    EXPECT_EQ(ReadFile(local.File("f.txt")), "genuine");
    EXPECT_TRUE(rec.Displayed("! Data connection from 127.0.0.2 refused"));
}

TEST_F(FtpTransfer, LockedLocalFileIsNotTouched) {
    PortScript();
    LogIn();
    const std::string path = local.File("busy.txt");
    WriteFile(path, "in use");
    const int holder = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0); // another program reads it
    cli.SetHostFileName("f.txt");
    cli.SetLocalFileName(path);
    cli.SetShareMode(ftpShareExclusive);
    EXPECT_EQ(Run(&TCustomFtpCli::Get), 550);
    EXPECT_EQ(cli.ErrorMessage(), "Unable to open local file " + path);
    EXPECT_EQ(ReadFile(path), "in use");
    ::close(holder);
}

TEST_F(FtpTransfer, ClientDestroyedFromProgress) {
    PortScript()
        .Expect("RETR f.txt")
        .SendLine("150 ok")
        .OpenData()
        .SendData(std::string(9000, 'd'));
    StartClient();
    auto* c = new TFtpClient;
    Configure(*c, server);
    c->SetHostFileName("f.txt");
    c->SetLocalFileName(local.File("f.txt"));
    ASSERT_TRUE(c->ConnectSync());
    bool destroyed = false;
    c->OnProgress = [&](TCustomFtpCli*, int32_t count, bool&) {
        if (count < 2048 || destroyed) return;
        destroyed = true;
        delete c;
    };
    c->Get();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return destroyed; }));
    testsupport::RunEventLoopFor(50);
}

TEST_F(FtpTransfer, SilenceDuringADownloadTimesOut) {
    PortScript().Expect("RETR f.txt").SendLine("150 ok").OpenData().SendData("some");
    LogIn();
    cli.SetTimeout(1);
    cli.SetHostFileName("f.txt");
    cli.SetLocalFileName(local.File("f.txt"));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(cli.GetSync());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(cli.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(cli.StatusCode(), 426);
    EXPECT_FALSE(cli.Connected());
}

TEST_F(FtpTransfer, ResumeOnlyAfterRestAnswered350) {
    for (const char* restReply : {"350 Restart position accepted (4).", "200 Whatever."}) {
        SCOPED_TRACE(restReply);
        const bool resumes = restReply[0] == '3';
        ScriptedServer s;
        LoginScript(s).ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
        s.Expect("REST 4").SendLine(restReply).Expect("RETR f.txt").SendLine("150 ok");
        s.OpenData().SendData("BBBB").CloseData().SendLine("226 done");
        s.Start();
        TFtpClient cl;
        ftptest::Recorder r(cl);
        Configure(cl, s);
        cl.SetHostFileName("f.txt");
        cl.SetLocalFileName(local.File("f.txt"));
        WriteFile(local.File("f.txt"), "AAAA");
        ASSERT_TRUE(cl.ConnectSync());
        cl.ResumeGet();
        ASSERT_TRUE(r.WaitDone(2));
        EXPECT_EQ(r.Last().error, 0);
        EXPECT_EQ(ReadFile(local.File("f.txt")), resumes ? "AAAABBBB" : "BBBB");
        ASSERT_FALSE(r.progress.empty());
        EXPECT_EQ(r.progress.front(), resumes ? 4 : 0);
    }
}

TEST_F(FtpTransfer, UploadsOneBlockAtATime) {
    const std::string data(5000, 'u');
    WriteFile(local.File("up.txt"), data);
    PortScript().Expect("STOR up.txt").SendLine("150 Ok to send data.");
    server.OpenData().ReadData().SendLine("226 Transfer complete.");
    LogIn();
    cli.SetHostFileName("up.txt");
    cli.SetLocalFileName(local.File("up.txt"));
    EXPECT_EQ(Run(&TCustomFtpCli::Put), 0) << cli.ErrorMessage();
    EXPECT_EQ(server.DataReceived(), data);
    // Progress before each block of 1024 bytes, and once more when the file is at its end
    // (the go-ahead may be asked once more before the server's connection is in).
    auto counts = rec.progress;
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    EXPECT_EQ(counts, (std::vector<int32_t>{0, 1024, 2048, 3072, 4096, 5000}));
    EXPECT_TRUE(rec.Displayed("! 5000 bytes received/sent in "));
}

TEST_F(FtpTransfer, UploadRefusals) {
    struct Case {
        const char* name;
        bool cancel;
        const char* localFile;
        const char* text;
    } cases[] = {
        {"cancelled by the application", true, "up.txt", "426 Transmit cancelled by application"},
        {"missing local file", false, "missing.txt", "426 Unable to open local file "},
    };
    WriteFile(local.File("up.txt"), "x");
    PortScript().ExpectPrefix("PORT 127,0,0,1,").SendLine("200 PORT ok.");
    LogIn();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cli.OnReadyToTransmit = [&](TCustomFtpCli*, bool& cancel) { cancel = c.cancel; };
        cli.SetHostFileName("up.txt");
        cli.SetLocalFileName(local.File(c.localFile));
        EXPECT_EQ(Run(&TCustomFtpCli::Put), 426);
        EXPECT_EQ(cli.ErrorMessage().rfind(c.text, 0), 0u) << cli.ErrorMessage();
        EXPECT_TRUE(rec.Displayed(std::string("! ") + c.text));
    }
    // Nothing but the two PORT commands reached the server.
    EXPECT_EQ(server.Received().size(), 4u);
}

} // namespace
