// The main window's commands, the scan's view, the tray and the window position.

#include "AboutMorvandle.h"
#include "formMain.h"
#include "formQuarantine.h"

#include "config/dataConfig.h"
#include "config/formWizard.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/Paths.h"
#include "platform/WidgetText.h"
#include "screening/CheckLock.h"
#include "screening/Pop3Settings.h"
#include "screening/Quarantine.h"
#include "screening/ScanSession.h"
#include "secrets/SecretStore.h"
#include "secrets/SettingsFileMode.h"
#include "signin/AccessToken.h"
#include "update/formFtp.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>

namespace {

std::string LogFilePath() {
    return platform::ProgramDir() + "/spammers.log";
}

// Hands a file or folder to the desktop's program for it. What ends it is not awaited in a
// loop: a failure to start xdg-open, or its failure status, is said in a box when it comes.
// The process is owned by nobody, so that a viewer still open outlives the program.
void OpenWithDesktop(const std::string& path) {
    auto* opener = new QProcess;
    const auto failed = [path](const std::string& why) {
        platform::Guarded([&] {
            platform::MessageDlg("Unable to open " + path + ":\r\n" + why,
                                 platform::TMsgDlgType::mtError, platform::mbOK);
        });
    };
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [opener, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         opener->deleteLater();
                         failed("xdg-open could not be started (is xdg-utils installed?)");
                     });
    QObject::connect(opener, &QProcess::finished, opener,
                     [opener, failed](int status, QProcess::ExitStatus how) {
                         opener->deleteLater();
                         if (how == QProcess::NormalExit && status == 0) return;
                         failed("xdg-open ended with status " + std::to_string(status));
                     });
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->start("xdg-open", {platform::WidgetText(path)});
}

// Restores the normal cursor on every path.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

// ---- commands ----

void TfrmMain::CheckforSpam1Click() {
    StartLockedScan(false);
    // Qt ticks a checkable item as it is clicked; the marks show the running scan only.
    SetScanModeChecks(checkOnlyMark_, checkEatMark_);
}

void TfrmMain::CheckEatSpam1Click() {
    StartLockedScan(true);
    SetScanModeChecks(checkOnlyMark_, checkEatMark_);
}

void TfrmMain::Stop1Click() {
    if (round_) round_->stopped = true;
    if (eatMarked_) eatMarked_->stopped = true;
    session_->Stop();
}

void TfrmMain::StartLockedScan(bool eat) {
    // While Busy the session starts nothing: the lock, if any, is the running scan's or the
    // update's. The scan's end lets go of it (OnScanEnd), also when it ends inside StartScan.
    if (readingPassword_ || round_ || eatMarked_) return;
    if (checkLock_ || session_->Busy()) return session_->StartScan(eat);
    auto lock = std::make_unique<screening::TCheckLock>();
    if (!lock->TryLock()) {
        SetStatusBar(lock->BusyText());
        return;
    }
    checkLock_ = std::move(lock);
    const secrets::TModeCheck mode = secrets::TightenSettingsFile();
    if (mode.kind != secrets::TModeCheck::Private) logFile_->AddLine("", "", mode.text);
    if (!BeginRound(eat)) return checkLock_.reset();
    StartAccountScan(eat);
}

void TfrmMain::StartAccountScan(bool eat) {
    // The commands look started at once, as the scan will set them.
    readingPassword_ = true;
    SetScanCommandsEnabled(false);
    SetScanModeChecks(!eat, eat);
    signin::ReadLoginSecret(*ConfigData, this, [this, eat](const secrets::TSecret& password) {
        readingPassword_ = false;
        platform::Guarded([&] {
            if (round_ && round_->stopped) return EndRound(); // Stop while the password was read
            if (!password.ok && round_) return AccountScanEnded(password.error);
            if (!password.ok) {
                checkLock_.reset();
                SetScanCommandsEnabled(true);
                SetScanModeChecks(false, false);
                SetStatusBar(password.error);
                logFile_->AddLine("", "", password.error);
                return;
            }
            pop3Client_->SetPassWord(password.secret);
            session_->StartScan(eat);
        });
    });
}

void TfrmMain::Exit1Click() {
    close();
}

void TfrmMain::VerboseLogging1Click() {
    ConfigData->LogLevel = VerboseLogging1_->isChecked();
    ConfigData->SaveLogLevel();
}

