// Every window at the font sizes people use: no text cut off, each control its own
// accelerator, the preferences dialog within a small screen, help usable over a dialog.

#include "AppTestSupport.h"

#include "app/AboutMorvandle.h"
#include "app/HelpViewer.h"
#include "config/formWizard.h"
#include "update/formFtp.h"

#include <QAbstractButton>
#include <QDialog>
#include <QScreen>
#include <QTabWidget>
#include <filesystem>
#include <set>

namespace {

struct Windows : apptest::WindowFixture {
    QFont old = QApplication::font();
    void TearDown() override {
        QApplication::setFont(old);
        WindowFixture::TearDown();
    }
    void MakeWindowAt(double points) {
        QFont font = old;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        MakeWindow("Server=mail.example.org\r\n");
    }
};

// The shown labels whose text does not fit them (but those that elide on purpose), and the
// accelerator letters used twice among the shown labels and buttons.
std::vector<std::string> Faults(QWidget* window) {
    window->show();
    QApplication::processEvents();
    std::vector<std::string> faults;
    std::set<QChar> letters;
    const auto accelerator = [&](const QString& text) {
        const qsizetype at = text.indexOf('&');
        if (at >= 0 && at + 1 < text.size() && !letters.insert(text[at + 1].toLower()).second)
            faults.push_back("accelerator " + text.toStdString());
    };
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->property("elides").toBool()) continue;
        const QSize need = label->wordWrap()
                               ? QSize(0, label->heightForWidth(label->width()))
                               : label->fontMetrics().size(Qt::TextShowMnemonic, label->text());
        if (need.width() > label->contentsRect().width() || need.height() > label->height())
            faults.push_back("cut " + label->text().toStdString());
        if (label->buddy()) accelerator(label->text());
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(window)) accelerator(button->text());
    return faults;
}

} // namespace

TEST_F(Windows, EveryLabelShowsItsWholeTextAndEveryAcceleratorIsUnique) {
    for (const double points : {9.0, 12.0}) {
        SCOPED_TRACE(points);
        MakeWindowAt(points);
        EXPECT_EQ(Faults(window.get()), std::vector<std::string>{});
        {
            TAboutBox about(window.get(), "1.0");
            EXPECT_EQ(Faults(&about), std::vector<std::string>{});
            TfrmWizard wizard(window.get());
            auto* pages = wizard.findChild<QTabWidget*>("pgctrlPreferences");
            for (int i = 0; i < pages->count(); ++i) {
                pages->setCurrentIndex(i);
                EXPECT_EQ(Faults(&wizard), std::vector<std::string>{}) << i;
            }
            TfrmFtp update(window.get(), window->LogFile());
            EXPECT_EQ(Faults(&update), std::vector<std::string>{});
        }
        window.reset();
        DestroyConfigData();
    }
}

TEST_F(Windows, PreferencesFitAScreenTooSmallForTheirFont) {
    MakeWindowAt(26); // an 800-pixel screen at a scale of 2 is as small for these pages
    TfrmWizard wizard(window.get());
    wizard.show();
    const QRect screen = wizard.screen()->availableGeometry();
    EXPECT_LE(wizard.height(), screen.height());
    EXPECT_LE(wizard.width(), screen.width());
    auto* ok = wizard.findChild<QWidget*>("btnOk");
    EXPECT_LE(ok->mapTo(&wizard, QPoint(0, ok->height())).y(), wizard.height());
}

TEST_F(Windows, HelpOverAModalDialogIsOneOfItsWindowsAndOutlivesIt) {
    std::filesystem::copy(MORVANDLE_HELP_PAGES, dir.File("help"));
    QDialog dialog;
    QWidget* owner = nullptr;
    apptest::OnNextModal([&](QWidget*) {
        ShowHelpPage({false, 30});
        owner = OpenHelpViewer()->parentWidget(); // else the dialog's modality blocks it
        dialog.done(0);
    });
    dialog.exec();
    EXPECT_EQ(owner, &dialog);
    ASSERT_NE(OpenHelpViewer(), nullptr);
    EXPECT_EQ(OpenHelpViewer()->parentWidget(), nullptr);
    EXPECT_TRUE(OpenHelpViewer()->isVisible());
    CloseHelpViewer();
}
