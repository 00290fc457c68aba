// Every window at the font sizes people use: no text cut off, each control its own
// accelerator, the preferences dialog within a small screen, help usable over a dialog.

#include "AppTestSupport.h"

#include "app/AboutMorvandle.h"
#include "app/DesktopDialogs.h"
#include "app/HelpViewer.h"
#include "config/formWizard.h"
#include "update/formFtp.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>
#include <filesystem>
#include <map>

using apptest::WindowFixture;

namespace {

// The application font at `points` for one test.
struct FontSize {
    QFont old = QApplication::font();
    explicit FontSize(double points) {
        QFont font = old;
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    ~FontSize() { QApplication::setFont(old); }
};

// The shown labels of `window` whose text does not fit them; labels that elide on purpose
// are left out.
std::vector<std::string> CutLabels(QWidget* window) {
    std::vector<std::string> cut;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty() ||
            label->property("elides").toBool())
            continue;
        const QRect room = label->contentsRect();
        const QSize need = label->wordWrap()
                               ? QSize(0, label->heightForWidth(label->width()))
                               : label->fontMetrics().size(Qt::TextShowMnemonic, label->text());
        if (need.width() > room.width() || need.height() > label->height())
            cut.push_back(label->text().toStdString());
    }
    return cut;
}

// The accelerator letters of the shown labels and buttons that appear more than once.
std::vector<char> ClashingAccelerators(QWidget* window) {
    std::map<QChar, int> uses;
    auto count = [&uses](const QString& text) {
        const qsizetype at = text.indexOf('&');
        if (at >= 0 && at + 1 < text.size() && text[at + 1] != '&') ++uses[text[at + 1].toLower()];
    };
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->isVisibleTo(window) && label->buddy()) count(label->text());
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(window)) count(button->text());
    std::vector<char> clashes;
    for (const auto& [letter, n] : uses)
        if (n > 1) clashes.push_back(letter.toLatin1());
    return clashes;
}

void Settle(QWidget* window) {
    window->show();
    QApplication::processEvents();
}

using Windows = WindowFixture;

} // namespace

TEST_F(Windows, EveryLabelShowsItsWholeTextAndEveryAcceleratorIsUnique) {
    for (const double points : {9.0, 12.0}) {
        SCOPED_TRACE(points);
        FontSize font(points);
        MakeWindow("Server=mail.example.org\r\n");
        const auto check = [](QWidget* w, const std::string& name) {
            Settle(w);
            EXPECT_EQ(CutLabels(w), std::vector<std::string>{}) << name;
            EXPECT_EQ(ClashingAccelerators(w), std::vector<char>{}) << name;
        };
        check(window.get(), "main window");
        {
            TAboutBox about(window.get(), "1.0");
            check(&about, "About box");
            TfrmWizard wizard(window.get());
            auto* pages = wizard.findChild<QTabWidget*>("pgctrlPreferences");
            for (int i = 0; i < pages->count(); ++i) {
                pages->setCurrentIndex(i);
                check(&wizard, pages->tabText(i).toStdString());
            }
            TfrmFtp update(window.get(), window->LogFile());
            check(&update, "update");
        }
        window.reset();
        DestroyConfigData();
    }
}

TEST_F(Windows, PreferencesFitAScreenTooSmallForTheirFont) {
    FontSize font(26); // an 800-pixel screen at a scale of 2 is as small for these pages
    MakeWindow();
    TfrmWizard wizard(window.get());
    Settle(&wizard);
    const QRect screen = wizard.screen()->availableGeometry();
    EXPECT_LE(wizard.height(), screen.height());
    EXPECT_LE(wizard.width(), screen.width());
    auto* ok = wizard.findChild<QWidget*>("btnOk");
    EXPECT_LE(ok->mapTo(&wizard, QPoint(0, ok->height())).y(), wizard.height());
}

TEST_F(Windows, HelpOverAModalDialogOrBoxIsOneOfItsWindowsAndOutlivesIt) {
    std::filesystem::copy(MORVANDLE_HELP_PAGES, dir.File("help"));
    platform::ScopedHelpHandler help(ShowHelpPage);
    QDialog dialog;
    std::vector<QWidget*> owners; // over the dialog, over a box on it, after the box
    apptest::OnNextModal([&](QWidget*) {
        platform::ShowHelpContext(30);
        owners.push_back(OpenHelpViewer()->parentWidget());
        apptest::OnNextModal([&](QWidget* box) {
            // The box's Help, then the box again with the viewer on it.
            static_cast<QMessageBox*>(box)->button(QMessageBox::Help)->click();
            apptest::OnNextModal([&](QWidget* again) {
                ASSERT_TRUE(testsupport::WaitUntil(
                    [&] { return OpenHelpViewer() && OpenHelpViewer()->parentWidget() == again; }));
                owners.push_back(again);
                static_cast<QMessageBox*>(again)->button(QMessageBox::Ok)->click();
                owners.push_back(OpenHelpViewer()->parentWidget());
                dialog.done(0);
            });
        });
        ShowMessageBox({"Sure?", platform::TMsgDlgType::mtConfirmation,
                        platform::mbOK | platform::mbHelp, 30});
    });
    dialog.exec();
    ASSERT_EQ(owners.size(), 3u);
    EXPECT_EQ(owners[0], &dialog); // else the dialog's modality blocks it
    EXPECT_EQ(owners[2], &dialog);
    // The dialog's end leaves it a window of its own.
    ASSERT_NE(OpenHelpViewer(), nullptr);
    EXPECT_EQ(OpenHelpViewer()->parentWidget(), nullptr);
    EXPECT_TRUE(OpenHelpViewer()->isVisible());
    CloseHelpViewer();
}
