#pragma once

#include <string>

class TConfigData;
class TCustomPop3Cli;

namespace screening {

struct ServerAddress {
    std::string Host;
    std::string Port;
};

// The Server setting is a host name, optionally followed by ":" and a port number or
// service name ("mail.example.com:1110"); without one the port is "pop3".
ServerAddress SplitServer(const std::string& server);

// Copies Server (host and port), Login and Password into the POP3 client. The one place that
// does so: at start-up and after the preferences change.
void ApplyPop3Settings(TCustomPop3Cli& client, const TConfigData& config);

} // namespace screening
