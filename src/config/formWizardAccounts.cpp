// The preferences dialog's account selector: which account the Server page shows, and adding,
// renaming and removing accounts.

#include "formWizard.h"

#include "dataConfig.h"
#include "formWizardWidgets.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/Trim.h"
#include "platform/WidgetText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

QWidget* TfrmWizard::BuildAccountSelector() {
    auto* frame = new QGroupBox(QStringLiteral("Accounts"));
    auto* grid = new QGridLayout(frame);
    cmbAccount = wizard::Named(new QComboBox, "cmbAccount");
    cbxAccountEnabled = wizard::Named(
        new QCheckBox(QStringLiteral("&Include this account in every check")), "cbxAccountEnabled");
    editAccountName = wizard::Edit("editAccountName");
    editAccountName->setMaxLength(40);
    btnAddAccount = wizard::Button("&Add", "btnAddAccount");
    btnRenameAccount = wizard::Button("&Rename", "btnRenameAccount");
    btnRemoveAccount = wizard::Button("Re&move", "btnRemoveAccount");
    grid->addWidget(wizard::LabelFor("Acc&ount:", cmbAccount), 0, 0);
    grid->addWidget(cmbAccount, 0, 1);
    grid->addWidget(cbxAccountEnabled, 0, 2, 1, 3);
    grid->addWidget(wizard::LabelFor("Ne&w name:", editAccountName), 1, 0);
    grid->addWidget(editAccountName, 1, 1);
    grid->addWidget(btnAddAccount, 1, 2);
    grid->addWidget(btnRenameAccount, 1, 3);
    grid->addWidget(btnRemoveAccount, 1, 4);
    grid->setColumnStretch(1, 1);

    connect(cmbAccount, &QComboBox::currentIndexChanged, this,
            [this](int index) { cmbAccountChange(index); });
    connect(cbxAccountEnabled, &QCheckBox::clicked, this, [this] { settingsChanged_ = true; });
    connect(btnAddAccount, &QPushButton::clicked, this, [this] { btnAddAccountClick(); });
    connect(btnRenameAccount, &QPushButton::clicked, this, [this] { btnRenameAccountClick(); });
    connect(btnRemoveAccount, &QPushButton::clicked, this, [this] { btnRemoveAccountClick(); });
    return frame;
}

void TfrmWizard::FillAccounts() {
    bool allRead = true;
    try {
        accounts_ = ReadAccounts();
    } catch (const platform::Exception& e) {
        // A hand-made name the checks refuse: the dialog still edits the account it has, but
        // adds and renames none, as the names it cannot see may be the ones it would write.
        platform::ReportError(e.what());
        accounts_ = {*ConfigData};
        allRead = false;
    }
    btnAddAccount->setEnabled(allRead);
    btnRenameAccount->setEnabled(allRead);
    shownAccount_ = 0;
    accounts_[0] = *ConfigData;
    fillingAccounts_ = true;
    cmbAccount->clear();
    for (const TAccountSettings& account : accounts_)
        cmbAccount->addItem(platform::WidgetText(account.AccountName));
    fillingAccounts_ = false;
    cbxAccountEnabled->setChecked(ConfigData->Enabled);
    btnRemoveAccount->setEnabled(false); // the first account holds the shared settings
}

void TfrmWizard::ShowAccount(int index) {
    shownAccount_ = index;
    ConfigData->UseAccount(accounts_[index]);
    fillingAccounts_ = true;
    cmbAccount->setCurrentIndex(index);
    fillingAccounts_ = false;
    const bool changed = settingsChanged_;
    Fill(editServerName, ConfigData->Server, server_);
    Fill(editLoginName, ConfigData->Login, login_);
    Fill(editPassword, ConfigData->Password, password_);
    Fill(editConfirm, ConfigData->Password, confirm_);
    cmbSecurity->setCurrentIndex(ConfigData->Security);
    cbxAccountEnabled->setChecked(ConfigData->Enabled);
    btnRemoveAccount->setEnabled(index != 0);
    ShowPasswordPlace();
    ShowLoginMethod();
    settingsChanged_ = changed;
}