void TfrmMain::ShowLogfile1Click() {
    OpenWithDesktop(LogFilePath()); // the desktop's viewer for text files
}

void TfrmMain::ClearLogfile1Click() {
    if (platform::MessageDlg("Clear the Morvandle log file?", platform::TMsgDlgType::mtConfirmation,
                             platform::mbYes | platform::mbNo, 0) != platform::mrYes)
        return;
    std::remove(LogFilePath().c_str()); // a failure is ignored
}

void TfrmMain::Contents1Click() {
    platform::ShowHelpContents();
}

void TfrmMain::About1Click() {
    {
        TAboutBox box(this, VersionText());
        box.exec();
    }
    if (hiddenToTray_) HideToTray();
}

void TfrmMain::Preferences1Click() {
    // The dialog edits the accounts in the store that a check of several accounts (or Eat
    // marked) is reading from: the running check would go on with another account's files.
    if (round_ || eatMarked_)
        return (void)platform::MessageDlg(
            "Every account is being checked - open Preferences when the check has ended",
            platform::TMsgDlgType::mtInformation, platform::mbOK);
    TfrmWizard dialog(this);
    dialog.exec();
    if (!dialog.SettingsChanged()) return;
    ApplyPreferences(dialog.AddressesChanged(), dialog.SpammersChanged());
}

void TfrmMain::SpammersListUpdate1Click() {
    // The tray's item stays enabled while the window is open: one window is enough.
    if (updateWindow_) {
        updateWindow_->raise();
        updateWindow_->activateWindow();
        return;
    }
    BeginSpammersListUpdate();
    updateWindow_ = new TfrmFtp(this, *logFile_);
    updateWindow_->OnClosed = [this] { SpammersListUpdateClosed(); };
    updateWindow_->show();
}

void TfrmMain::OpenQuarantineFolder1Click() {
    OpenWithDesktop(platform::FolderOf(screening::QuarantinePath())); // the file manager
}

