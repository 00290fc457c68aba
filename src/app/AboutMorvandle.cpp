#include "AboutMorvandle.h"

#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

constexpr int kHelpContext = 60;

QLabel* TitleLabel(const char* name, const char* text) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    label->setFont(font);
    label->setStyleSheet("color: #0000c0;");
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
    setFixedSize(298, 228);
    // Centred on the screen, not on the main window, which may be hidden in the tray.
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    move(screen->availableGeometry().center() - rect().center());

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
}
