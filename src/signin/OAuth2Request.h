#pragma once

#include <QJsonObject>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QObject;

namespace signin {

// What an OAuth2 endpoint answered.
struct TOAuth2Answer {
    bool ok = false;   // a 2xx answer with a JSON object and no "error"
    QJsonObject json;  // the object, also of an error answer
    std::string error; // the OAuth2 error code ("invalid_grant"), empty when none came
    std::string text;  // a sentence for the user when !ok; never holds a token
};

using OAuth2Done = std::function<void(const TOAuth2Answer&)>;
using TForm = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::chrono::milliseconds kRequestLimit{30000};

// POSTs the form to url over QtNetwork. https is verified against the system's certificates
// and those of caFile; plain http is allowed only to 127.0.0.1 (a test's server or a local
// proxy), never elsewhere, since the form carries secrets. An endpoint that is down, or gives
// no whole answer within `limit`, fails with its reason. Reports once, through the event
// loop, and not at all once `context` is gone.
void PostForm(const std::string& url, const TForm& form, const std::string& caFile,
              std::chrono::milliseconds limit, QObject* context, OAuth2Done done);

// The reason the URL may not be used, as a sentence; empty when it may.
std::string UrlRefused(const std::string& url);

} // namespace signin
