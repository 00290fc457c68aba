// Times the preferences dialog on a 100,000-entry spammers list: opening it (filling and
// first paint), adding one search string (with the repaint), and OK (saving the list and
// the settings). Runs offscreen unless a display platform is chosen.
#include "config/dataConfig.h"
#include "config/formWizard.h"
#include "platform/Paths.h"
#include "support/ListFolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

namespace {

using benchsupport::MillisecondsOf;

constexpr int kLines = 100000;
constexpr int kRounds = 5;

template <class Widget> Widget* Find(QWidget* dialog, const char* name) {
    return dialog->findChild<Widget*>(QString::fromLatin1(name));
}

int Run() {
    QTemporaryDir dir;
    std::string folder = dir.path().toStdString();
    benchsupport::UseListFolder(folder, kLines);

    for (int round = 1; round <= kRounds; ++round) {
        LoadSpammerList(); // as the main window does after each save
        std::unique_ptr<TfrmWizard> dialog;
        const double openMs = MillisecondsOf([&] {
            dialog = std::make_unique<TfrmWizard>();
            dialog->show();
            Find<QTabWidget>(dialog.get(), "pgctrlPreferences")->setCurrentIndex(2);
            QApplication::processEvents();
        });
        const double addMs = MillisecondsOf([&] {
            Find<QLineEdit>(dialog.get(), "editSpammerAddress")
                ->setText(QStringLiteral("Added-In-Round-%1.example").arg(round));
            Find<QAbstractButton>(dialog.get(), "btnSpammerAdd")->click();
            QApplication::processEvents();
        });
        const double saveMs =
            MillisecondsOf([&] { Find<QAbstractButton>(dialog.get(), "btnOk")->click(); });
        std::printf("round %d: %zu entries: open %.1f ms, add one %.1f ms, save %.1f ms\n", round,
                    ConfigData->SpammerList.size(), openMs, addMs, saveMs);
    }
    DestroyConfigData();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return Run();
}
