// Check and Eat from the window over several accounts, on two users of the real Dovecot.

#include "AppTestSupport.h"

#include "servers/DovecotServer.h"

#include <QTimer>

using testservers::DovecotEnvironment;
using testservers::DovecotServer;
using testsupport::WaitUntil;

namespace {

using AccountsWindow = apptest::WindowFixture;

// The second account fails at its login; the first is checked and cleaned all the same, the
// disabled third is left out, and the status bar adds up and names the failure.
TEST_F(AccountsWindow, ChecksEveryEnabledAccountInTurnAndNamesTheOneThatFailed) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    DovecotServer* server = DovecotEnvironment::Server();
    ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    const std::string home = "windowhome", work = "windowwork";
    for (const std::string& user : {home, work}) {
        server->AddUser(user, "pw");
        server->AddMessage(user, "From: sales@cheap-pills.example\nSubject: buy\n\nbody\n");
        server->AddMessage(user, "From: anna@friends.example\nSubject: hello\n\nbody\n");
    }
    testsupport::WriteFile(dir.File("spammers.txt"), "cheap-pills.example\r\n");
    const std::string address = "Server=" + server->Host() + ":" + server->PortText() + "\r\n";
    MakeWindow(address + "Login=" + home + "\r\nPassword=" + ScramblePassword("pw") +
               "\r\n[Account Work]\r\n" + address + "Login=" + work +
               "\r\nPassword=" + ScramblePassword("wrong") +
               "\r\n[Account Off]\r\nServer=127.0.0.1:1\r\nEnabled=0\r\n");

    Click("btnCheckEat");
    EXPECT_EQ(Text("lblServerName"), "Main: 127.0.0.1");
    // The preferences dialog would switch the store to other accounts under the running check.
    bool preferencesOpened = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            preferencesOpened = true;
            dialog->close();
        }
    });
    Trigger("Preferences1");
    EXPECT_FALSE(preferencesOpened);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Every account is being checked - open Preferences when the check has ended");
    ASSERT_TRUE(WaitUntil([&] { return Text("lblServerName") == "Work: 127.0.0.1"; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return !window->Busy(); }, 10000));
    EXPECT_EQ(Text("lblServerName"), "127.0.0.1");
    EXPECT_EQ(Text("StatusBarPanel"), "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
    EXPECT_TRUE(Text("StatusBarFailure").startsWith("Work: "))
        << Text("StatusBarFailure").toStdString();
    EXPECT_EQ(server->Messages(home).size(), 1u);
    EXPECT_EQ(server->Messages(work).size(), 2u);
    EXPECT_EQ(ConfigData->AccountName, "Main");
    EXPECT_TRUE(Find<QPushButton>("btnCheckEat")->isEnabled());
}

} // namespace
