#include "TokenStore.h"

#include "config/dataConfig.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

#include <QMetaObject>

namespace secrets {
namespace {

constexpr const char* kIniKey = "OAuth2RefreshToken";

platform::ProfileFile SettingsFile() {
    return platform::ProfileFile(platform::SettingsFilePath());
}

// The settings file's copy of the token: written, or removed when `scrambled` is empty.
TStored TokenInSettingsFile(const std::string& section, const std::string& scrambled,
                            std::string notice) {
    return InSettingsFile(
        [&] {
            if (scrambled.empty())
                SettingsFile().DeleteKey(section, kIniKey);
            else
                SettingsFile().WriteString(section, kIniKey, scrambled);
        },
        std::move(notice));
}

} // namespace

std::string RefreshTokenKey(const std::string& login, const std::string& server) {
    return "oauth2:" + AccountKey(login, server);
}

void ReadRefreshToken(const TAccountSettings& account, QObject* context, SecretDone done,
                      const TSecretLimits& limits) {
    const std::string key = RefreshTokenKey(account.Login, account.Server);
    // A copy in the settings file is newer than any keyring item: a keyring write that works
    // removes it, one that fails (a locked keyring) writes it instead and leaves the old item.
    const std::string owned =
        UnscramblePassword(SettingsFile().ReadLongString(account.AccountSection, kIniKey, ""));
    const std::string prefix = key + " ";
    if (owned.size() > prefix.size() && owned.compare(0, prefix.size(), prefix) == 0) {
        QMetaObject::invokeMethod(
            context,
            [done = std::move(done), token = owned.substr(prefix.size())] {
                done({true, token, {}});
            },
            Qt::QueuedConnection);
        return;
    }
    KeyringRead(
        key, context,
        [done = std::move(done)](const TKeyringAnswer& answer) {
            if (answer.kind == TKeyringAnswer::Done) return done({true, answer.secret, {}});
            if (answer.kind == TKeyringAnswer::Refused)
                return done({false,
                             {},
                             "Cannot read the refresh token from the keyring: " + answer.reason});
            done({false, {}, kNotSignedInText});
        },
        limits.keyring);
}

void StoreRefreshToken(const TAccountSettings& account, const std::string& token, QObject* context,
                       std::function<void(const TStored&)> done, const TSecretLimits& limits) {
    const std::string key = RefreshTokenKey(account.Login, account.Server);
    KeyringWrite(
        key, token, context,
        [key, section = account.AccountSection, token,
         done = std::move(done)](const TKeyringAnswer& answer) {
            if (answer.kind == TKeyringAnswer::Done)
                return done(TokenInSettingsFile(section, {}, {}));
            // Tokens are base64 and URL characters: scrambled, they hold no blanks to quote.
            done(TokenInSettingsFile(section, ScramblePassword(key + " " + token),
                                     kNoKeyringTokenNotice));
        },
        limits.keyring);
}

} // namespace secrets
