// Scans started from the window against a real Dovecot on 127.0.0.1.

#include "AppTestSupport.h"

#include "screening/ScanSession.h"
#include "screening/TextMatch.h"
#include "servers/DovecotServer.h"

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::WaitUntil;

namespace {

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);

const std::string kPassword = "Sesame-42";

std::string Message(const std::string& from, const std::string& subject) {
    return "Return-Path: <" + from + ">\nFrom: " + from +
           "\nTo: me@home.example\nSubject: " + subject + "\n\nBody of " + subject + "\n";
}

struct ScanWindow : apptest::WindowFixture {
    DovecotServer* server = nullptr;

    void SetUp() override {
        WindowFixture::SetUp();
        if (!DovecotServer::Available())
            GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
        server = DovecotEnvironment::Server();
        ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    }

    // A user named after the test, with these messages, and the window set up for it.
    std::string MakeWindowFor(const std::vector<std::string>& messages) {
        const std::string user =
            screening::LowerCase(::testing::UnitTest::GetInstance()->current_test_info()->name());
        server->AddUser(user, kPassword);
        for (const auto& m : messages)
            server->AddMessage(user, m);
        testsupport::WriteFile(dir.File("spammers.txt"), "cheap-pills.example\r\n");
        MakeWindow("Server=" + server->Host() + ":" + server->PortText() + "\r\nLogin=" + user +
                   "\r\nPassword=" + ScramblePassword(kPassword) + "\r\n");
        return user;
    }
};

} // namespace

TEST_F(ScanWindow, CheckAndEatFromTheButtonShowsTheScanAndDeletesTheSpam) {
    const std::string user = MakeWindowFor({Message("anna@friends.example", "one"),
                                            Message("sales@cheap-pills.example", "two"),
                                            Message("bob@friends.example", "three")});
    EXPECT_EQ(Text("lblServerName"), "127.0.0.1");
    auto trayShows = [&](const char* picture) {
        return window->TrayIcon().icon().pixmap(16).toImage() ==
               QIcon(picture).pixmap(16).toImage();
    };

    Click("btnCheckEat");
    EXPECT_TRUE(window->Busy());
    // It connects once the password has been read.
    EXPECT_TRUE(WaitUntil([&] { return Text("lblPOPStatus") == "Connecting to mail server"; }));
    EXPECT_EQ(Text("lblMessageStatus"), "");
    EXPECT_EQ(Text("StatusBarPanel"), "") << "the previous result is still shown";
    EXPECT_TRUE(Find<QAction>("CheckEatSpam1")->isChecked());
    EXPECT_FALSE(Find<QAction>("CheckforSpam1")->isChecked());
    EXPECT_FALSE(Find<QPushButton>("btnCheck")->isEnabled());
    EXPECT_FALSE(Find<QAction>("CheckforSpam1")->isEnabled());
    // The tray items stay enabled; a start from them is refused while the scan runs.
    EXPECT_TRUE(Find<QAction>("CheckforSpam2")->isEnabled());
    Trigger("CheckforSpam2");
    EXPECT_TRUE(Find<QAction>("CheckEatSpam1")->isChecked());
    EXPECT_TRUE(trayShows(":/icons/frame1.png")) << "the tray animation did not start";
    ASSERT_TRUE(WaitUntil([&] { return !window->Busy(); }, 20000));

    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"Morvandle v" MORVANDLE_VERSION " Started",
                                        IniPath() + " holds a password and was readable by "
                                                    "others: made it private (mode 0600)",
                                        "Connection to mail server established",
                                        "Header cache not found - starting a new one",
                                        "Spammer Match: cheap-pills.example",
                                        "Kept in quarantine: sales@cheap-pills.example - two",
                                        "Headers from cache: 0 of 3 checked",
                                        "Stats: 3 Checked, 2 OK'd, 1 Eaten"}));
    EXPECT_EQ(Text("StatusBarPanel"), "Last Results - 3 Checked, 2 OK'd, 1 Eaten");
    EXPECT_EQ(Text("lblMessageStatus"), "Scanning Completed - Mailbox Cleaned");
    EXPECT_EQ(Text("lblPOPStatus"), "Connection inactive");
    EXPECT_FALSE(Find<QAction>("CheckEatSpam1")->isChecked());
    EXPECT_TRUE(Find<QPushButton>("btnCheck")->isEnabled());
    EXPECT_TRUE(Find<QAction>("CheckforSpam1")->isEnabled());
    EXPECT_EQ(Find<QProgressBar>("pbScanning")->maximum(), 1);
    EXPECT_TRUE(trayShows(":/icons/morvandle.png")) << "the tray animation did not stop";

    const auto left = server->Messages(user);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NE(left[0].find("Subject: one"), std::string::npos);
    EXPECT_NE(left[1].find("Subject: three"), std::string::npos);
}

