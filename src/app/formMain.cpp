// The main window: its controls, menus and tray icon, and its start and end.

#include "formMain.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "net/Wait.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/Paths.h"
#include "platform/WidgetText.h"
#include "screening/CheckLock.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "update/ElidedLabel.h"

#include <QActionGroup>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr const char* kTitle = "Morvandle - Kill Spam Before it Gets You!";
constexpr int kHelpContext = 40;
constexpr int kTrayFrameMs = 150;

QLabel* AddRow(QGridLayout* grid, int row, const char* name, const char* caption,
               const char* valueName, const char* value) {
    auto* label = new QLabel(QString::fromLatin1(caption));
    label->setObjectName(name);
    // A long server name or reply must not widen the window.
    auto* valueLabel = new TElidedLabel(QString::fromLatin1(value));
    valueLabel->setObjectName(valueName);
    grid->addWidget(label, row, 0);
    grid->addWidget(valueLabel, row, 1);
    return valueLabel;
}

} // namespace

std::string TfrmMain::VersionText() {
    return MORVANDLE_VERSION;
}

TfrmMain::TfrmMain()
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      logFile_(std::make_unique<TkelLog>()), pop3Client_(std::make_unique<TPop3Cli>()) {
    setObjectName("frmMain");
    setWindowIcon(QIcon(":/icons/morvandle.png"));
    pop3Client_->SetPort("pop3");
    pop3Client_->SetMsgLines(0);
    pop3Client_->SetMsgNum(0);
    logFile_->SetOptions({logTimestamp});
    logFile_->SetMaxSize(524288);
    // Past its maximum the log moves to spammers.log.1, so it never outgrows twice that.
    logFile_->SetArchiveMode(bkSize);
    logFile_->SetSingleBackup(true);
    logFile_->SetTimestampFormat("dd mmm yyyy hh:nn:ss ");
    BuildControls();
    BuildMenus();
    BuildTray();
    session_ =
        std::make_unique<screening::TScanSession>(*pop3Client_, *logFile_, *ConfigData, *this);
    session_->OnScanEnd = [this] { ScanEnded(); };
    Pop3Wait_ = new TWait(this);
    Pop3Wait_->setObjectName("Pop3Wait");
    Pop3Wait_->SetCaption("60");
    Pop3Wait_->SetInterval(1000);
    Pop3Wait_->SetVisible(false);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this,
            [] { platform::Guarded([] { platform::ShowHelpContext(kHelpContext); }); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive) platform::Guarded([this] { AppEvents1Activate(); });
    });
    FormCreate();
}

TfrmMain::~TfrmMain() {
    // FormDestroy. The session goes first: the client it listens to goes after it, and with
    // the client its connection, without QUIT, so that a running scan deletes nothing.
    session_.reset();
    platform::Guarded(
        [this] { logFile_->AddLine("", "", "Morvandle v" + VersionText() + " terminated\r\n"); });
}

void TfrmMain::BuildControls() {
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(12);
    lblServerName_ = AddRow(grid, 0, "Label1", "POP3 Server:", "lblServerName", "<undefined>");
    lblPOPStatus_ =
        AddRow(grid, 1, "Label2", "Connection Status:", "lblPOPStatus", "Connection inactive");
    lblMessageStatus_ =
        AddRow(grid, 2, "Label3", "Current Activity:", "lblMessageStatus", "<none>");

    auto* label4 = new QLabel("Message Scanning Progress:");
    label4->setObjectName("Label4");
    pbScanning_ = new QProgressBar;
    pbScanning_->setObjectName("pbScanning");
    pbScanning_->setRange(0, 100);
    pbScanning_->setValue(0);
    pbScanning_->setTextVisible(false);

    btnCheck_ = new QPushButton("Check Only");
    btnCheck_->setObjectName("btnCheck");
    btnCheckEat_ = new QPushButton("Check and Eat");
    btnCheckEat_->setObjectName("btnCheckEat");
    btnStop_ = new QPushButton("Stop");
    btnStop_->setObjectName("btnStop");
    btnStop_->setEnabled(false);
    connect(btnStop_, &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { Stop1Click(); }); });
    connect(btnCheck_, &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { CheckforSpam1Click(); }); });
    connect(btnCheckEat_, &QPushButton::clicked, this,
            [this] { platform::Guarded([this] { CheckEatSpam1Click(); }); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCheck_);
    buttons->addSpacing(16);
    buttons->addWidget(btnCheckEat_);
    buttons->addSpacing(16);
    buttons->addWidget(btnStop_);
    buttons->addStretch();

    auto* column = new QVBoxLayout(central);
    column->addLayout(grid);
    column->addWidget(label4);
    column->addWidget(pbScanning_);
    column->addStretch();
    column->addLayout(buttons);
    setCentralWidget(central);

    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(false);
    statusPanel_ = new TElidedLabel("Last Results - [none]");
    statusPanel_->setObjectName("StatusBarPanel");
    statusBar()->addWidget(statusPanel_, 1);
    failurePanel_ = new TElidedLabel("");
    failurePanel_->setObjectName("StatusBarFailure");
    failurePanel_->hide();
    statusBar()->addWidget(failurePanel_, 2);
}

