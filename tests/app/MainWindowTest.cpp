// The main window without a server: start and end, menus, log commands, window position,
// the Busy handling of the update dialog, preferences, about box.

#include "AppTestSupport.h"

#include "app/AboutMorvandle.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/ErrorReport.h"
#include "platform/FileLock.h"
#include "screening/ScanSession.h"
#include "update/formFtp.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

#include <filesystem>
#include <unistd.h>

using apptest::WindowFixture;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

namespace {

using MainWindow = WindowFixture;

const std::string kStarted = "Morvandle v" MORVANDLE_VERSION " Started";
const std::string kTerminated = "Morvandle v" MORVANDLE_VERSION " terminated";

} // namespace

TEST_F(MainWindow, CreationTakesTheSettingsAndTheEndWritesOnlyTheTerminationLine) {
    MakeWindow("Server=mail.example.org:1110\r\nLogin=jo\r\nLogLevel=1\r\nWidth=500\r\n"
               "Height=300\r\n");
    EXPECT_EQ(window->windowTitle(), "Morvandle - Kill Spam Before it Gets You!");
    EXPECT_EQ(Text("lblServerName"), "mail.example.org");
    EXPECT_EQ(window->Pop3Client().Port(), "1110");
    EXPECT_EQ(window->Pop3Client().UserName(), "jo");
    EXPECT_TRUE(Find<QAction>("VerboseLogging1")->isChecked());
    EXPECT_FALSE(Find<QAction>("N1")->isVisible());
    EXPECT_EQ(window->size(), QSize(500, 300));
    EXPECT_EQ(window->TrayIcon().toolTip(), "Morvandle v" MORVANDLE_VERSION);
    EXPECT_FALSE(window->TrayIcon().isVisible());
    EXPECT_EQ(LogLines(), std::vector<std::string>{kStarted});

    const std::string settings = ReadFile(IniPath());
    window.reset(); // destroyed without being closed, as a second copy's window is
    EXPECT_EQ(LogLines(), (std::vector<std::string>{kStarted, kTerminated, "", ""}));
    EXPECT_EQ(ReadFile(IniPath()), settings) << "no window position saved";
}

TEST_F(MainWindow, VerboseLoggingWritesLogLevelAloneAndAFailedWriteIsShown) {
    MakeWindow();
    Trigger("VerboseLogging1");
    EXPECT_TRUE(ConfigData->LogLevel);
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\nLogLevel=1\n");
    Trigger("VerboseLogging1");
    EXPECT_FALSE(ConfigData->LogLevel);
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\nLogLevel=0\n");

    // A settings file that cannot be written: the error is shown and the window goes on.
    WriteFile(dir.File("blocker"), "a file, not a folder");
    platform::SetSettingsFileOverride(dir.File("blocker/Morvandle.ini"));
    std::vector<std::string> errors;
    platform::ScopedErrorReporter reporter(
        [&errors](const std::string& message) { errors.push_back(message); });
    Trigger("VerboseLogging1");
    EXPECT_EQ(errors, std::vector<std::string>{"Unable to write to Morvandle.ini"});
    EXPECT_TRUE(Find<QAction>("VerboseLogging1")->isEnabled());
}

TEST_F(MainWindow, ClearLogfileAsksAndDeletesTheLogOnlyOnYes) {
    MakeWindow();
    const struct {
        int answer;
        bool deleted;
    } cases[] = {{platform::mrNo, false}, {platform::mrYes, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        boxes.clear();
        answer = c.answer;
        window->LogFile().AddLine("", "", "old line");
        const std::string before = ReadFile(LogPath());
        Trigger("ClearLogfile1");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Clear the Morvandle log file?");
        EXPECT_EQ(boxes[0].type, platform::TMsgDlgType::mtConfirmation);
        EXPECT_EQ(boxes[0].buttons, unsigned(platform::mbYes | platform::mbNo));
        EXPECT_EQ(ReadFile(LogPath()), c.deleted ? "<missing>" : before);
    }
    window->LogFile().AddLine("", "", "new line");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"new line"});
}

