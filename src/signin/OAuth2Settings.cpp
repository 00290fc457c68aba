#include "OAuth2Settings.h"

namespace signin {
namespace {

struct TPreset {
    const char* name;
    const char* scope;
    const char* authorizeUrl;
    const char* deviceUrl;
    const char* tokenUrl;
};

// Google's device sign-in takes neither desktop clients nor the mail scope, so Google signs
// in through the browser: its preset names no device endpoint.
constexpr TPreset kPresets[] = {
    {"microsoft", "https://outlook.office.com/POP.AccessAsUser.All offline_access",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token"},
    {"google", "https://mail.google.com/", "https://accounts.google.com/o/oauth2/v2/auth", "",
     "https://oauth2.googleapis.com/token"},
};

std::string Either(const std::string& set, const char* preset) {
    return set.empty() ? preset : set;
}

} // namespace

TOAuth2Settings OAuth2SettingsOf(const TAccountSettings& config) {
    TPreset preset{"", "", "", "", ""};
    for (const TPreset& p : kPresets)
        if (config.OAuth2Provider == p.name) preset = p;
    return {config.OAuth2ClientId,
            config.OAuth2ClientSecret,
            Either(config.OAuth2Scope, preset.scope),
            Either(config.OAuth2AuthorizeUrl, preset.authorizeUrl),
            Either(config.OAuth2DeviceUrl, preset.deviceUrl),
            Either(config.OAuth2TokenUrl, preset.tokenUrl),
            config.CAFile};
}

std::string MissingOAuth2Setting(const TOAuth2Settings& settings, bool forSignIn) {
    if (settings.clientId.empty())
        return "OAuth2ClientId is not set: register a client with your mail provider and set "
               "its id (see the README)";
    if (settings.tokenUrl.empty())
        return "No token endpoint: set OAuth2Provider to microsoft or google, or set "
               "OAuth2TokenUrl";
    if (forSignIn && settings.deviceUrl.empty() && settings.authorizeUrl.empty())
        return "No sign-in endpoint: set OAuth2DeviceUrl or OAuth2AuthorizeUrl";
    return {};
}

} // namespace signin
