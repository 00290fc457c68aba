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
// service name ("mail.example.com:1110"); without one, or with an empty one, the port is
// defaultPort. An IPv6 address names a port only in brackets ("[2001:db8::1]:1110"); its bare
// form ("2001:db8::1") is all host. Blanks around the host and the port are dropped.
ServerAddress SplitServer(const std::string& server, const std::string& defaultPort = "pop3");

// Copies Server (host and port), Login, Password, Timeout, Security, CAFile and the SASL
// mechanism of Auth into the POP3 client. The one place that does so: at start-up and after
// the preferences change. With Security 1 (TLS from the start) a Server without a port means
// port "pop3s".
void ApplyPop3Settings(TCustomPop3Cli& client, const TConfigData& config);

} // namespace screening