TEST_F(MainWindow, OnlyPositiveCoordinatesAreRecordedAndOnlyWithAChangeOfSize) {
    MakeWindow("Left=200\r\nTop=150\r\n");
    window->CentreOnScreen();
    window->show();
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible(); }));
    const QPoint offCentre =
        window->frameGeometry().center() - window->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << "opens centred, not at the stored place";
    EXPECT_EQ(ConfigData->Left, 200) << "the centred first position is not recorded";
    const struct {
        QPoint pos;
        QSize size; // empty: a move alone
        int left, top, width, height;
    } steps[] = {
        {{-40, 50}, {500, 320}, 200, 50, 500, 320},
        {{30, -10}, {}, 200, 50, 500, 320},
        {{30, -10}, {510, 330}, 30, 50, 510, 330},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.left);
        window->move(s.pos);
        if (!s.size.isEmpty()) window->resize(s.size);
        ASSERT_TRUE(WaitUntil([&] {
            return window->pos() == s.pos && (s.size.isEmpty() || window->size() == s.size);
        }));
        EXPECT_EQ(ConfigData->Left, s.left);
        EXPECT_EQ(ConfigData->Top, s.top);
        EXPECT_EQ(ConfigData->Width, s.width);
        EXPECT_EQ(ConfigData->Height, s.height);
    }
    Trigger("Exit1");
    EXPECT_EQ(ReadFile(IniPath()), "[Config]\r\nLeft=30\r\nTop=50\r\nWidth=510\r\nHeight=330\r\n");
}

TEST_F(MainWindow, MinimisingHidesInTheTrayOnlyWhereThereIsOneAndShowComesBackAsStored) {
    MakeWindow("Left=120\r\nTop=90\r\nWidth=450\r\nHeight=260\r\n");
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray);
        window->SetTrayAvailable(tray);
        window->showNormal();
        ASSERT_TRUE(WaitUntil([&] { return !window->isMinimized(); }));
        window->showMinimized();
        if (!tray) {
            testsupport::RunEventLoopFor(50);
            EXPECT_FALSE(window->HiddenToTray()) << "no icon could bring it back";
            EXPECT_FALSE(window->TrayIcon().isVisible());
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return window->HiddenToTray(); }));
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(window->TrayIcon().isVisible());
    }
    Trigger("ShowMorvandle1");
    EXPECT_FALSE(window->HiddenToTray());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->TrayIcon().isVisible());
    ASSERT_TRUE(WaitUntil([&] { return window->pos() == QPoint(120, 90); }));
    EXPECT_EQ(window->size(), QSize(450, 260));
}

TEST_F(MainWindow, ScanCommandsAreRefusedWhileTheUpdateDialogIsOpenAndWorkAfterwards) {
    MakeWindow("Server=127.0.0.1:1\r\n"); // nothing listens there: each scan ends at once
    Trigger("SpammersListUpdate1");
    Trigger("SpammersListUpdate2"); // brings the open one up, opens no second one
    const QList<TfrmFtp*> opened = window->findChildren<TfrmFtp*>();
    ASSERT_EQ(opened.size(), 1);
    QPointer<TfrmFtp> update = opened.front();
    EXPECT_TRUE(update->isVisible());
    EXPECT_TRUE(window->Busy());
    EXPECT_FALSE(Find<QMenu>("File1")->isEnabled());
    EXPECT_FALSE(Find<QMenu>("Action1")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btnCheck")->isEnabled());

    const std::function<void()> commands[] = {
        [&] { Click("btnCheck"); },
        [&] { Click("btnCheckEat"); },
        [&] { Trigger("CheckforSpam2"); },
        [&] { Trigger("CheckandEatSpam1"); },
    };
    for (const auto& command : commands)
        command();
    testsupport::RunEventLoopFor(100);
    EXPECT_EQ(Text("lblPOPStatus"), "Connection inactive");
    EXPECT_EQ(LogLines(), std::vector<std::string>{kStarted});

    update->findChild<QPushButton*>("btnCancel")->click(); // closes the idle window
    ASSERT_TRUE(WaitUntil([&] { return update.isNull(); }));
    EXPECT_FALSE(window->Busy());
    EXPECT_TRUE(Find<QMenu>("File1")->isEnabled());
    EXPECT_TRUE(Find<QMenu>("Action1")->isEnabled());
    const bool eats[] = {false, true, false, true};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        window->SetStatusBar("");
        commands[i]();
        EXPECT_TRUE(window->Busy());
        EXPECT_EQ(Find<QAction>("CheckEatSpam1")->isChecked(), eats[i]);
        EXPECT_EQ(Find<QAction>("CheckforSpam1")->isChecked(), !eats[i]);
        EXPECT_FALSE(Find<QPushButton>("btnCheckEat")->isEnabled());
        ASSERT_TRUE(WaitUntil([&] { return !window->Busy(); }));
        EXPECT_EQ(Text("StatusBarPanel"), "Last Results - unable to locate server");
        EXPECT_FALSE(Find<QAction>("CheckEatSpam1")->isChecked());
        EXPECT_TRUE(Find<QAction>("CheckforSpam1")->isEnabled());
    }
}

