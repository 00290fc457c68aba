// The sign-in dialog of the preferences: one OAuth2 sign-in of an account, shown as it goes.

#include "formSignIn.h"

#include "formWizardWidgets.h"
#include "platform/WidgetText.h"
#include "signin/SignIn.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {

using wizard::Button;
using wizard::Edit;
using wizard::Named;

QLabel* WrappedLabel(const char* name) {
    auto* label = Named(new QLabel, name);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void SetShown(std::initializer_list<QWidget*> widgets, bool shown) {
    for (QWidget* widget : widgets)
        widget->setVisible(shown);
}

} // namespace

std::function<bool(const std::string&)> TfrmSignIn::UrlOpener = [](const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
};

TfrmSignIn::TfrmSignIn(QWidget* owner, const TAccountSettings& account) : QDialog(owner) {
    setObjectName(QStringLiteral("frmSignIn"));
    setWindowTitle(QStringLiteral("Sign In - ") + platform::WidgetText(account.Login));
    lblSignInText = WrappedLabel("lblSignInText");
    lblSignInText->setText(QStringLiteral("Starting the sign-in\u2026"));
    editSignInAddress = Edit("editSignInAddress");
    editSignInAddress->setReadOnly(true);
    btnOpenAddress = Button("&Open", "btnOpenAddress");
    lblUserCode = Named(new QLabel, "lblUserCode");
    lblUserCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont big = lblUserCode->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    lblUserCode->setFont(big);
    btnCopyCode = Button("&Copy", "btnCopyCode");
    lblSignInOutcome = WrappedLabel("lblSignInOutcome");
    btnSignInCancel = Button("Cancel", "btnSignInCancel");
    // Until the sign-in says what to open, there is nothing to open or copy.
    SetShown({editSignInAddress, btnOpenAddress, lblUserCode, btnCopyCode}, false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lblSignInText, 0, 0, 1, 2);
    grid->addWidget(editSignInAddress, 1, 0);
    grid->addWidget(btnOpenAddress, 1, 1);
    grid->addWidget(lblUserCode, 2, 0);
    grid->addWidget(btnCopyCode, 2, 1);
    grid->addWidget(lblSignInOutcome, 3, 0, 1, 2);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btnSignInCancel);
    grid->addLayout(row, 4, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(3, 1);
    setMinimumWidth(60 * fontMetrics().averageCharWidth());

    connect(btnOpenAddress, &QPushButton::clicked, this, [this] { btnOpenAddressClick(); });
    connect(btnCopyCode, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(lblUserCode->text()); });
    connect(btnSignInCancel, &QPushButton::clicked, this, &TfrmSignIn::reject);

    signIn_ = new signin::TSignIn(account, this);
    signIn_->OnShowCode = [this](const std::string& uri, const std::string& code) {
        ShowCode(uri, code);
    };
    signIn_->OnOpenUrl = [this](const std::string& url) { OpenUrl(url); };
    signIn_->OnDone = [this](const signin::TSignInResult& result) { Done(result); };
    signIn_->Start();
}

void TfrmSignIn::ShowCode(const std::string& uri, const std::string& code) {
    lblSignInText->setText(QStringLiteral("To sign in, open this address in a browser and enter "
                                          "the code below:"));
    editSignInAddress->setText(platform::WidgetText(uri));
    lblUserCode->setText(platform::WidgetText(code));
    SetShown({editSignInAddress, btnOpenAddress, lblUserCode, btnCopyCode}, true);
    lblSignInOutcome->setText(QStringLiteral("Waiting for you to finish signing in\u2026"));
    FitText();
}

void TfrmSignIn::OpenUrl(const std::string& url) {
    editSignInAddress->setText(platform::WidgetText(url));
    editSignInAddress->setCursorPosition(0);
    editSignInAddress->show();
    btnOpenAddress->show();
    // The address stays on show: the user may want it in another browser.
    lblSignInText->setText(UrlOpener(url)
                               ? QStringLiteral("Signing in: a browser window opened; finish "
                                                "signing in there.")
                               : QStringLiteral("No browser could be started: open this address "
                                                "in a browser on this computer."));
    lblSignInOutcome->setText(QStringLiteral("Waiting for you to finish signing in\u2026"));
    FitText();
}

void TfrmSignIn::Done(const signin::TSignInResult& result) {
    lblSignInOutcome->setText(platform::WidgetText(result.text));
    btnSignInCancel->setText(QStringLiteral("Close"));
    btnSignInCancel->setDefault(true);
    FitText();
}

void TfrmSignIn::btnOpenAddressClick() {
    if (!UrlOpener(editSignInAddress->text().toStdString()))
        lblSignInOutcome->setText(
            QStringLiteral("No browser could be started: open the address yourself."));
    FitText();
}

// A window's layout does not grow it for wrapped lines: it is grown here to the height its
// texts take at its width.
void TfrmSignIn::FitText() {
    layout()->activate();
    const int height = layout()->totalHeightForWidth(width());
    setMinimumHeight(height);
    if (height > this->height()) resize(width(), height);
}

void TfrmSignIn::reject() {
    signIn_->Cancel();
    QDialog::reject();
}
