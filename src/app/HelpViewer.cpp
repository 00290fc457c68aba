#include "HelpViewer.h"

#include "platform/FileInfo.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

namespace {

constexpr std::pair<int, const char*> kPages[] = {
    {30, "preferences.html"}, {40, "main-window.html"},      {60, "support.html"},
    {80, "whats-new.html"},   {100, "spammers-update.html"}, {110, "faq.html"},
};

QPointer<THelpViewer>& Viewer() {
    static QPointer<THelpViewer> viewer;
    return viewer;
}

// Makes the viewer a window of `owner` (null: of its own), keeping it where it is. A dialog's
// end hands it on to the dialog below, or lets it stand alone: it outlives the dialog.
void Reparent(QWidget* owner) {
    THelpViewer* viewer = Viewer();
    const QPoint at = viewer->pos();
    const bool shown = viewer->isVisible();
    viewer->setParent(owner, Qt::Window); // hides it
    viewer->move(at);
    if (shown) viewer->show();
    if (auto* dialog = qobject_cast<QDialog*>(owner))
        QObject::connect(
            dialog, &QDialog::finished, viewer,
            [viewer] {
                if (viewer->parentWidget() != QApplication::activeModalWidget())
                    Reparent(QApplication::activeModalWidget());
            },
            Qt::SingleShotConnection);
}

} // namespace

std::string HelpPagesDir() {
    return platform::SharedFilesDir() + "/help";
}

std::string HelpPageFor(const platform::HelpRequest& request) {
    if (!request.contents)
        for (const auto& [context, page] : kPages)
            if (context == request.context) return page;
    return "index.html";
}

void ShowHelpPage(const platform::HelpRequest& request) {
    const std::string path = HelpPagesDir() + "/" + HelpPageFor(request);
    if (!platform::FileExists(path)) {
        platform::MessageDlg("The help pages are not installed: " + path + " was not found.",
                             platform::TMsgDlgType::mtError, platform::mbOK);
        return;
    }
    // A modal dialog blocks every window but its own: over one, the viewer becomes one of
    // its windows, so that it can be read and used while the dialog stays open.
    QWidget* owner = QApplication::activeModalWidget();
    if (!Viewer()) {
        Viewer() = new THelpViewer;
        const QRect screen = Viewer()->screen()->availableGeometry();
        Viewer()->move(screen.center() - Viewer()->rect().center());
    }
    if (Viewer()->parentWidget() != owner) Reparent(owner);
    Viewer()->Open(path);
    Viewer()->show();
    Viewer()->raise();
    Viewer()->activateWindow();
}

THelpViewer* OpenHelpViewer() {
    return Viewer();
}

void CloseHelpViewer() {
    if (Viewer()) Viewer()->close();
}

THelpViewer::THelpViewer() : browser_(new QTextBrowser) {
    setObjectName("HelpViewer");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(":/icons/morvandle.png"));
    browser_->setObjectName("HelpBrowser");
    browser_->setOpenExternalLinks(true); // web links go to the desktop's browser
    connect(browser_, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle("Morvandle Help - " + browser_->documentTitle()); });

    auto* contents = new QPushButton("&Contents");
    auto* back = new QPushButton("&Back");
    auto* close = new QPushButton("C&lose");
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, [this] {
        browser_->setSource(
            QUrl::fromLocalFile(QString::fromStdString(HelpPagesDir()) + "/index.html"));
    });
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(browser_);
    resize(640, 560);
}

void THelpViewer::Open(const std::string& path) {
    browser_->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
}
