#pragma once

#include <chrono>
#include <functional>
#include <string>

class QObject;

namespace secrets {

// A secret, or why there is none.
struct TSecret {
    bool ok = false;
    std::string secret;
    std::string error; // a whole sentence for the user when !ok
};

using SecretDone = std::function<void(const TSecret&)>;

inline constexpr std::chrono::milliseconds kCommandLimit{10000};

// Runs `command` with /bin/sh -c; the first line of its standard output, without the line
// end, is the secret. A non-zero exit, no output, or no end within `limit` is an error
// naming `what` ("password command"), the exit status and the first line of standard error.
// Reports once, through the event loop, and not at all once `context` is gone.
void RunSecretCommand(const std::string& command, const std::string& what, QObject* context,
                      SecretDone done, std::chrono::milliseconds limit = kCommandLimit);

} // namespace secrets
