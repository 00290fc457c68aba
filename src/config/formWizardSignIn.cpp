// The preferences dialog's login method: how the shown account logs in, the OAuth2 provider
// and client, and its sign-in.

#include "formWizard.h"

#include "dataConfig.h"
#include "formSignIn.h"
#include "formWizardWidgets.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <iterator>

namespace {

using wizard::Button;
using wizard::Edit;
using wizard::LabelFor;
using wizard::Named;

// The values of Auth and OAuth2Provider in the order of their items.
constexpr const char* kAuthValues[] = {"user", "apop", "plain", "xoauth2", "oauthbearer"};
constexpr const char* kProviderValues[] = {"microsoft", "google", "custom"};

template <size_t N> int IndexOf(const char* const (&values)[N], const std::string& value) {
    for (size_t i = 0; i < N; ++i)
        if (value == values[i]) return int(i);
    return -1;
}

// No preset, or one the file names that is not known, works as Custom does.
int ProviderIndex(const std::string& value) {
    const int index = IndexOf(kProviderValues, value);
    return index < 0 ? int(std::size(kProviderValues)) - 1 : index;
}

} // namespace

void TfrmWizard::BuildLoginMethod(QGridLayout* grid, int row) {
    cmbAuth = Named(new QComboBox, "cmbAuth");
    cmbAuth->addItems({QStringLiteral("Password (USER/PASS)"), QStringLiteral("APOP"),
                       QStringLiteral("SASL PLAIN"), QStringLiteral("OAuth2 (XOAUTH2)"),
                       QStringLiteral("OAuth2 (OAUTHBEARER)")});
    cmbOAuth2Provider = Named(new QComboBox, "cmbOAuth2Provider");
    cmbOAuth2Provider->addItems(
        {QStringLiteral("Microsoft"), QStringLiteral("Google"), QStringLiteral("Custom")});
    cmbOAuth2Provider->setToolTip(
        QStringLiteral("Microsoft and Google fill in the sign-in addresses and scope; for\n"
                       "Custom set them in Morvandle.ini (see the README)."));
    editOAuth2ClientId = Edit("editOAuth2ClientId");
    editOAuth2ClientId->setToolTip(
        QStringLiteral("The id of the client you registered with your mail provider."));
    btnSignIn = Button("Si&gn in\u2026", "btnSignIn");

    grid->addWidget(LabelFor("Login metho&d:", cmbAuth), row, 1);
    grid->addWidget(cmbAuth, row + 1, 1);
    grid->addWidget(LabelFor("OAuth2 pro&vider:", cmbOAuth2Provider), row + 2, 0);
    grid->addWidget(LabelFor("OAuth2 clien&t ID:", editOAuth2ClientId), row + 2, 1);
    grid->addWidget(cmbOAuth2Provider, row + 3, 0);
    auto* client = new QHBoxLayout;
    client->addWidget(editOAuth2ClientId, 1);
    client->addWidget(btnSignIn);
    grid->addLayout(client, row + 3, 1);

    connect(cmbAuth, &QComboBox::activated, this, [this] {
        settingsChanged_ = true;
        EnableLoginMethod();
    });
    connect(cmbOAuth2Provider, &QComboBox::activated, this, [this] { settingsChanged_ = true; });
    connect(editOAuth2ClientId, &QLineEdit::textChanged, this, [this] { settingsChanged_ = true; });
    connect(btnSignIn, &QPushButton::clicked, this, [this] { btnSignInClick(); });
}

void TfrmWizard::ShowLoginMethod() {
    loginMethodShown_ = {ConfigData->Auth, ConfigData->OAuth2Provider, ConfigData->OAuth2ClientId};
    cmbAuth->setCurrentIndex(std::max(0, IndexOf(kAuthValues, ConfigData->Auth)));
    cmbOAuth2Provider->setCurrentIndex(ProviderIndex(ConfigData->OAuth2Provider));
    const bool changed = settingsChanged_;
    Fill(editOAuth2ClientId, ConfigData->OAuth2ClientId, clientId_);
    settingsChanged_ = changed;
    EnableLoginMethod();
}

void TfrmWizard::TakeLoginMethod(TAccountSettings& account) const {
    account.Auth = kAuthValues[cmbAuth->currentIndex()];
    // An unknown provider the file names stays as it is unless another is chosen.
    const int provider = cmbOAuth2Provider->currentIndex();
    account.OAuth2Provider = provider == ProviderIndex(loginMethodShown_.OAuth2Provider)
                                 ? loginMethodShown_.OAuth2Provider
                                 : kProviderValues[provider];
    account.OAuth2ClientId = Taken(editOAuth2ClientId, clientId_);
}

// Only what the dialog changed is written: a file that never named these keys keeps not
// naming them, and one the user wrote by hand keeps its spelling.
void TfrmWizard::WriteLoginMethod() {
    const platform::ProfileFile ini(platform::SettingsFilePath());
    const std::string& section = ConfigData->AccountSection;
    const TLoginMethod& shown = loginMethodShown_;
    if (ConfigData->Auth != shown.Auth) ini.WriteString(section, "Auth", ConfigData->Auth);
    if (ConfigData->OAuth2Provider != shown.OAuth2Provider)
        ini.WriteString(section, "OAuth2Provider", ConfigData->OAuth2Provider);
    if (ConfigData->OAuth2ClientId != shown.OAuth2ClientId)
        ini.WriteString(section, "OAuth2ClientId", ConfigData->OAuth2ClientId);
    loginMethodShown_ = {ConfigData->Auth, ConfigData->OAuth2Provider, ConfigData->OAuth2ClientId};
}

void TfrmWizard::EnableLoginMethod() {
    const int auth = cmbAuth->currentIndex();
    const bool oauth2 =
        auth == IndexOf(kAuthValues, "xoauth2") || auth == IndexOf(kAuthValues, "oauthbearer");
    for (QWidget* widget :
         std::initializer_list<QWidget*>{cmbOAuth2Provider, editOAuth2ClientId, btnSignIn})
        widget->setEnabled(oauth2);
    // A password typed would never be used: the token or the command's output logs in.
    const bool password = !oauth2 && ConfigData->PasswordCommand.empty();
    editPassword->setEnabled(password);
    editConfirm->setEnabled(password);
    // Where a password is kept says nothing about an account that signs in with a token.
    lblPasswordPlace->setVisible(!oauth2);
}

void TfrmWizard::btnSignInClick() {
    // The account as the dialog shows it, typed but not yet saved.
    TAccountSettings account = *ConfigData;
    account.Server = Taken(editServerName, server_);
    account.Login = Taken(editLoginName, login_);
    TakeLoginMethod(account);
    auto* dialog = new TfrmSignIn(this, account);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}
