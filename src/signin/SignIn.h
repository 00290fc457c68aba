#pragma once

#include "config/Accounts.h"
#include "secrets/SecretStore.h"
#include "signin/OAuth2Request.h"
#include "signin/OAuth2Settings.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <string>

namespace signin {

struct TSignInResult {
    bool ok = false;
    std::string text; // where the refresh token went, or why the sign-in failed
};

// Time limits; tests shorten them.
struct TSignInLimits {
    std::chrono::milliseconds request = kRequestLimit;
    // How long one second of the server's polling interval lasts.
    std::chrono::milliseconds second{1000};
    // How long the browser sign-in waits for the redirect.
    std::chrono::milliseconds browserWait{std::chrono::minutes(10)};
    secrets::TSecretLimits secrets;
};

// One sign-in of an account, for the console and the preferences dialog alike: the device
// sign-in when a device endpoint is known, else the browser sign-in with PKCE and a redirect
// to a listener on 127.0.0.1. The refresh token it gets is stored at once (StoreRefreshToken),
// and the access token is kept for the next check of this process. Everything reports
// through the event loop, never from inside Start. It may be cancelled from inside its own
// callbacks, but deleted there only with deleteLater.
class TSignIn : public QObject {
  public:
    explicit TSignIn(const TAccountSettings& account, QObject* parent = nullptr,
                     const TSignInLimits& limits = {});

    // The device sign-in: the user opens `uri` and enters `code`.
    std::function<void(const std::string& uri, const std::string& code)> OnShowCode;
    // The browser sign-in: the caller opens `url` in the user's browser.
    std::function<void(const std::string& url)> OnOpenUrl;
    // Once per Start, unless cancelled.
    std::function<void(const TSignInResult& result)> OnDone;

    void Start();
    // Stops a running sign-in; OnDone does not come. Nothing is stored.
    void Cancel();
    bool Running() const { return work_ != nullptr; }

  private:
    void Begin();
    void DeviceCode(const TOAuth2Answer& answer);
    void Poll();
    void PollAnswer(const TOAuth2Answer& answer);
    void StartBrowser();
    void Redirected(const QUrlQuery& query);
    void Tokens(const TOAuth2Answer& answer);
    void Finish(const TSignInResult& result);
    void Post(const std::string& url, TForm form, void (TSignIn::*then)(const TOAuth2Answer&));
    // A step of the running sign-in, to be called back later: it does nothing once that
    // sign-in has ended (its objects live on until the event loop deletes them).
    template <class Step> auto Current(Step step) {
        return [this, work = work_, step](const auto&... args) {
            if (work_ == work) step(args...);
        };
    }

    const TOAuth2Settings settings_;
    const TAccountSettings account_;
    const TSignInLimits limits_;
    // A child holding every request, timer and listener of the running sign-in: deleting it
    // drops every report still to come. Null when none runs.
    QObject* work_ = nullptr;

    // The device sign-in.
    std::string deviceCode_;
    int interval_ = 5; // seconds between polls
    std::chrono::steady_clock::time_point expires_;
    // The browser sign-in.
    std::string redirectUri_;
    std::string state_;
    std::string verifier_;
};

} // namespace signin
