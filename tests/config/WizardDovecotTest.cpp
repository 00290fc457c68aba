// End to end: a new server entered in the preferences dialog is where the next check goes,
// on a real Dovecot. The dialog's results are applied as the main window applies them.
#include "WizardFixture.h"

#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "screening/ScanTestSupport.h"
#include "servers/DovecotServer.h"
#include "support/Wait.h"

#include <QTimer>

namespace {

using testservers::DovecotEnvironment;
using testservers::DovecotServer;

const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new testservers::DovecotEnvironment);

std::string Message(const std::string& from, const std::string& subject) {
    return "From: " + from + "\nTo: me@home.example\nSubject: " + subject + "\n\nBody\n";
}

using WizardDovecotTest = WizardFixture;

TEST_F(WizardDovecotTest, ACheckAfterOkReachesTheServerEnteredInTheDialog) {
    if (!DovecotServer::Available())
        GTEST_SKIP() << "dovecot is not installed (scripts/setup installs it)";
    DovecotServer* server = DovecotEnvironment::Server();
    ASSERT_NE(server, nullptr) << DovecotEnvironment::StartError();
    server->AddUser("prefs", "Sesame-42");
    server->AddMessage("prefs", Message("anna@friends.example", "kept"));
    server->AddMessage("prefs", Message("sales@cheap-pills.example", "eaten"));

    // Nothing listens on port 1: a check with the old settings could not connect.
    WriteFile(IniPath(), "[Config]\r\nServer=127.0.0.1:1\r\nLogin=old\r\n");
    CreateConfigData();
    TPop3Cli client;
    screening::ApplyPop3Settings(client, *ConfigData); // as at start-up

    // Shown modally, as the main window shows it; the user types while exec() runs.
    dialog = std::make_unique<TfrmWizard>();
    QTimer::singleShot(0, dialog.get(), [&] {
        SetText("editServerName", server->Host() + ":" + server->PortText());
        SetText("editLoginName", "prefs");
        SetText("editPassword", "Sesame-42");
        SetText("editSpammerAddress", "cheap-pills.example");
        Click("btnSpammerAdd");
        Click("btnOk");
    });
    QTimer::singleShot(10000, dialog.get(), [&] {
        ADD_FAILURE() << "OK did not close the dialog";
        dialog->done(QDialog::Rejected);
    });
    dialog->exec();

    // What the main window does once the dialog has closed.
    ASSERT_TRUE(dialog->SettingsChanged());
    screening::ApplyPop3Settings(client, *ConfigData);
    if (dialog->AddressesChanged()) LoadAddressList();
    if (dialog->SpammersChanged()) LoadSpammerList();
    dialog.reset();

    TkelLog log;
    log.SetOptions({});
    log.SetLogFileName(dir.File("spammers.log"));
    scantest::RecordingView view;
    screening::TScanSession session(client, log, *ConfigData, view);
    bool ended = false;
    session.OnScanEnd = [&] { ended = true; };
    session.StartScan(true);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return ended; }, 20000)) << "the check did not end";

    EXPECT_EQ(view.statusBar, "Last Results - 2 Checked, 1 OK'd, 1 Eaten");
    const auto left = server->Messages("prefs");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("Subject: kept"), std::string::npos);
}

} // namespace
