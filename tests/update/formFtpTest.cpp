// The update window offscreen: its two sources against a real vsftpd and local files, the
// boxes it shows, Cancel, and closing.

#include "update/formFtp.h"
#include "config/ConfigFixture.h"
#include "log/kelLog.h"
#include "net/FtpCli.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "servers/VsftpdServer.h"
#include "support/Wait.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <sys/stat.h>

namespace {

using testservers::VsftpdEnvironment;
using testservers::VsftpdServer;
using Lines = std::vector<std::string>;

[[maybe_unused]] auto* const vsftpdEnvironment =
    ::testing::AddGlobalTestEnvironment(new VsftpdEnvironment);

class UpdateWindow : public ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        CreateConfigData();
        log.SetOptions({});
        log.SetLogFileName(ProgramFile("spammers.log"));
    }
    void TearDown() override {
        delete form.data();
        ConfigFixture::TearDown();
    }

    // Opens the window as the main window does; `source` 0 picks the update server.
    void Open(int source) {
        form = new TfrmFtp(nullptr, log);
        form->OnClosed = [this] { ++closed; };
        form->show();
        if (source == update::usUpdateServer)
            form->findChild<QGroupBox*>("RadioGroup1")->findChildren<QRadioButton*>()[0]->click();
    }
    void Start() { form->findChild<QPushButton*>("btnStart")->click(); }
    bool StartEnabled() { return form->findChild<QPushButton*>("btnStart")->isEnabled(); }

    // Answers every box: Yes to the questions except the delete question, and records them.
    platform::ScopedMessageBoxHandler boxes{[this](const platform::MessageBoxRequest& r) {
        shown.push_back(r.text);
        if (r.buttons & platform::mbYes)
            return r.text.rfind("Delete", 0) == 0 ? +platform::mrNo : +platform::mrYes;
        return +platform::mrOk;
    }};
    Lines shown;
    TkelLog log;
    QPointer<TfrmFtp> form;
    int closed = 0;
};

TEST_F(UpdateWindow, OpensOnTheLocalFileAndTheSourceSwitchesTheFileEdit) {
    ConfigData->Update = "12/1/26 9:00:00 AM";
    Open(update::usLocalFile);
    EXPECT_EQ(form->windowTitle(), "Update Morvandle Spammer List");
    EXPECT_EQ(form->findChild<QGroupBox*>("GroupBox2")->title(),
              "Update Progress (Last: 12/1/26 9:00:00 AM)");
    auto* edit = form->findChild<QLineEdit*>("febLocalFile");
    EXPECT_EQ(form->UpdateSource(), update::usLocalFile);
    EXPECT_TRUE(edit->isEnabled());
    form->RadioGroup1Click(update::usUpdateServer);
    EXPECT_FALSE(edit->isEnabled());
    form->RadioGroup1Click(update::usLocalFile);
    EXPECT_TRUE(edit->isEnabled());

    // No file named: the warning, and the window stays.
    Start();
    EXPECT_EQ(shown, Lines{"You need to enter a valid file you wish to import"});
    EXPECT_TRUE(StartEnabled());
    // Cancel before Start closes it at once.
    form->findChild<QPushButton*>("btnCancel")->click();
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return form.isNull(); }, 2000));
}

TEST_F(UpdateWindow, ALocalFileIsMergedAndTheWindowCloses) {
    WriteFile(ProgramFile("spammers.txt"), "spam\r\n");
    CreateConfigData();
    Open(update::usLocalFile);
    EXPECT_EQ(form->findChild<QGroupBox*>("GroupBox2")->title(), "Update Progress (Last: Never)");
    WriteFile(dir.File("mine.txt"), "xspamx\r\nnew\r\n");
    form->findChild<QLineEdit*>("febLocalFile")
        ->setText(QString::fromStdString(dir.File("mine.txt")));
    Start();
    EXPECT_EQ(shown.back(), "Update Summary: 1 Duplicates; 1 Additions");
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "spam\r\nnew\r\n");
    EXPECT_EQ(closed, 1);

    // A list that cannot be written: the error is shown, the file stays whole, the window
    // closes all the same.
    std::vector<std::string> errors;
    {
        platform::ScopedErrorReporter reporter([&](const std::string& m) { errors.push_back(m); });
        chmod(ProgramFile("spammers.txt").c_str(), 0444);
        WriteFile(dir.File("mine.txt"), "another\r\n");
        Open(update::usLocalFile);
        form->findChild<QLineEdit*>("febLocalFile")
            ->setText(QString::fromStdString(dir.File("mine.txt")));
        Start();
    }
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "spam\r\nnew\r\n");
    EXPECT_EQ(closed, 2);
}

