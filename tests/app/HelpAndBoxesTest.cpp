// Help requests and pages, and the desktop's message boxes.

#include "AppTestSupport.h"

#include "app/DesktopDialogs.h"
#include "app/HelpViewer.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTextBrowser>
#include <filesystem>

using apptest::WindowFixture;

namespace {

using Help = WindowFixture;

bool SameRequest(const platform::HelpRequest& a, const platform::HelpRequest& b) {
    return a.contents == b.contents && (a.contents || a.context == b.context);
}

} // namespace

TEST_F(Help, MenuItemsAskForTheirTopics) {
    MakeWindow();
    std::vector<platform::HelpRequest> requests;
    platform::ScopedHelpHandler handler(
        [&requests](const platform::HelpRequest& r) { requests.push_back(r); });
    const struct {
        const char* item;
        platform::HelpRequest request;
    } cases[] = {
        {"Contents1", {true, 0}},
        {"WhatsNew1", {false, 80}},
        {"Support1", {false, 60}},
        {"FAQ1", {false, 110}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        requests.clear();
        Trigger(c.item);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(SameRequest(requests[0], c.request));
    }
}

TEST_F(Help, EachContextOpensItsPageAndMissingPagesAreReported) {
    std::filesystem::copy(MORVANDLE_HELP_PAGES, dir.File("help"));
    const struct {
        platform::HelpRequest request;
        const char* page;
    } cases[] = {
        {{true, 0}, "index.html"},         {{false, 30}, "preferences.html"},
        {{false, 40}, "main-window.html"}, {{false, 60}, "support.html"},
        {{false, 80}, "whats-new.html"},   {{false, 100}, "spammers-update.html"},
        {{false, 110}, "faq.html"},        {{false, 7}, "index.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        ShowHelpPage(c.request);
        THelpViewer* viewer = OpenHelpViewer();
        ASSERT_NE(viewer, nullptr);
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->Browser().source().fileName(), c.page);
        EXPECT_FALSE(viewer->Browser().documentTitle().isEmpty());
        // Every link between the pages leads to a page that exists.
        const QString html = viewer->Browser().toHtml();
        static const QRegularExpression link(R"(href="([^"#:]+\.html))");
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(dir.File("help/")) + target))
                << target.toStdString();
        }
    }
    EXPECT_TRUE(boxes.empty());
    CloseHelpViewer();
    ASSERT_TRUE(testsupport::WaitUntil([] { return OpenHelpViewer() == nullptr; }));

    std::filesystem::remove_all(dir.File("help"));
    ShowHelpPage({false, 40});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The help pages are not installed: " + dir.File("help") +
                                 "/main-window.html was not found.");
    EXPECT_EQ(OpenHelpViewer(), nullptr);
}

TEST(DesktopMessageBox, ShowsTheRequestAndReturnsTheButtonPressed) {
    using platform::TMsgDlgType;
    const struct {
        unsigned buttons;
        QMessageBox::StandardButton press; // NoButton: closed without a button
        int result;
        TMsgDlgType type;
        const char* caption;
        QMessageBox::Icon icon;
    } cases[] = {
        {platform::mbYes | platform::mbNo, QMessageBox::No, platform::mrNo,
         TMsgDlgType::mtConfirmation, "Confirm", QMessageBox::Question},
        {platform::mbYes | platform::mbNo, QMessageBox::Yes, platform::mrYes,
         TMsgDlgType::mtWarning, "Warning", QMessageBox::Warning},
        {platform::mbOK, QMessageBox::Ok, platform::mrOk, TMsgDlgType::mtInformation, "Information",
         QMessageBox::Information},
        {platform::mbOK | platform::mbCancel, QMessageBox::NoButton, platform::mrCancel,
         TMsgDlgType::mtError, "Error", QMessageBox::Critical},
        {platform::mbAbort | platform::mbRetry | platform::mbIgnore, QMessageBox::Retry,
         platform::mrRetry, TMsgDlgType::mtCustom, kApplicationTitle, QMessageBox::NoIcon},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        apptest::OnNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            if (c.press == QMessageBox::NoButton)
                box->reject();
            else
                box->button(c.press)->click();
        });
        const int result = ShowMessageBox({"Line one\r\nline <two>", c.type, c.buttons});
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(caption, c.caption);
        EXPECT_EQ(text, "Line one\r\nline <two>");
        EXPECT_EQ(icon, c.icon);
    }
}
