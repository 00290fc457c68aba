#include "SignIn.h"

#include "secrets/TokenStore.h"
#include "signin/AccessToken.h"
#include "signin/LoopbackRedirect.h"

#include <QCryptographicHash>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace signin {
namespace {

constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";

std::string Text(const TOAuth2Answer& answer, const char* name) {
    return answer.json.value(name).toString().toStdString();
}

// base64url without padding of `bytes` random bytes from the system's secure source.
std::string RandomText(int bytes) {
    QByteArray random(bytes, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), bytes / 4);
    return random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

std::string Challenge(const std::string& verifier) {
    return QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

} // namespace

TSignIn::TSignIn(const TAccountSettings& account, QObject* parent, const TSignInLimits& limits)
    : QObject(parent), settings_(OAuth2SettingsOf(account)), account_(account), limits_(limits) {}

void TSignIn::Start() {
    Cancel();
    work_ = new QObject(this);
    QMetaObject::invokeMethod(work_, Current([this] { Begin(); }), Qt::QueuedConnection);
}

void TSignIn::Cancel() {
    // Often called from inside the work's own objects: they go once the call has returned.
    if (work_) work_->deleteLater();
    work_ = nullptr;
}

void TSignIn::Finish(const TSignInResult& result) {
    Cancel();
    if (OnDone) OnDone(result);
}

void TSignIn::Post(const std::string& url, TForm form,
                   void (TSignIn::*then)(const TOAuth2Answer&)) {
    form.push_back({"client_id", settings_.clientId});
    if (!settings_.clientSecret.empty() && url == settings_.tokenUrl)
        form.push_back({"client_secret", settings_.clientSecret});
    PostForm(url, form, settings_.caFile, limits_.request, work_,
             Current([this, then](const TOAuth2Answer& answer) { (this->*then)(answer); }));
}

void TSignIn::Begin() {
    const std::string missing = MissingOAuth2Setting(settings_, true);
    if (!missing.empty()) return Finish({false, missing});
    if (settings_.deviceUrl.empty()) return StartBrowser();
    Post(settings_.deviceUrl, {{"scope", settings_.scope}}, &TSignIn::DeviceCode);
}

void TSignIn::DeviceCode(const TOAuth2Answer& answer) {
    if (!answer.ok) return Finish({false, answer.text});
    deviceCode_ = Text(answer, "device_code");
    const std::string code = Text(answer, "user_code");
    std::string uri = Text(answer, "verification_uri");
    if (uri.empty()) uri = Text(answer, "verification_url"); // an older spelling some use
    if (deviceCode_.empty() || code.empty() || uri.empty())
        return Finish({false, "The device sign-in answer lacks its code or address"});
    interval_ = std::max(1, answer.json.value("interval").toInt(5)); // never a tight loop
    expires_ = std::chrono::steady_clock::now() +
               limits_.second * answer.json.value("expires_in").toInt(900);
    if (OnShowCode) OnShowCode(uri, code);
    if (work_) QTimer::singleShot(limits_.second * interval_, work_, Current([this] { Poll(); }));
}

void TSignIn::Poll() {
    Post(settings_.tokenUrl, {{"grant_type", kDeviceGrant}, {"device_code", deviceCode_}},
         &TSignIn::PollAnswer);
}

void TSignIn::PollAnswer(const TOAuth2Answer& answer) {
    if (answer.ok) return Tokens(answer);
    const bool expired = std::chrono::steady_clock::now() >= expires_;
    if (answer.error == "expired_token" ||
        (expired && (answer.error == "authorization_pending" || answer.error == "slow_down")))
        return Finish({false, "The sign-in code expired before the sign-in was done: sign in "
                              "again"});
    // Microsoft names a refusal authorization_declined.
    if (answer.error == "access_denied" || answer.error == "authorization_declined")
        return Finish({false, "The sign-in was declined"});
    if (answer.error == "slow_down")
        interval_ += 5;
    else if (answer.error != "authorization_pending")
        return Finish({false, answer.text});
    QTimer::singleShot(limits_.second * interval_, work_, Current([this] { Poll(); }));
}

void TSignIn::StartBrowser() {
    const std::string refused = UrlRefused(settings_.authorizeUrl);
    if (!refused.empty()) return Finish({false, refused});
    auto* listener = new TLoopbackRedirect(work_);
    if (!listener->Listen()) return Finish({false, listener->ErrorText()});
    listener->OnRedirect = Current([this](const QUrlQuery& query) { Redirected(query); });
    redirectUri_ = listener->RedirectUri();
    state_ = RandomText(16);
    verifier_ = RandomText(32); // 43 characters, as PKCE asks at least
    // Encoded by hand rather than through QUrlQuery, which would leave a "+" as it is.
    std::string url = settings_.authorizeUrl;
    char separator = url.find('?') == std::string::npos ? '?' : '&';
    for (const auto& [name, value] : TForm{{"response_type", "code"},
                                           {"client_id", settings_.clientId},
                                           {"redirect_uri", redirectUri_},
                                           {"scope", settings_.scope},
                                           {"state", state_},
                                           {"code_challenge", Challenge(verifier_)},
                                           {"code_challenge_method", "S256"}}) {
        url += separator + name + "=" +
               QUrl::toPercentEncoding(QString::fromStdString(value)).toStdString();
        separator = '&';
    }
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(limits_.browserWait);
    QTimer::singleShot(limits_.browserWait, work_, Current([this, minutes] {
                           Finish({false, "No sign-in came back from the browser within " +
                                              std::to_string(minutes.count()) + " minutes"});
                       }));
    if (OnOpenUrl) OnOpenUrl(url);
}

void TSignIn::Redirected(const QUrlQuery& query) {
    auto value = [&query](const char* name) {
        return query.queryItemValue(name, QUrl::FullyDecoded).toStdString();
    };
    // A page that did not start this sign-in must not finish it.
    if (value("state") != state_)
        return Finish({false, "The sign-in answer came back with another state than was sent; "
                              "nothing was stored"});
    if (!value("error").empty())
        return Finish({false, "The sign-in was declined: " + value("error")});
    if (value("code").empty()) return Finish({false, "The sign-in answer holds no code"});
    Post(settings_.tokenUrl,
         {{"grant_type", "authorization_code"},
          {"code", value("code")},
          {"redirect_uri", redirectUri_},
          {"code_verifier", verifier_}},
         &TSignIn::Tokens);
}

void TSignIn::Tokens(const TOAuth2Answer& answer) {
    if (!answer.ok) return Finish({false, answer.text});
    const std::string refresh = Text(answer, "refresh_token");
    if (refresh.empty())
        return Finish({false, "The sign-in gave no refresh token: the scope must allow one "
                              "(offline_access for Microsoft)"});
    const std::string access = Text(answer, "access_token");
    if (!access.empty())
        RememberAccessToken(secrets::RefreshTokenKey(account_.Login, account_.Server), access,
                            answer.json.value("expires_in").toInteger(3600));
    secrets::StoreRefreshToken(
        account_, refresh, work_, Current([this](const secrets::TStored& stored) {
            if (!stored.ok)
                return Finish({false, "Signed in, but the refresh token could not be stored: " +
                                          stored.error});
            const std::string keyring = "The refresh token is in the keyring (service " +
                                        std::string(secrets::kKeyringService) + ", key " +
                                        secrets::RefreshTokenKey(account_.Login, account_.Server) +
                                        ")";
            Finish({true, "Signed in. " + (stored.notice.empty() ? keyring : stored.notice)});
        }),
        limits_.secrets);
}

} // namespace signin
