#pragma once

#include "dataConfig.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TSortedListModel;

// The preferences dialog: server login, the two lists and the screening options. The main
// window creates one for each use, shows it with exec(), reads the three flags and destroys
// it; it reloads the lists whose flags are set, because the dialog writes only the files.
class TfrmWizard : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmWizard(QWidget* owner = nullptr);
    ~TfrmWizard() override;

    // Something in the dialog was edited (also set by every change of a list).
    bool SettingsChanged() const { return settingsChanged_; }
    // The address list differs from GoodAddr.txt / the search strings from spammers.txt.
    bool AddressesChanged() const { return addressesChanged_; }
    bool SpammersChanged() const { return spammersChanged_; }

    // Stores the server login and the options in ConfigData, writes the changed list files
    // and the settings file. A list file that another program changed while the dialog was
    // open is not overwritten: the user chooses between reloading it with the dialog's
    // edits applied again and not saving that list. Failures throw; what was written
    // before stays written.
    void SaveSettings();
    // Stores the password where the secret store puts it, when the dialog changed it or it
    // still sits in the settings file, then runs `then`; on a failure the error is shown
    // and the dialog stays open.
    void SavePasswordThen(std::function<void()> then);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Esc: the same as the Cancel button.
    void reject() override;
    // Key preview: the dialog sees keys before its controls.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The dialog ends: ConfigData holds the first account again.
    void hideEvent(QHideEvent* event) override;

  private:
    void FitScreen(QSize wanted);
    // Text of an edit filled from the store, with the bytes it was filled from: an edit the
    // user left alone gives back those bytes, even where they are no UTF-8 or were too long
    // for the edit.
    struct FilledText {
        std::string bytes;
        QString shown;
    };

    void BuildServerPage();
    // The account selector (formWizardAccounts.cpp): the Server page shows one account at a
    // time. Choosing another first saves the shown one (its keys and password); Add, Rename
    // and Remove change the settings file at once.
    QWidget* BuildAccountSelector();
    void FillAccounts();
    // Puts the account into ConfigData and its keys into the Server page.
    void ShowAccount(int index);
    // Stores the Server page's edits in ConfigData and writes the shown account's keys.
    void SaveShownAccount();
    void cmbAccountChange(int index);
    void btnAddAccountClick();
    void btnRenameAccountClick();
    void btnRemoveAccountClick();
    // The name typed for Add or Rename, or nothing (with a box saying why) when no account
    // may take it; `except` is the account being renamed.
    std::optional<std::string> NewAccountName(int except);
    // The login method (formWizardSignIn.cpp): Auth, the OAuth2 provider and client id of the
    // shown account, from `row` of the Server page's grid on, and its Sign in… button.
    void BuildLoginMethod(QGridLayout* grid, int row);
    void ShowLoginMethod();
    void TakeLoginMethod(TAccountSettings& account) const;
    // Writes the keys whose values the dialog changed since the account was shown.
    void WriteLoginMethod();
    // The OAuth2 controls for the OAuth2 methods only; the password boxes for the others.
    void EnableLoginMethod();
    void btnSignInClick();
    void BuildAddressPage();
    void BuildSpammerPage();
    void BuildButtons();
    void SetTabOrder();

    void FormShow();
    // Says next to the password boxes where the password is kept; fills them from the
    // keyring when it is kept there. ShowLoginMethod, which follows it, enables the boxes.
    void ShowPasswordPlace();
    bool FormKeyDown(QKeyEvent* event);
    void Fill(QLineEdit* edit, const std::string& bytes, FilledText& filled);
    std::string Taken(const QLineEdit* edit, const FilledText& filled) const;

    void editEmailAddressChange();
    void lbAddressesClick();
    void btnAddAddressClick();
    void btnChangeClick();
    void btnDeleteAddressClick();
    void EnableAddressChecking();
    void lbKnownSpammersClick();
    void btnSpammerAddClick();
    void btnSpammersChangeClick();
    void btnSpammerDeleteClick();
    void btnOkClick();
    void btnCancelClick();
    void btnHelpClick();

    void AddressesEdited();
    void SpammersEdited();
    // Selects nothing in the list, without the selection handler: after the dialog itself
    // has changed the list, what was selected is gone.
    void ClearSelection(QListView* list);
    int SelectedRow(const QListView* list) const;

    // A list as the dialog filled it in: the entries (sorted) and the file's fingerprint.
    // The user's additions and removals are what the list box holds beyond these.
    struct ListAsRead {
        std::vector<std::string> entries;
        TListFingerprint fingerprint;
    };
    void SaveList(const std::string& path, const std::string& name, TSortedListModel& model,
                  ListAsRead& read);
    void ReloadWithEdits(const std::string& path, TSortedListModel& model, ListAsRead& read);

    ListAsRead addressesRead_, spammersRead_;
    bool settingsChanged_ = false;
    bool addressesChanged_ = false;
    bool spammersChanged_ = false;
    bool shown_ = false;
    bool listUpdating_ = false;
    FilledText server_, login_, password_, confirm_;
    // The settings file held the password when the dialog opened.
    bool passwordInFile_ = false;
    // The accounts as the selector lists them, and the one the Server page shows.
    std::vector<TAccountSettings> accounts_;
    int shownAccount_ = 0;
    bool fillingAccounts_ = false;
    // The login method of the shown account as the settings file has it.
    struct TLoginMethod {
        std::string Auth, OAuth2Provider, OAuth2ClientId;
    };
    TLoginMethod loginMethodShown_;
    FilledText clientId_;

    QTabWidget* pgctrlPreferences = nullptr;
    QWidget* tabshtServer = nullptr;
    QWidget* tabshtAddrs = nullptr;
    QWidget* tabshtSpammers = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnHelp = nullptr;
    QPushButton* btnCancel = nullptr;

    QLineEdit* editServerName = nullptr;
    QLineEdit* editLoginName = nullptr;
    QLineEdit* editPassword = nullptr;
    QLineEdit* editConfirm = nullptr;
    QLabel* lblPasswordPlace = nullptr;

    QLineEdit* editEmailAddress = nullptr;
    QListView* lbAddresses = nullptr;
    TSortedListModel* addresses_ = nullptr;
    QPushButton* btnAddAddress = nullptr;
    QPushButton* btnChange = nullptr;
    QPushButton* btnDeleteAddress = nullptr;
    QGroupBox* rgAddrCheckType = nullptr;
    QRadioButton* rbDisabled = nullptr;
    QRadioButton* rbStdCheck = nullptr;
    QRadioButton* rbStrictCheck = nullptr;

    QLineEdit* editSpammerAddress = nullptr;
    QListView* lbKnownSpammers = nullptr;
    TSortedListModel* spammers_ = nullptr;
    QPushButton* btnSpammerAdd = nullptr;
    QPushButton* btnSpammersChange = nullptr;
    QPushButton* btnSpammerDelete = nullptr;
    QCheckBox* cbxCaseInsensitive = nullptr;
    QCheckBox* cbxQuarantine = nullptr;
    QComboBox* cmbSecurity = nullptr;
    QComboBox* cmbAuth = nullptr;
    QComboBox* cmbOAuth2Provider = nullptr;
    QLineEdit* editOAuth2ClientId = nullptr;
    QPushButton* btnSignIn = nullptr;

    QComboBox* cmbAccount = nullptr;
    QLineEdit* editAccountName = nullptr;
    QPushButton* btnAddAccount = nullptr;
    QPushButton* btnRenameAccount = nullptr;
    QPushButton* btnRemoveAccount = nullptr;
    QCheckBox* cbxAccountEnabled = nullptr;
};
