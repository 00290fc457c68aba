#pragma once

#include "secrets/SecretStore.h"

#include <functional>
#include <string>

class QObject;
namespace secrets {

// The keyring item of an account's OAuth2 refresh token.
std::string RefreshTokenKey(const std::string& login, const std::string& server);

inline constexpr const char* kNoKeyringTokenNotice =
    "No keyring is available: the refresh token is kept scrambled in Morvandle.ini";
inline constexpr const char* kNotSignedInText =
    "Not signed in: sign in first (Preferences > Sign in\u2026, or morvandle-check --sign-in)";

// The refresh token filed under `key` (RefreshTokenKey): the keyring item, else the scrambled
// OAuth2RefreshToken of the settings file when no keyring holds one or none can be reached;
// kNotSignedInText when neither has one. A keyring that is locked or refuses is an error, as for
// passwords.
void ReadRefreshToken(const std::string& key, QObject* context, SecretDone done,
                      const TSecretLimits& limits = {});

// Stores a refresh token under `key`: into the keyring, and the settings file's copy goes;
// with no keyring, scrambled into the settings file, with kNoKeyringTokenNotice.
void StoreRefreshToken(const std::string& key, const std::string& token, QObject* context,
                       std::function<void(const TStored&)> done, const TSecretLimits& limits = {});

} // namespace secrets