// Another check holds the program folder (morvandle-check from cron): the scan commands say so
// in the status bar and change nothing else, the update's Start says so in a box; a scan of
// the window lets go of the folder when it ends.
TEST_F(MainWindow, AnotherCheckInTheFolderIsNamedAndNothingStarts) {
    MakeWindow("Server=127.0.0.1:1\r\n"); // nothing listens there: a scan ends at once
    WriteFile(dir.File("spammers.txt"), "");
    WriteFile(dir.File("upd.txt"), "fresh\n");
    platform::FileLock other(dir.File("morvandle.lock"));
    ASSERT_TRUE(other.TryLock());
    ASSERT_EQ(::pwrite(other.Descriptor(), "4242\n", 5, 0), 5);
    const std::string busy = "Another check is running (pid 4242); nothing done";
    const std::function<void()> commands[] = {
        [&] { Click("btnCheck"); },
        [&] { Click("btnCheckEat"); },
        [&] { Trigger("CheckforSpam2"); },
        [&] { Trigger("CheckandEatSpam1"); },
    };
    for (const auto& command : commands) {
        window->SetStatusBar("");
        command();
        EXPECT_EQ(Text("StatusBarPanel").toStdString(), busy);
        EXPECT_FALSE(window->Busy());
        EXPECT_TRUE(Find<QPushButton>("btnCheck")->isEnabled());
        EXPECT_TRUE(Find<QPushButton>("btnCheckEat")->isEnabled());
        EXPECT_FALSE(Find<QAction>("CheckEatSpam1")->isChecked());
        EXPECT_FALSE(Find<QAction>("CheckforSpam1")->isChecked());
    }
    EXPECT_EQ(Text("lblPOPStatus"), "Connection inactive");

    Trigger("SpammersListUpdate1");
    QPointer<TfrmFtp> update = window->findChild<TfrmFtp*>();
    ASSERT_TRUE(update);
    update->findChild<QLineEdit*>("febLocalFile")
        ->setText(QString::fromStdString(dir.File("upd.txt")));
    update->findChild<QPushButton*>("btnStart")->click();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, busy);
    EXPECT_TRUE(update->findChild<QPushButton*>("btnStart")->isEnabled());
    EXPECT_TRUE(update->findChild<QPushButton*>("btnCancel")->isEnabled());
    EXPECT_EQ(ReadFile(dir.File("spammers.txt")), "");
    update->findChild<QPushButton*>("btnCancel")->click();
    ASSERT_TRUE(WaitUntil([&] { return update.isNull(); }));

    other.Unlock();
    Click("btnCheck");
    ASSERT_TRUE(WaitUntil([&] { return !window->Busy(); }));
    EXPECT_EQ(Text("StatusBarPanel"), "Last Results - unable to locate server");
    // What failed, in words, beside the result and in the tray's hint.
    const QString refused = "Error 10061 attempting connection (connection refused)";
    EXPECT_EQ(Text("StatusBarFailure"), refused);
    EXPECT_TRUE(window->TrayIcon().toolTip().endsWith("\n" + refused));
    EXPECT_TRUE(other.TryLock()) << "the scan kept the folder locked";
}