TEST_F(ScanWindow, ExitDuringCheckAndEatLeavesEveryMessageOnTheServer) {
    std::vector<std::string> spam;
    for (int i = 1; i <= 20; ++i)
        spam.push_back(Message("sales@cheap-pills.example", "offer " + std::to_string(i)));
    const std::string user = MakeWindowFor(spam);

    Click("btnCheckEat");
    ASSERT_TRUE(WaitUntil([&] { return window->Session().EatenCount() >= 3; }, 20000));
    ASSERT_TRUE(window->Busy()) << "the scan ended before the exit";
    Trigger("Exit1");
    window.reset();

    // The server would expunge as the session ends; give it the time to, then count.
    testsupport::RunEventLoopFor(300);
    EXPECT_EQ(server->Messages(user).size(), spam.size());
    const auto lines = LogLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("Stats: ", 0) == 0; }),
              0)
        << "no report for an abandoned scan";
}

// A new user's path: the server, login and password entered in the preferences dialog, OK,
// and the next check from the window reaches that server.
TEST_F(ScanWindow, ServerEnteredInPreferencesIsTheOneTheNextCheckReaches) {
    const std::string user = "newcomer"; // the login edit takes 40 characters
    server->AddUser(user, kPassword);
    server->AddMessage(user, Message("anna@friends.example", "one"));
    MakeWindow("Server=127.0.0.1:1\r\nLogin=nobody\r\n");
    EXPECT_EQ(Text("lblServerName"), "127.0.0.1");

    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>("editServerName")
            ->setText(QString::fromStdString("localhost:" + server->PortText()));
        dialog->findChild<QLineEdit*>("editLoginName")->setText(QString::fromStdString(user));
        for (const char* name : {"editPassword", "editConfirm"})
            dialog->findChild<QLineEdit*>(name)->setText(QString::fromStdString(kPassword));
        dialog->findChild<QPushButton*>("btnOk")->click();
    });
    Trigger("Preferences1");
    EXPECT_EQ(Text("lblServerName"), "localhost");
    Click("btnCheck");
    ASSERT_TRUE(WaitUntil([&] { return !window->Busy(); }, 20000));
    EXPECT_EQ(Text("StatusBarPanel").toStdString(), "Last Results - 1 Checked, 1 OK'd, 0 Eaten");
}

// Stop, enabled only while a check runs, ends it without QUIT: the server keeps every message.
TEST_F(ScanWindow, StopDuringCheckAndEatLeavesEveryMessageOnTheServer) {
    std::vector<std::string> spam;
    for (int i = 1; i <= 20; ++i)
        spam.push_back(Message("sales@cheap-pills.example", "offer " + std::to_string(i)));
    const std::string user = MakeWindowFor(spam);
    EXPECT_EQ(Find<QAction>("Stop1")->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_FALSE(Find<QPushButton>("btnStop")->isEnabled());
    EXPECT_FALSE(Find<QAction>("Stop1")->isEnabled());

    Click("btnCheckEat");
    ASSERT_TRUE(WaitUntil([&] { return window->Session().EatenCount() >= 3; }, 20000));
    ASSERT_TRUE(window->Busy()) << "the scan ended before the stop";
    EXPECT_TRUE(Find<QAction>("Stop1")->isEnabled());
    Click("btnStop");

    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(Text("StatusBarPanel"), "Check stopped - nothing deleted");
    EXPECT_EQ(LogLines().back(), "Check stopped - nothing deleted");
    EXPECT_EQ(window->Session().EatenCount(), 0);
    EXPECT_FALSE(Find<QPushButton>("btnStop")->isEnabled());
    EXPECT_FALSE(Find<QAction>("Stop1")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btnCheckEat")->isEnabled());
    testsupport::RunEventLoopFor(300); // the time the server would need to expunge
    EXPECT_EQ(server->Messages(user).size(), spam.size());
}
