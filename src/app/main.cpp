// morvandle: the desktop program.

#include "DesktopDialogs.h"
#include "HelpViewer.h"
#include "SingleInstance.h"
#include "formMain.h"

#include "config/dataConfig.h"
#include "platform/AtomicFile.h"
#include "platform/ErrorReport.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    // The guard is named after the program file as started, before the title is set.
    TSingleInstance guard(RuntimeFolder(), DefaultTitle(QString::fromLocal8Bit(argv[0])));
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(":/icons/morvandle.png"));
    // The window hides in the tray and boxes come and go while it is hidden: the program
    // ends when the window is closed, not when no window is visible.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallDesktopHandlers();
    const bool first = guard.Acquire();

    // An unreadable settings file has been reported and the end asked for by now.
    platform::RemoveStaleTempFiles(platform::ProgramDir()); // left by saves killed half way
    platform::RemoveStaleTempFiles(platform::FolderOf(platform::SettingsFilePath()));
    CreateConfigData();
    int status = 0;
    {
        std::unique_ptr<TfrmMain> frmMain;
        platform::Guarded([&] { frmMain = std::make_unique<TfrmMain>(); });
        if (!frmMain) {
            DestroyConfigData();
            return 1;
        }
        if (first) {
            guard.OnActivate = [&frmMain] { frmMain->BringToFront(); };
            frmMain->OnClosed = [] { QApplication::quit(); };
            // Shown once the loop runs, so that an end asked for already comes first.
            QTimer::singleShot(0, frmMain.get(), [&frmMain] {
                frmMain->CentreOnScreen();
                frmMain->show();
                platform::Guarded([&frmMain] { frmMain->AskForServer(); });
            });
        } else {
            // The first copy has been called; this one ends through its loop, so its window
            // is made and goes again, writing its start and termination lines.
            QTimer::singleShot(0, &app, [] { QApplication::quit(); });
        }
        status = app.exec();
        guard.OnActivate = nullptr;
        CloseHelpViewer();
    }
    DestroyConfigData();
    return status;
}
