#pragma once

#include "config/Accounts.h"
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

// The account's refresh token: the key OAuth2RefreshToken of the account's settings section
// when it holds one (written where the keyring could not take it), else its keyring item
// (RefreshTokenKey). That key holds the token scrambled with the keyring key in front, so
// that a changed Login or Server never gets an old token. kNotSignedInText when neither has
// one; a keyring that is locked or refuses is an error, as for passwords.
void ReadRefreshToken(const TAccountSettings& account, QObject* context, SecretDone done,
                      const TSecretLimits& limits = {});

// Stores the account's refresh token: into the keyring, and the settings file's copy goes;
// with no keyring, scrambled into the settings file, with kNoKeyringTokenNotice.
void StoreRefreshToken(const TAccountSettings& account, const std::string& token, QObject* context,
                       std::function<void(const TStored&)> done, const TSecretLimits& limits = {});

} // namespace secrets