QAction* TfrmMain::AddItem(QMenu* menu, const char* name, const char* caption,
                           std::function<void()> handler) {
    QAction* item = menu->addAction(QString::fromLatin1(caption));
    item->setObjectName(name);
    if (handler)
        connect(item, &QAction::triggered, this,
                [handler] { platform::Guarded([&handler] { handler(); }); });
    else
        item->setEnabled(false); // its dialog is not part of this program yet
    return item;
}

std::function<void()> TfrmMain::Do(void (TfrmMain::*handler)()) {
    return [this, handler] { (this->*handler)(); };
}

void TfrmMain::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    auto separator = [](QMenu* menu, const char* name) {
        QAction* s = menu->addSeparator();
        s->setObjectName(name);
        return s;
    };

    File1_ = bar->addMenu("&File");
    File1_->setObjectName("File1");
    AddItem(File1_, "Preferences1", "&Preferences", Do(&TfrmMain::Preferences1Click));
    separator(File1_, "N7");
    AddItem(File1_, "SpammersListUpdate1", "&Spammers List Update",
            Do(&TfrmMain::SpammersListUpdate1Click));
    separator(File1_, "N1");
    AddItem(File1_, "Exit1", "E&xit", Do(&TfrmMain::Exit1Click));

    Action1_ = bar->addMenu("&Action");
    Action1_->setObjectName("Action1");
    CheckEatSpam1_ = AddItem(Action1_, "CheckEatSpam1", "Check and &Eat Spam",
                             Do(&TfrmMain::CheckEatSpam1Click));
    CheckforSpam1_ = AddItem(Action1_, "CheckforSpam1", "&Check only for Spam",
                             Do(&TfrmMain::CheckforSpam1Click));
    auto* group1 = new QActionGroup(this);
    group1->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* item : {CheckEatSpam1_, CheckforSpam1_}) {
        item->setCheckable(true);
        group1->addAction(item);
    }
    Stop1_ = AddItem(Action1_, "Stop1", "S&top", Do(&TfrmMain::Stop1Click));
    Stop1_->setShortcut(Qt::Key_Escape);
    Stop1_->setEnabled(false);
    separator(Action1_, "N3");
    VerboseLogging1_ = AddItem(Action1_, "VerboseLogging1", "&Verbose Logging",
                               Do(&TfrmMain::VerboseLogging1Click));
    VerboseLogging1_->setCheckable(true);
    AddItem(Action1_, "ShowLogfile1", "&Show Logfile", Do(&TfrmMain::ShowLogfile1Click));
    AddItem(Action1_, "ClearLogfile1", "C&lear Logfile", Do(&TfrmMain::ClearLogfile1Click));
    AddItem(Action1_, "OpenQuarantineFolder1", "&Open Quarantine Folder",
            Do(&TfrmMain::OpenQuarantineFolder1Click));
    separator(Action1_, "N9");
    // Captions with "…", which AddItem's Latin-1 texts cannot hold.
    AddItem(Action1_, "LastCheckResults1", "", Do(&TfrmMain::LastCheckResults1Click))
        ->setText(QString::fromUtf8("Last Check &Results…"));
    AddItem(Action1_, "Quarantine1", "", Do(&TfrmMain::Quarantine1Click))
        ->setText(QString::fromUtf8("&Quarantine…"));

    QMenu* help = bar->addMenu("&Help");
    help->setObjectName("Help1");
    AddItem(help, "Contents1", "&Contents", Do(&TfrmMain::Contents1Click));
    AddItem(help, "WhatsNew1", "&What's New", [] { platform::ShowHelpContext(80); });
    AddItem(help, "FAQ1", "&FAQ", [] { platform::ShowHelpContext(110); });
    AddItem(help, "Support1", "&Support", [] { platform::ShowHelpContext(60); });
    separator(help, "N2");
    AddItem(help, "About1", "&About", Do(&TfrmMain::About1Click));
}

