#pragma once

#include "config/Accounts.h"

#include <string>

namespace signin {

// The client and endpoints one sign-in or refresh uses: the provider's preset, with every
// key the settings set taking its place.
struct TOAuth2Settings {
    std::string clientId;
    std::string clientSecret; // Google's installed-app clients have one; empty for none
    std::string scope;
    std::string authorizeUrl;
    std::string deviceUrl; // set: the device sign-in; empty: the browser sign-in
    std::string tokenUrl;
    std::string caFile; // extra trusted certificates, as for POP3
};

TOAuth2Settings OAuth2SettingsOf(const TAccountSettings& account);

// Why a sign-in with these settings cannot start, as a sentence; empty when it can.
std::string MissingOAuth2Setting(const TOAuth2Settings& settings, bool forSignIn);

} // namespace signin