class UpdateFromServer : public UpdateWindow {
  protected:
    void SetUp() override {
        UpdateWindow::SetUp();
        if (!VsftpdServer::Available()) GTEST_SKIP() << "vsftpd is not installed";
    }
    void UseServer(VsftpdServer* server) {
        ASSERT_NE(server, nullptr) << VsftpdEnvironment::StartError();
        ConfigData->UpdateServer = "127.0.0.1:" + server->PortText();
    }
    std::string Offer(VsftpdServer* server, const std::string& bytes) {
        WriteFile(server->Root() + "/pub/apps/spamupd.txt", bytes);
        return bytes;
    }
};

TEST_F(UpdateFromServer, DownloadsMergesAndCloses) {
    UseServer(VsftpdEnvironment::Server());
    Offer(VsftpdEnvironment::Server(), "one@spam.example\r\ntwo@spam.example\r\n");
    ConfigData->LogLevel = true;
    Open(update::usUpdateServer);
    Start();
    EXPECT_EQ(shown.front(), "Are you connected to the internet?");
    EXPECT_EQ(shown.back(), "Update Summary: 0 Duplicates; 2 Additions");
    EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "one@spam.example\r\ntwo@spam.example\r\n");
    EXPECT_TRUE(std::filesystem::exists(ProgramFile("spamupd.txt"))); // delete answered No
    EXPECT_FALSE(std::filesystem::exists(ProgramFile("spamupd.txt.part")));
    const std::string logText = ReadFile(ProgramFile("spammers.log"));
    EXPECT_NE(logText.find("Retrieving spammers list update\r\n"), std::string::npos);
    EXPECT_NE(logText.find("> RETR spamupd.txt\r\n"), std::string::npos); // verbose trace
    EXPECT_EQ(closed, 1);
}

TEST_F(UpdateFromServer, FailuresLeaveTheWindowOpenToTryAgain) {
    struct Case {
        const char* name;
        std::string server;   // empty: the test server
        std::string fileName; // on the server
        std::string box;
    } cases[] = {
        {"nothing listens", "127.0.0.1:1", "spamupd.txt",
         "Unable to connect to 127.0.0.1 (connection refused).\r\nPlease try again later."},
        {"no such file", "", "missing.txt", "Unable to retrieve update file size"},
    };
    for (const Case& c : cases) {
        shown.clear();
        UseServer(VsftpdEnvironment::Server());
        if (!c.server.empty()) ConfigData->UpdateServer = c.server;
        Open(update::usUpdateServer);
        form->FtpClient().SetHostFileName(c.fileName);
        form->FtpClient().SetTimeout(10);
        Start();
        EXPECT_EQ(shown.back(), c.box) << c.name;
        EXPECT_TRUE(StartEnabled()) << c.name;
        EXPECT_EQ(closed, 0) << c.name;
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "<missing>") << c.name;
        delete form.data();
    }
}

// A cut line would become a short search string that matches good mail: a cancelled
// download is never merged.
TEST_F(UpdateFromServer, CancelOrTheCloseBoxDuringTheDownloadMergesNothing) {
    VsftpdServer* slow = VsftpdEnvironment::SlowServer();
    UseServer(slow);
    std::string big;
    for (int i = 0; big.size() < 2'000'000; ++i)
        big += "bulk" + std::to_string(i) + "@spam.example\r\n";
    Offer(slow, big);
    WriteFile(ProgramFile("spammers.txt"), "kept\r\n");
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        shown.clear();
        closed = 0;
        Open(update::usUpdateServer);
        // Stop as soon as the first bytes have arrived.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (form && form->findChild<QProgressBar*>("pbUpdate")->value() > 0) {
                if (closeBox)
                    form->close();
                else
                    form->findChild<QPushButton*>("btnCancel")->click();
                poll.stop();
            }
        });
        poll.start(5);
        Start();
        EXPECT_EQ(shown.back(), "The download was cancelled. Nothing was merged.");
        EXPECT_EQ(ReadFile(ProgramFile("spammers.txt")), "kept\r\n");
        EXPECT_FALSE(std::filesystem::exists(ProgramFile("spamupd.txt")));
        EXPECT_FALSE(std::filesystem::exists(ProgramFile("spamupd.txt.part")));
        // Cancel leaves the window open to try again; the close box closes it once the
        // download has stopped, never under the running sequence.
        EXPECT_EQ(closed, closeBox ? 1 : 0);
        if (!closeBox) {
            EXPECT_TRUE(StartEnabled());
            delete form.data();
        }
    }
}

} // namespace