void TfrmWizard::SaveShownAccount() {
    ConfigData->Server = Taken(editServerName, server_);
    ConfigData->Login = Taken(editLoginName, login_);
    ConfigData->Password = Taken(editPassword, password_);
    ConfigData->Security = cmbSecurity->currentIndex();
    ConfigData->Enabled = cbxAccountEnabled->isChecked();
    TakeLoginMethod(*ConfigData);
    WriteAccount(*ConfigData);
    WriteLoginMethod();
}

void TfrmWizard::cmbAccountChange(int index) {
    if (fillingAccounts_ || index < 0 || index == shownAccount_) return;
    // The selector shows the account the page holds until that one is saved.
    fillingAccounts_ = true;
    cmbAccount->setCurrentIndex(shownAccount_);
    fillingAccounts_ = false;
    platform::Guarded([this, index] {
        SaveShownAccount();
        SavePasswordThen([this, index] {
            accounts_[shownAccount_] = *ConfigData;
            ShowAccount(index);
        });
    });
}

std::optional<std::string> TfrmWizard::NewAccountName(int except) {
    const std::string name = platform::Trimmed(editAccountName->text().toStdString());
    std::vector<std::string> others;
    for (int i = 0; i < int(accounts_.size()); ++i)
        if (i != except) others.push_back(accounts_[i].AccountName);
    const std::string problem = AccountNameProblem(name, others);
    if (problem.empty()) return name;
    platform::MessageDlg(problem, platform::TMsgDlgType::mtError, platform::mbOK);
    return std::nullopt;
}

void TfrmWizard::btnAddAccountClick() {
    const std::optional<std::string> name = NewAccountName(-1);
    if (!name) return;
    platform::Guarded([&] {
        TAccountSettings added;
        added.AccountName = added.FilesName = *name;
        added.AccountSection = AccountSectionOf(*name);
        WriteAccount(added);
        accounts_.push_back(added);
        fillingAccounts_ = true;
        cmbAccount->addItem(platform::WidgetText(*name));
        fillingAccounts_ = false;
        editAccountName->clear();
        cmbAccountChange(int(accounts_.size()) - 1);
    });
}

void TfrmWizard::btnRenameAccountClick() {
    const std::optional<std::string> name = NewAccountName(shownAccount_);
    if (!name) return;
    platform::Guarded([&] {
        RenameAccount(*ConfigData, *name);
        for (TAccountSettings* account :
             {&accounts_[shownAccount_], static_cast<TAccountSettings*>(ConfigData)}) {
            account->AccountName = *name;
            if (shownAccount_ == 0) continue; // the first keeps its section and file names
            account->AccountSection = AccountSectionOf(*name);
            account->FilesName = *name;
        }
        cmbAccount->setItemText(shownAccount_, platform::WidgetText(*name));
        editAccountName->clear();
    });
}

void TfrmWizard::btnRemoveAccountClick() {
    if (shownAccount_ == 0) return;
    const std::string& name = accounts_[shownAccount_].AccountName;
    if (platform::MessageDlg("Remove the account \"" + name + "\" and its settings?",
                             platform::TMsgDlgType::mtConfirmation,
                             platform::mbYes | platform::mbNo) != platform::mrYes)
        return;
    platform::Guarded([this] {
        RemoveAccount(accounts_[shownAccount_]);
        const int removed = shownAccount_;
        accounts_.erase(accounts_.begin() + removed);
        fillingAccounts_ = true;
        cmbAccount->removeItem(removed);
        fillingAccounts_ = false;
        ShowAccount(0);
    });
}

void TfrmWizard::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (shownAccount_ != 0 && !accounts_.empty()) ConfigData->UseAccount(accounts_[0]);
}
