#pragma once

#include <chrono>
#include <functional>
#include <string>

class QObject;

namespace secrets {

// The keyring service every item of this program is filed under.
inline constexpr const char* kKeyringService = "morvandle";

// What the desktop keyring (the Secret Service, through QtKeychain) answered.
struct TKeyringAnswer {
    enum Kind {
        Done,        // written, removed, or read (secret holds it)
        NotFound,    // no item under that key
        Unavailable, // no keyring on this desktop: no session bus, no Secret Service
        Refused      // a keyring is there but locked, refused or silent
    };
    Kind kind = Done;
    std::string secret;
    std::string reason; // the keyring's own words for anything but Done
};

using KeyringDone = std::function<void(const TKeyringAnswer&)>;

// A keyring that shows no sign of life within this long is taken as refusing: a check must
// not hang on it.
inline constexpr std::chrono::milliseconds kKeyringLimit{5000};

// Whether a session bus could be reached, where the keyring lives: its address in the
// environment, the per-user bus socket, or an X display that would start one. Without any
// of them the keyring is Unavailable, and the calls below say so without loading the
// keyring's libraries or asking the bus: that took a third of a check's start-up.
bool SessionBusReachable();

// Each reports once, through the event loop, never from inside the call, and not at all once
// `context` is gone.
void KeyringRead(const std::string& key, QObject* context, KeyringDone done,
                 std::chrono::milliseconds limit = kKeyringLimit);
void KeyringWrite(const std::string& key, const std::string& secret, QObject* context,
                  KeyringDone done, std::chrono::milliseconds limit = kKeyringLimit);
void KeyringRemove(const std::string& key, QObject* context, KeyringDone done,
                   std::chrono::milliseconds limit = kKeyringLimit);

} // namespace secrets
