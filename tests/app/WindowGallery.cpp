// Opens one of the program's windows, filled with long values, at the font size and in the
// palette asked for, so that scripts/screenshot can take its picture on a real display:
//   window_gallery main|about|server|addresses|spammers|update|results|quarantine|signin <points> [dark]
// Its settings and files live in a temporary folder of their own.

#include "app/AboutMorvandle.h"
#include "app/DesktopDialogs.h"
#include "app/formMain.h"
#include "app/formQuarantine.h"
#include "app/formResults.h"
#include "config/dataConfig.h"
#include "config/formSignIn.h"
#include "config/formWizard.h"
#include "platform/Paths.h"
#include "screening/Quarantine.h"
#include "support/OAuth2TestServer.h"
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

// A check's results with long values and every verdict.
std::vector<TResultGroup> SampleResults() {
    const struct {
        screening::TVerdict::Kind kind;
        const char *entry, *from, *subject;
    } rows[] = {
        {screening::TVerdict::Spammer, "cheap-pills.example",
         "\"Pharmacy Outlet\" <offers@mail.cheap-pills.example>",
         "=?UTF-8?Q?Gro=C3=9Fe_Rabatte?= on everything you never needed"},
        {screening::TVerdict::UnknownSender, "", "someone@nowhere.example", "Hello?"},
        {screening::TVerdict::Ok, "a-rather-long-provider-name.example.com",
         "=?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@a-rather-long-provider-name.example.com>",
         "Minutes of Tuesday's meeting"},
        {screening::TVerdict::CheckSkipped, "", "news@list.example", "Weekly digest"},
    };
    TResultGroup group;
    int number = 0;
    for (const auto& r : rows) {
        screening::TVerdict v;
        v.kind = r.kind;
        v.entry = r.entry;
        v.headerLine = v.entry.empty() ? -1 : 0;
        ++number;
        group.results.push_back(screening::MakeScanResult(
            number, "uid" + std::to_string(number), 2048 * number,
            {std::string("From: ") + r.from, std::string("Subject: ") + r.subject,
             "Date: Tue, 8 Dec 2026 09:1" + std::to_string(number) + ":00 +0100"},
            v));
    }
    return {group};
}

// Two kept messages in the program folder's quarantine.
void SampleQuarantine() {
    for (const char* from :
         {"\"Pharmacy Outlet\" <offers@mail.cheap-pills.example>", "someone@nowhere.example"}) {
        screening::TQuarantineCopy copy(screening::QuarantinePath(), QDateTime::currentDateTime());
        for (const std::string& line :
             {std::string("From: ") + from, std::string("Subject: Great offers for you"),
              std::string(), std::string("Body")})
            copy.AddLine(line);
        copy.Commit();
    }
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
    // The sign-in window waits on this server's device sign-in, which stays pending.
    testsupport::OAuth2TestServer authority;
    authority.SetDeviceInterval(60);
    authority.ScriptDeviceAnswers(std::vector<std::string>(100, "authorization_pending"));
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
        } else if (which == "results") {
            auto results = std::make_unique<TfrmResults>(&main);
            results->ShowResults(SampleResults());
            shown = std::move(results);
        } else if (which == "quarantine") {
            SampleQuarantine();
            shown = std::make_unique<TfrmQuarantine>(
                &main, std::vector<TQuarantineSource>{{"Main", screening::QuarantinePath()}},
                [](const std::string&) {});
        } else if (which == "signin") {
            TAccountSettings account = *ConfigData;
            account.Auth = "xoauth2";
            account.OAuth2Provider = "custom";
            account.OAuth2ClientId = "client";
            account.OAuth2DeviceUrl = authority.DeviceUrl();
            account.OAuth2TokenUrl = authority.TokenUrl();
            shown = std::make_unique<TfrmSignIn>(&main, account);
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
