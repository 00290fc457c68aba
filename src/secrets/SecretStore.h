#pragma once

#include "secrets/Keyring.h"
#include "secrets/PasswordCommand.h"

#include <chrono>
#include <functional>
#include <string>

class QObject;
class TConfigData;

namespace secrets {

// The keyring item of an account: a new server or login never gets an old password.
std::string AccountKey(const std::string& login, const std::string& server);

// Time limits; tests shorten them.
struct TSecretLimits {
    std::chrono::milliseconds keyring = kKeyringLimit;
    std::chrono::milliseconds command = kCommandLimit;
};

// The password a check logs in with: PasswordCommand's output when the command is set, else
// the account's keyring item, else the scrambled Password of the settings file (already in
// config.Password), also when no keyring can be reached. A keyring that is locked, refuses
// or stays silent is an error: the check must not log in without the password it holds.
void ReadPassword(const TConfigData& config, QObject* context, SecretDone done,
                  const TSecretLimits& limits = {});

// Where a stored password goes, and what the user is told.
struct TStored {
    bool ok = false;
    std::string notice; // set when the user must hear where the password went
    std::string error;  // when !ok: the settings file could not be written
};

// Writes the settings file's part of a store; its refusal becomes the result's error.
TStored InSettingsFile(const std::function<void()>& write, std::string notice);

inline constexpr const char* kNoKeyringNotice =
    "No keyring is available: the password is kept scrambled in Morvandle.ini";

// Stores config.Password for config's Login and Server: into the keyring, and then the
// settings file's Password key goes; with no keyring, scrambled into the settings file, with
// kNoKeyringNotice. An empty password removes the keyring item and leaves an empty key.
void StorePassword(const TConfigData& config, QObject* context,
                   std::function<void(const TStored&)> done, const TSecretLimits& limits = {});

} // namespace secrets
