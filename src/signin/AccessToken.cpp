#include "AccessToken.h"

#include "config/dataConfig.h"
#include "secrets/TokenStore.h"
#include "signin/OAuth2Settings.h"

#include <QMetaObject>
#include <QObject>
#include <map>

namespace signin {
namespace {

using Clock = std::chrono::steady_clock;

// A token must outlive the login it is for: one that ends within this is not reused.
constexpr std::chrono::seconds kMinimumLife{60};

struct TKeptToken {
    std::string token;
    Clock::time_point expires;
};

// In memory only: the desktop program checks again and again with one token per hour.
std::map<std::string, TKeptToken>& KeptTokens() {
    static std::map<std::string, TKeptToken> kept;
    return kept;
}

// Reported through the event loop, as every other answer.
void Later(QObject* context, secrets::SecretDone done, secrets::TSecret result) {
    QMetaObject::invokeMethod(
        context, [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
}

void Refresh(const TOAuth2Settings& settings, const TAccountSettings& account,
             const std::string& key, const std::string& refreshToken, QObject* context,
             secrets::SecretDone done, const TTokenLimits& limits) {
    TForm form{{"grant_type", "refresh_token"},
               {"refresh_token", refreshToken},
               {"client_id", settings.clientId}};
    if (!settings.clientSecret.empty()) form.push_back({"client_secret", settings.clientSecret});
    if (!settings.scope.empty()) form.push_back({"scope", settings.scope});
    PostForm(
        settings.tokenUrl, form, settings.caFile, limits.request, context,
        [account, key, refreshToken, context, done, limits](const TOAuth2Answer& answer) {
            if (answer.error == "invalid_grant") return done({false, {}, kSignInExpiredText});
            const std::string token = answer.json.value("access_token").toString().toStdString();
            if (!answer.ok || token.empty())
                return done({false,
                             {},
                             answer.ok ? "The token endpoint gave no access token" : answer.text});
            RememberAccessToken(key, token, answer.json.value("expires_in").toInteger(3600));
            const std::string next = answer.json.value("refresh_token").toString().toStdString();
            if (next.empty() || next == refreshToken) return done({true, token, {}});
            // The old one may be dead already: the new one is stored before anything else.
            secrets::StoreRefreshToken(
                account, next, context,
                [token, done](const secrets::TStored& stored) {
                    if (!stored.ok)
                        return done(
                            {false, {}, "Cannot store the new refresh token: " + stored.error});
                    done({true, token, {}});
                },
                limits.secrets);
        });
}

} // namespace

void RememberAccessToken(const std::string& key, const std::string& token, qint64 seconds) {
    KeptTokens()[key] = {token, Clock::now() + std::chrono::seconds(seconds)};
}

void ForgetAccessToken(const TAccountSettings& account) {
    KeptTokens().erase(secrets::RefreshTokenKey(account.Login, account.Server));
}

void GetAccessToken(const TAccountSettings& account, QObject* context, secrets::SecretDone done,
                    const TTokenLimits& limits) {
    if (!account.TokenCommand.empty())
        return secrets::RunSecretCommand(account.TokenCommand, "token command", context,
                                         std::move(done), limits.secrets.command);
    const std::string key = secrets::RefreshTokenKey(account.Login, account.Server);
    const auto kept = KeptTokens().find(key);
    if (kept != KeptTokens().end() && kept->second.expires - Clock::now() >= kMinimumLife)
        return Later(context, std::move(done), {true, kept->second.token, {}});
    const TOAuth2Settings settings = OAuth2SettingsOf(account);
    const std::string missing = MissingOAuth2Setting(settings, false);
    if (!missing.empty()) return Later(context, std::move(done), {false, {}, missing});
    secrets::ReadRefreshToken(
        account, context,
        [settings, account, key, context, done, limits](const secrets::TSecret& refresh) {
            if (!refresh.ok) return done(refresh);
            Refresh(settings, account, key, refresh.secret, context, done, limits);
        },
        limits.secrets);
}

void ReadLoginSecret(const TConfigData& config, QObject* context, secrets::SecretDone done,
                     const TTokenLimits& limits) {
    if (config.Auth == "xoauth2" || config.Auth == "oauthbearer")
        return GetAccessToken(config, context, std::move(done), limits);
    secrets::ReadPassword(config, context, std::move(done), limits.secrets);
}

} // namespace signin
