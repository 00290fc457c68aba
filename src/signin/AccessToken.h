#pragma once

#include "config/Accounts.h"
#include "secrets/SecretStore.h"
#include "signin/OAuth2Request.h"

#include <chrono>
#include <string>

class QObject;
class TConfigData;

namespace signin {

inline constexpr const char* kSignInExpiredText =
    "Sign-in expired: sign in again (Preferences > Sign in\u2026, or morvandle-check --sign-in)";

// Time limits; tests shorten them.
struct TTokenLimits {
    std::chrono::milliseconds request = kRequestLimit;
    secrets::TSecretLimits secrets;
};

// The access token of a check: the first line of TokenCommand when it is set; else one kept
// from earlier in this process that stays valid for at least another minute; else a new one
// got with the stored refresh token, whose successor (when the server rotates it) is stored
// before the token is reported. A refused refresh (invalid_grant) gives kSignInExpiredText;
// an endpoint that is down or slow gives its error, and the refresh token stays as it was.
// Reports once, through the event loop, and not at all once `context` is gone.
void GetAccessToken(const TAccountSettings& account, QObject* context, secrets::SecretDone done,
                    const TTokenLimits& limits = {});

// What the login of a check needs before the scan starts: the access token for Auth xoauth2
// and oauthbearer, else the password (secrets::ReadPassword).
void ReadLoginSecret(const TConfigData& config, QObject* context, secrets::SecretDone done,
                     const TTokenLimits& limits = {});

// Drops the access token kept for the account, so that its next check refreshes: for a login
// the server refused, whose token may have been revoked before it expired.
void ForgetAccessToken(const TAccountSettings& account);

// Keeps an access token for the account of `key` (secrets::RefreshTokenKey) in this process,
// for `seconds`.
void RememberAccessToken(const std::string& key, const std::string& token, qint64 seconds);

} // namespace signin
