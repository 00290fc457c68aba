#pragma once

#include "app/formResults.h"
#include "config/Accounts.h"
#include "screening/ScanView.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class TWait;
class TfrmFtp;
class QTimer;
class TkelLog;
class TPop3Cli;

namespace screening {
class TCheckLock;
class TScanSession;
} // namespace screening

// The program's main window: shows the server, the connection status, the current activity
// and the scan's progress; offers the commands through two buttons, the main menu and the
// tray icon's menu. It owns the POP3 client, the activity log and the scan session, and is
// the scan's view. ConfigData must exist for the window's whole life.
class TfrmMain : public QMainWindow, public screening::TScanView {
  public:
    TfrmMain();
    ~TfrmMain() override;

    // Version text of the program, as shown in the tray hint and logged at start and end.
    static std::string VersionText();

    // Runs when the window has been closed (Exit, close box): the program ends then.
    std::function<void()> OnClosed;

    // Menu and button handlers.
    void CheckforSpam1Click();
    void CheckEatSpam1Click();
    void Stop1Click();
    void Exit1Click();
    void VerboseLogging1Click();
    void ShowLogfile1Click();
    void ClearLogfile1Click();
    void Contents1Click();
    void About1Click();
    void ShowMorvandle1Click();
    void Preferences1Click();
    void SpammersListUpdate1Click();
    void OpenQuarantineFolder1Click();
    // The last check's results; the quarantine's messages.
    void LastCheckResults1Click();
    void Quarantine1Click();

    // What follows a preferences change that the user confirmed: the login into the POP3
    // client, the changed lists reloaded, the window hidden again if it was in the tray.
    void ApplyPreferences(bool addressesChanged, bool spammersChanged);
    // The spammers-list update dialog opens (File and Action menus off, Busy set) and closes
    // (both undone).
    void BeginSpammersListUpdate();
    void SpammersListUpdateClosed();

    // A second copy of the program asked for this window: back from the tray or from the
    // taskbar, and to the front.
    void BringToFront();

    // Minimising hides the window in the tray only where a tray exists.
    void SetTrayAvailable(bool available) { trayAvailable_ = available; }
    // A first start, with no server set: the status bar says what to do and the preferences
    // dialog opens. Otherwise nothing happens.
    void AskForServer();
    // Centres the window on its screen, keeping its size; done before it is first shown.
    void CentreOnScreen();

    bool Busy() const;
    screening::TScanSession& Session() { return *session_; }
    TPop3Cli& Pop3Client() { return *pop3Client_; }
    TkelLog& LogFile() { return *logFile_; }
    QSystemTrayIcon& TrayIcon() { return *trayIcon_; }

    // The scan's view.
    void SetConnectionStatus(const std::string& text) override;
    void SetActivity(const std::string& text) override;
    void SetStatusBar(const std::string& text) override;
    void SetFailure(const std::string& text) override;
    void SetMailboxProgress(const std::string& text) override { SetStatusBar(text); }
    void SetScanCommandsEnabled(bool enabled) override;
    void SetScanModeChecks(bool checkOnly, bool checkAndEat) override;
    void SetTrayAnimation(bool animate) override;
    bool HiddenToTray() const override { return hiddenToTray_; }
    void HideToTray() override;
    void SetProgressPosition(int position) override;
    void SetProgressMax(int max) override;
    void StepProgress(int steps) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildControls();
    void BuildMenus();
    void BuildTray();
    // A menu item; without a handler it is disabled.
    QAction* AddItem(QMenu* menu, const char* name, const char* caption,
                     std::function<void()> handler);
    std::function<void()> Do(void (TfrmMain::*handler)());
    // Starts a scan under the program folder's check lock, once the password has been read;
    // when another check holds the lock or the password cannot be had, the status bar says
    // so and nothing else changes.
    void StartLockedScan(bool eat);
    // Reads the password of the account in ConfigData and starts its scan.
    void StartAccountScan(bool eat);

    // Check Only and Check and Eat go through every enabled account, one after another under
    // the one check lock (formMainAccounts.cpp). No round runs when the settings hold a
    // single account: that one is checked as it always was.
    struct TAccountRound {
        std::vector<TAccountSettings> accounts; // the enabled ones, in settings order
        std::size_t current = 0;
        bool eat = false;
        bool stopped = false;
        TAccountSettings before; // ConfigData's account, back in place when the round ends
        int checked = 0, okd = 0, eaten = 0;
        std::string failure; // what ended the current account's check, as the scan named it
        std::vector<std::string> failed; // the accounts that failed, with what went wrong
    };
    // False, with the reason in the status bar, when the settings name no account to check.
    bool BeginRound(bool eat);
    void UseRoundAccount();
    // The current account's check ended (or its password could not be had): its figures join
    // the totals and the next account starts.
    void AccountScanEnded(const std::string& passwordError = "");
    void EndRound();
    // The last check's results and "Eat marked" (formMainResults.cpp).
    void ScanEnded();
    void EatMarked(std::vector<TResultGroup> marked);
    void EatNextMarked();
    void EatMarkedDone();
    struct TEatMarkedRun {
        std::vector<TResultGroup> groups; // per account, the messages to eat
        std::size_t current = 0;
        TAccountSettings before; // ConfigData's account, back in place at the end
        int checked = 0, eaten = 0, notFound = 0;
        bool failed = false;
        bool stopped = false; // Stop ends the whole run, not only the account at hand
    };
    std::vector<TResultGroup> lastResults_;
    std::optional<TEatMarkedRun> eatMarked_;
    QPointer<TfrmResults> resultsWindow_;
    void FormCreate();
    void FormResize();
    void SaveWindowPosition();
    void RestoreFromTray();
    void PopToFront();
    void AppEvents1Minimize();
    void AppEvents1Activate();
    void TrayIconDblClick();
    void ShowTrayFrame();

    std::unique_ptr<TkelLog> logFile_;
    std::unique_ptr<TPop3Cli> pop3Client_;
    std::unique_ptr<screening::TScanSession> session_;
    // Held from the start of a scan to its end: one check per program folder at a time.
    std::unique_ptr<screening::TCheckLock> checkLock_;
    // Between taking the lock and starting the scan: the password is being read.
    bool readingPassword_ = false;
    std::optional<TAccountRound> round_;
    // The countdown of the blocking socket operations, attached to nothing.
    TWait* Pop3Wait_ = nullptr;
    // The open update window, if any: a second request brings it to the front.
    QPointer<TfrmFtp> updateWindow_;

    QLabel* lblServerName_ = nullptr;
    QLabel* lblPOPStatus_ = nullptr;
    QLabel* lblMessageStatus_ = nullptr;
    QProgressBar* pbScanning_ = nullptr;
    QPushButton* btnCheck_ = nullptr;
    QPushButton* btnCheckEat_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    QLabel* failurePanel_ = nullptr;

    QMenu* File1_ = nullptr;
    QMenu* Action1_ = nullptr;
    QAction* CheckEatSpam1_ = nullptr;
    QAction* CheckforSpam1_ = nullptr;
    QAction* Stop1_ = nullptr;
    QAction* VerboseLogging1_ = nullptr;
    QMenu* PopupMenu_ = nullptr;

    QSystemTrayIcon* trayIcon_ = nullptr;
    QTimer* trayAnimation_ = nullptr;
    int trayFrame_ = 0;

    bool hiddenToTray_ = false;
    bool firstActivationDone_ = false;
    bool trayAvailable_ = false;
    bool checkOnlyMark_ = false;
    bool checkEatMark_ = false;
};