void TfrmMain::BuildTray() {
    PopupMenu_ = new QMenu(this);
    PopupMenu_->setObjectName("PopupMenu");
    AddItem(PopupMenu_, "ShowMorvandle1", "&Show Morvandle", Do(&TfrmMain::ShowMorvandle1Click));
    AddItem(PopupMenu_, "Preferences2", "&Preferences", Do(&TfrmMain::Preferences1Click));
    AddItem(PopupMenu_, "SpammersListUpdate2", "Spa&mmers List Update",
            Do(&TfrmMain::SpammersListUpdate1Click));
    PopupMenu_->addSeparator()->setObjectName("N5");
    AddItem(PopupMenu_, "CheckforSpam2", "Check for Spam", Do(&TfrmMain::CheckforSpam1Click));
    AddItem(PopupMenu_, "CheckandEatSpam1", "Check and Eat Spam",
            Do(&TfrmMain::CheckEatSpam1Click));
    PopupMenu_->addSeparator()->setObjectName("N8");
    AddItem(PopupMenu_, "DisplayLogfile1", "Display &Logfile", Do(&TfrmMain::ShowLogfile1Click));
    PopupMenu_->addSeparator()->setObjectName("N4");
    AddItem(PopupMenu_, "AboutMorvandle1", "&About Morvandle", Do(&TfrmMain::About1Click));
    PopupMenu_->addSeparator()->setObjectName("N6");
    AddItem(PopupMenu_, "ExitMorvandle1", "E&xit Morvandle", Do(&TfrmMain::Exit1Click));

    trayIcon_ = new QSystemTrayIcon(QIcon(":/icons/morvandle.png"), this);
    trayIcon_->setObjectName("TrayIcon");
    trayIcon_->setContextMenu(PopupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    platform::Guarded([this] { TrayIconDblClick(); });
            });
    trayAnimation_ = new QTimer(this);
    trayAnimation_->setInterval(kTrayFrameMs);
    connect(trayAnimation_, &QTimer::timeout, this, [this] { ShowTrayFrame(); });
    trayAvailable_ = QSystemTrayIcon::isSystemTrayAvailable();
}

void TfrmMain::FormCreate() {
    resize(ConfigData->Width, ConfigData->Height);
    move(ConfigData->Left, ConfigData->Top);
    logFile_->SetLogFileName(platform::ProgramDir() + "/spammers.log");
    logFile_->AddLine("", "", "Morvandle v" + VersionText() + " Started");
    trayIcon_->setToolTip(platform::WidgetText("Morvandle v" + VersionText()));
    setWindowTitle(kTitle);
    findChild<QAction*>("N1")->setVisible(false);
    screening::ApplyPop3Settings(*pop3Client_, *ConfigData);
    VerboseLogging1_->setChecked(ConfigData->LogLevel);
    lblServerName_->setText(platform::WidgetText(pop3Client_->Host()));
}

void TfrmMain::AskForServer() {
    // The settings file without Server reads "undefined".
    const auto serverSet = [] {
        return !ConfigData->Server.empty() && ConfigData->Server != "undefined";
    };
    if (serverSet()) return;
    SetStatusBar("No server is set: enter it in File > Preferences");
    Preferences1Click();
    if (serverSet()) SetStatusBar("Last Results - [none]");
}

void TfrmMain::CentreOnScreen() {
    const QRect screen = this->screen()->availableGeometry();
    const QRect frame = frameGeometry();
    move(screen.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

bool TfrmMain::Busy() const {
    return session_->Busy() || readingPassword_ || round_.has_value();
}
