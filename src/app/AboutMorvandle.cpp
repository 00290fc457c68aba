#include "AboutMorvandle.h"

#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kHelpContext = 60;

QLabel* TitleLabel(const char* name, const char* text) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    label->setFont(font);
    // The palette's link colour stands out as the titles should, on light and dark themes.
    label->setForegroundRole(QPalette::Link);
    return label;
}

} // namespace

TAboutBox::TAboutBox(QWidget* owner, std::string versionText)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      versionText_(std::move(versionText)) {
    setObjectName("AboutBox");
    setWindowTitle("About Morvandle");
    setWindowIcon(QIcon(":/icons/morvandle.png"));

    auto* panel = new QFrame;
    panel->setObjectName("Panel1");
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(2);

    auto* icon = new QLabel;
    icon->setObjectName("ProgramIcon");
    icon->setPixmap(QIcon(":/icons/morvandle.png").pixmap(33, 33));
    icon->setFixedSize(33, 33);
    productName_ = TitleLabel("ProductName", "Morvandle");
    version_ = TitleLabel("Version", "Version 2.10");
    auto* comments = new QLabel(
        "Morvandle is dedicated to freeing your mailbox (and in part the internet) from all "
        "of the GARBAGE SPAM that is commonly invading your mailbox.");
    comments->setObjectName("Comments");
    comments->setWordWrap(true);

    auto* titles = new QVBoxLayout;
    titles->addWidget(productName_);
    titles->addWidget(version_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(titles, 1);
    auto* inner = new QVBoxLayout(panel);
    inner->addLayout(top);
    inner->addSpacing(6);
    inner->addWidget(comments);
    inner->addStretch();

    auto* ok = new QPushButton("&OK");
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); }); // OKButtonClick
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();

    auto* column = new QVBoxLayout(this);
    column->addWidget(panel);
    column->addLayout(buttons);
    FitText();

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this,
            [] { platform::Guarded([] { platform::ShowHelpContext(kHelpContext); }); });
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TAboutBox::FormShow() {
    setWindowTitle("About Morvandle");
    productName_->setText("Morvandle - Standard");
    version_->setText(versionText_.empty() ? QString("Version 2.10")
                                           : QString::fromStdString("Version " + versionText_));
    FitText();
}

// The classic size, or as much wider as the titles need and as much higher as the comment
// needs, wrapped in that width.
void TAboutBox::FitText() {
    // The texts have just changed: their layouts take the new sizes now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const int width = std::max(298, minimumSizeHint().width());
    const QSize size(width, std::max(228, heightForWidth(width)));
    setFixedSize(size);
    // Centred on the screen, not on the main window, which may be hidden in the tray.
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    move(screen->availableGeometry().center() - rect().center());
}
