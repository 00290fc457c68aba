#pragma once

#include "Accounts.h"

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
namespace signin {
class TSignIn;
struct TSignInResult;
} // namespace signin

// The preferences dialog's sign-in of one account: it starts at once and shows what the user
// must do (the address and code of the device sign-in, or the browser opened for the other),
// then the outcome. Cancel, Esc or closing it stops a sign-in still running; nothing is
// stored then.
class TfrmSignIn : public QDialog {
  public:
    TfrmSignIn(QWidget* owner, const TAccountSettings& account);

    // Opens an address in the user's browser; false when none could be started. Tests
    // replace it.
    static std::function<bool(const std::string& url)> UrlOpener;

  protected:
    void reject() override;

  private:
    void ShowCode(const std::string& uri, const std::string& code);
    void OpenUrl(const std::string& url);
    void Done(const signin::TSignInResult& result);
    void btnOpenAddressClick();
    void FitText();

    signin::TSignIn* signIn_ = nullptr;
    QLabel* lblSignInText = nullptr;
    QLineEdit* editSignInAddress = nullptr;
    QPushButton* btnOpenAddress = nullptr;
    QLabel* lblUserCode = nullptr;
    QPushButton* btnCopyCode = nullptr;
    QLabel* lblSignInOutcome = nullptr;
    QPushButton* btnSignInCancel = nullptr;
};
