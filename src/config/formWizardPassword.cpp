// The preferences dialog's password: where it is kept, and storing it there.

#include "formWizard.h"

#include "dataConfig.h"
#include "platform/Dialogs.h"
#include "platform/ErrorReport.h"
#include "secrets/SecretStore.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

void SetPlace(QLabel* label, const char* place) {
    label->setText(QStringLiteral("Password: ") + QString::fromUtf8(place));
}

} // namespace

void TfrmWizard::ShowPasswordPlace() {
    passwordInFile_ = !ConfigData->Password.empty();
    const bool command = !ConfigData->PasswordCommand.empty();
    if (command) return SetPlace(lblPasswordPlace, "from the command in PasswordCommand");
    if (passwordInFile_) return SetPlace(lblPasswordPlace, "kept scrambled in Morvandle.ini");
    SetPlace(lblPasswordPlace, "not stored");
    const std::string key = secrets::AccountKey(ConfigData->Login, ConfigData->Server);
    secrets::KeyringRead(key, this, [this, key](const secrets::TKeyringAnswer& answer) {
        // Late for an account no longer shown.
        if (answer.kind != secrets::TKeyringAnswer::Done ||
            key != secrets::AccountKey(ConfigData->Login, ConfigData->Server))
            return;
        SetPlace(lblPasswordPlace, "kept in the desktop keyring");
        // Only into boxes the user has not typed in yet.
        if (editPassword->text() != password_.shown || editConfirm->text() != confirm_.shown)
            return;
        const bool changed = settingsChanged_;
        Fill(editPassword, answer.secret, password_);
        Fill(editConfirm, answer.secret, confirm_);
        settingsChanged_ = changed;
    });
}

void TfrmWizard::SavePasswordThen(std::function<void()> then) {
    const bool typed = ConfigData->Password != password_.bytes;
    const bool accountChanged =
        ConfigData->Server != server_.bytes || ConfigData->Login != login_.bytes;
    // Nothing new to store, and nothing to move out of the settings file.
    if (!ConfigData->PasswordCommand.empty() || !(typed || accountChanged || passwordInFile_))
        return then();
    btnOk->setEnabled(false);
    btnCancel->setEnabled(false);
    const bool tell = typed || accountChanged;
    secrets::StorePassword(
        *ConfigData, this, [this, tell, then = std::move(then)](const secrets::TStored& stored) {
            btnOk->setEnabled(true);
            btnCancel->setEnabled(true);
            platform::Guarded([&] {
                if (!stored.ok) return platform::ReportError(stored.error);
                // A password that merely stays where it was needs no word.
                if (tell && !stored.notice.empty())
                    platform::MessageDlg(stored.notice, platform::TMsgDlgType::mtInformation,
                                         platform::mbOK);
                then();
            });
        });
}
