#include "SecretStore.h"

#include "config/dataConfig.h"
#include "platform/Exception.h"

#include <exception>

namespace secrets {
namespace {

constexpr const char* kKeyringError = "Cannot read the password from the keyring: ";

} // namespace

TStored InSettingsFile(const std::function<void()>& write, std::string notice) {
    try {
        write();
        return {true, std::move(notice), {}};
    } catch (const std::exception& e) {
        return {false, {}, e.what()};
    }
}

std::string AccountKey(const std::string& login, const std::string& server) {
    return login + "@" + server;
}

void ReadPassword(const TConfigData& config, QObject* context, SecretDone done,
                  const TSecretLimits& limits) {
    if (!config.PasswordCommand.empty())
        return RunSecretCommand(config.PasswordCommand, "password command", context,
                                std::move(done), limits.command);
    KeyringRead(
        AccountKey(config.Login, config.Server), context,
        [fallback = config.Password, done = std::move(done)](const TKeyringAnswer& answer) {
            switch (answer.kind) {
            case TKeyringAnswer::Done:
                return done({true, answer.secret, {}});
            case TKeyringAnswer::NotFound:
            case TKeyringAnswer::Unavailable: // no keyring: the settings file as ever
                return done({true, fallback, {}});
            case TKeyringAnswer::Refused:
                break;
            }
            done({false, {}, kKeyringError + answer.reason});
        },
        limits.keyring);
}

void StorePassword(const TConfigData& config, QObject* context,
                   std::function<void(const TStored&)> done, const TSecretLimits& limits) {
    const std::string key = AccountKey(config.Login, config.Server);
    if (config.Password.empty()) {
        // Whether or not the keyring had an item, the settings file says "no password".
        KeyringRemove(
            key, context,
            [section = config.AccountSection, done = std::move(done)](const TKeyringAnswer&) {
                done(InSettingsFile([&section] { WritePasswordKey("", section); }, {}));
            },
            limits.keyring);
        return;
    }
    KeyringWrite(
        key, config.Password, context,
        [password = config.Password, section = config.AccountSection,
         done = std::move(done)](const TKeyringAnswer& answer) {
            if (answer.kind == TKeyringAnswer::Done)
                return done(InSettingsFile([&section] { RemovePasswordKey(section); }, {}));
            done(InSettingsFile([&] { WritePasswordKey(password, section); }, kNoKeyringNotice));
        },
        limits.keyring);
}

} // namespace secrets
