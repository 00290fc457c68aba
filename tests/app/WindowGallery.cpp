// Opens one of the program's windows, filled with long values, at the font size and in the
// palette asked for, so that scripts/screenshot can take its picture on a real display:
//   window_gallery main|about|server|addresses|spammers|update <points> [dark]
// Its settings and files live in a temporary folder of their own.

#include "app/AboutMorvandle.h"
#include "app/DesktopDialogs.h"
#include "app/formMain.h"
#include "config/dataConfig.h"
#include "config/formWizard.h"
#include "platform/Paths.h"
#include "update/formFtp.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

QPalette DarkPalette() {
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(61, 142, 201));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(120, 180, 255));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return p;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_gallery WINDOW POINTS [dark]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPointSizeF(std::atof(argv[2]));
    QApplication::setFont(font);
    if (argc > 3 && std::strcmp(argv[3], "dark") == 0) {
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(DarkPalette());
    }
    InstallDesktopHandlers();
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    platform::SetProgramDirOverride(folder);
    platform::SetSettingsFileOverride(folder + "/Morvandle.ini");
    QFile ini(QString::fromStdString(folder + "/Morvandle.ini"));
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write("[Config]\r\nServer=pop.mail.a-rather-long-provider-name.example.com:995\r\n"
              "Login=someone.with.a.long.name@a-rather-long-provider-name.example.com\r\n"
              "Security=1\r\n");
    ini.close();
    CreateConfigData();
    int status = 0;
    {
        TfrmMain main;
        const std::string which = argv[1];
        std::unique_ptr<QWidget> shown;
        if (which == "main") {
            main.SetConnectionStatus("Connection inactive");
            main.SetActivity("Scanning Completed - No Spam found in the 500 messages checked");
            main.SetStatusBar("Last Results - 500 Checked, 480 OK'd, 20 Eaten");
            main.CentreOnScreen(); // as the program starts it
            main.show();
        } else if (which == "about") {
            shown = std::make_unique<TAboutBox>(&main, MORVANDLE_VERSION);
        } else if (which == "update") {
            shown = std::make_unique<TfrmFtp>(&main, main.LogFile());
        } else {
            auto wizard = std::make_unique<TfrmWizard>(&main);
            const int page = which == "addresses" ? 1 : which == "spammers" ? 2 : 0;
            // After its showing, which turns to the first page.
            QTimer::singleShot(0, wizard.get(), [tabs = wizard->findChild<QTabWidget*>(), page] {
                tabs->setCurrentIndex(page);
            });
            shown = std::move(wizard);
        }
        if (shown) shown->show();
        status = app.exec();
    }
    DestroyConfigData();
    return status;
}