void TfrmMain::Quarantine1Click() {
    std::vector<TQuarantineSource> sources;
    for (const TAccountSettings& account : ReadAccounts())
        sources.push_back({account.AccountName, screening::QuarantinePath(account.FilesName)});
    auto* window = new TfrmQuarantine(this, std::move(sources), OpenWithDesktop);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void TfrmMain::ApplyPreferences(bool addressesChanged, bool spammersChanged) {
    {
        WaitCursor wait;
        screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
        lblServerName_->setText(platform::WidgetText(pop3Client_->Host()));
        if (addressesChanged) LoadAddressList();
        if (spammersChanged) LoadSpammerList();
    }
    if (hiddenToTray_) HideToTray();
}

void TfrmMain::BeginSpammersListUpdate() {
    File1_->setEnabled(false);
    Action1_->setEnabled(false);
    session_->SetBusy(true);
}

void TfrmMain::SpammersListUpdateClosed() {
    File1_->setEnabled(true);
    Action1_->setEnabled(true);
    session_->SetBusy(false);
}

// ---- the scan's view ----

void TfrmMain::SetConnectionStatus(const std::string& text) {
    lblPOPStatus_->setText(platform::WidgetText(text));
}

void TfrmMain::SetActivity(const std::string& text) {
    lblMessageStatus_->setText(platform::WidgetText(text));
}

void TfrmMain::SetStatusBar(const std::string& text) {
    statusPanel_->setText(platform::WidgetText(text));
}

// Beside the result, and in the tray's hint: a hidden window's failure is seen there.
void TfrmMain::SetFailure(const std::string& text) {
    if (round_ && !text.empty()) round_->failure = text;
    failurePanel_->setText(platform::WidgetText(text));
    failurePanel_->setVisible(!text.empty());
    const std::string hint = "Morvandle v" + VersionText();
    trayIcon_->setToolTip(platform::WidgetText(text.empty() ? hint : hint + "\n" + text));
}

void TfrmMain::SetScanCommandsEnabled(bool enabled) {
    for (QAction* item : {CheckEatSpam1_, CheckforSpam1_})
        item->setEnabled(enabled);
    btnCheck_->setEnabled(enabled);
    btnCheckEat_->setEnabled(enabled);
    // The scan commands are off exactly while a check runs.
    Stop1_->setEnabled(!enabled);
    btnStop_->setEnabled(!enabled);
}

void TfrmMain::SetScanModeChecks(bool checkOnly, bool checkAndEat) {
    checkOnlyMark_ = checkOnly;
    checkEatMark_ = checkAndEat;
    CheckforSpam1_->setChecked(checkOnly);
    CheckEatSpam1_->setChecked(checkAndEat);
}

void TfrmMain::SetTrayAnimation(bool animate) {
    if (animate) {
        trayFrame_ = 0;
        ShowTrayFrame();
        trayAnimation_->start();
    } else {
        trayAnimation_->stop();
        trayIcon_->setIcon(QIcon(":/icons/morvandle.png"));
    }
}

void TfrmMain::ShowTrayFrame() {
    trayIcon_->setIcon(QIcon(trayFrame_ == 0 ? ":/icons/frame1.png" : ":/icons/frame2.png"));
    trayFrame_ = 1 - trayFrame_;
}

// The bar can be stepped past its maximum (several "To:" lines are searched in turn); it
// stays full then. A maximum of 0 shows an empty bar, not Qt's busy indicator.
void TfrmMain::SetProgressPosition(int position) {
    pbScanning_->setValue(std::clamp(position, 0, pbScanning_->maximum()));
}

void TfrmMain::SetProgressMax(int max) {
    pbScanning_->setMaximum(std::max(max, 1));
}

void TfrmMain::StepProgress(int steps) {
    SetProgressPosition(pbScanning_->value() + steps);
}

// ---- the tray ----

void TfrmMain::HideToTray() {
    hide();
    hiddenToTray_ = true;
}

void TfrmMain::RestoreFromTray() {
    showNormal();
    hiddenToTray_ = false;
}

void TfrmMain::PopToFront() {
    raise();
    activateWindow();
}

void TfrmMain::ShowMorvandle1Click() {
    trayIcon_->hide();
    RestoreFromTray();
    PopToFront();
    move(ConfigData->Left, ConfigData->Top);
    resize(ConfigData->Width, ConfigData->Height);
}

void TfrmMain::TrayIconDblClick() {
    ShowMorvandle1Click();
    PopToFront();
}

void TfrmMain::BringToFront() {
    if (hiddenToTray_) {
        trayIcon_->hide();
        RestoreFromTray();
    } else if (isMinimized()) {
        showNormal();
    }
    PopToFront();
}

void TfrmMain::AppEvents1Minimize() {
    // Without a tray the icon could never bring the window back: an ordinary minimise.
    if (!trayAvailable_) return;
    trayIcon_->show();
    HideToTray();
}

void TfrmMain::AppEvents1Activate() {
    if (firstActivationDone_) return;
    trayIcon_->hide();
    if (hiddenToTray_) RestoreFromTray();
    firstActivationDone_ = true;
}

void TfrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        // After the state change is through: hiding inside it confuses some window managers.
        QTimer::singleShot(0, this,
                           [this] { platform::Guarded([this] { AppEvents1Minimize(); }); });
}

// ---- position and size ----

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The size set before the window is first shown is the stored one already.
    if (isVisible()) FormResize();
}

void TfrmMain::FormResize() {
    ConfigData->Width = width();
    ConfigData->Height = height();
    if (y() > 0) ConfigData->Top = y();
    if (x() > 0) ConfigData->Left = x();
}

void TfrmMain::SaveWindowPosition() {
    if (x() > 0) ConfigData->Left = x();
    if (y() > 0) ConfigData->Top = y();
    ConfigData->Width = width();
    ConfigData->Height = height();
    WriteConfigInteger("Left", ConfigData->Left);
    WriteConfigInteger("Top", ConfigData->Top);
    WriteConfigInteger("Width", ConfigData->Width);
    WriteConfigInteger("Height", ConfigData->Height);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    platform::Guarded([this] { SaveWindowPosition(); });
    // A running scan is abandoned here, not when the window goes: replies that arrive in
    // between could let it end its last message with QUIT. Without QUIT the server deletes
    // nothing of it.
    platform::Guarded([this] { pop3Client_->Abort(); });
    trayIcon_->hide();
    event->accept();
    if (OnClosed) OnClosed();
}