TEST_F(MainWindow, PreferencesApplyTheLoginAndReloadOnlyTheChangedLists) {
    MakeWindow();
    WriteFile(dir.File("GoodAddr.txt"), "jo@home.example\r\n");
    WriteFile(dir.File("spammers.txt"), "cheap-pills.example\r\n");
    ConfigData->Server = "pop.example.net:995";
    ConfigData->Login = "jo";
    ConfigData->Password = "secret";
    window->HideToTray();

    window->ApplyPreferences(true, false);
    EXPECT_EQ(Text("lblServerName"), "pop.example.net");
    EXPECT_EQ(window->Pop3Client().Host(), "pop.example.net");
    EXPECT_EQ(window->Pop3Client().Port(), "995");
    EXPECT_EQ(window->Pop3Client().PassWord(), "secret");
    EXPECT_EQ(ConfigData->GoodAddrList, std::vector<std::string>{"jo@home.example"});
    EXPECT_TRUE(ConfigData->SpammerList.empty());
    EXPECT_TRUE(window->HiddenToTray());
    EXPECT_FALSE(window->isVisible());

    window->ApplyPreferences(false, true);
    EXPECT_EQ(ConfigData->SpammerList, std::vector<std::string>{"cheap-pills.example"});
}

TEST_F(MainWindow, AboutBoxShowsTheVersionClosesWithEnterAndLeavesAHiddenWindowHidden) {
    MakeWindow();
    const struct {
        std::string version, shown;
    } versions[] = {{"2.2.0.1", "Version 2.2.0.1"}, {"", "Version 2.10"}};
    for (const auto& v : versions) {
        TAboutBox box(window.get(), v.version);
        box.show();
        EXPECT_EQ(box.windowTitle(), "About Morvandle");
        EXPECT_EQ(box.findChild<QLabel*>("ProductName")->text(), "Morvandle - Standard");
        EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), QString::fromStdString(v.shown));
    }

    window->HideToTray();
    bool closed = false;
    apptest::OnNextModal([&closed](QWidget* box) {
        closed = box->objectName() == "AboutBox";
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
    });
    Trigger("AboutMorvandle1");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(window->HiddenToTray());
    EXPECT_FALSE(window->isVisible());

    window->ShowMorvandle1Click();
    EXPECT_FALSE(window->HiddenToTray());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindow, FirstStartWithoutAServerAsksForOne) {
    const struct {
        std::string settings, entered; // typed into the preferences; empty: cancelled
        QString status;                // null: not asked
    } cases[] = {
        {"Server=mail.example.org\r\n", "", {}},
        {"", "", "No server is set: enter it in File > Preferences"},
        {"Login=jo\r\n", "pop.example.net", "Last Results - [none]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings + c.entered);
        std::filesystem::remove(IniPath());
        MakeWindow(c.settings);
        if (!c.status.isNull())
            apptest::OnNextModal([&](QWidget* dialog) {
                auto* edit = dialog->findChild<QLineEdit*>("editServerName");
                if (!c.entered.empty()) edit->setText(QString::fromStdString(c.entered));
                dialog->findChild<QPushButton*>(c.entered.empty() ? "btnCancel" : "btnOk")->click();
            });
        window->AskForServer();
        EXPECT_EQ(Text("StatusBarPanel"), c.status.isNull() ? "Last Results - [none]" : c.status);
        window.reset();
        DestroyConfigData();
    }
}

TEST_F(MainWindow, OpeningTheLogOrQuarantineSaysSoWhenTheDesktopCannot) {
    MakeWindow();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(dir.Path()));
    const struct {
        const char* item;
        std::string opener, box; // the xdg-open script (empty: none); the box said
    } cases[] = {
        {"ShowLogfile1", "",
         "Unable to open " + LogPath() +
             ":\r\nxdg-open could not be started (is xdg-utils installed?)"},
        {"OpenQuarantineFolder1", "exit 4",
         "Unable to open " + dir.Path() + ":\r\nxdg-open ended with status 4"},
        {"ShowLogfile1", "echo \"$1\" >" + dir.File("opened"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        boxes.clear();
        std::filesystem::remove(dir.File("xdg-open"));
        if (!c.opener.empty()) {
            WriteFile(dir.File("xdg-open"), "#!/bin/sh\n" + c.opener + "\n");
            std::filesystem::permissions(dir.File("xdg-open"), std::filesystem::perms::owner_all);
        }
        Trigger(c.item);
        // A success says nothing: the wait runs out.
        EXPECT_EQ(WaitUntil([&] { return !boxes.empty(); }, c.box.empty() ? 300 : 5000),
                  !c.box.empty());
        if (!c.box.empty()) {
            EXPECT_EQ(boxes[0].text, c.box);
        }
    }
    EXPECT_EQ(ReadFile(dir.File("opened")), LogPath() + "\n");
    qputenv("PATH", path);
}
