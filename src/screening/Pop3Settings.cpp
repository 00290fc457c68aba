#include "Pop3Settings.h"

#include "config/dataConfig.h"
#include "net/Pop3Prot.h"
#include "platform/Trim.h"

#include <cctype>

namespace screening {

namespace {

ServerAddress WithPort(const std::string& host, const std::string& port,
                       const std::string& defaultPort) {
    std::string p = platform::Trimmed(port);
    return {platform::Trimmed(host), p.empty() ? defaultPort : p};
}

} // namespace

ServerAddress SplitServer(const std::string& server, const std::string& defaultPort) {
    const std::string text = platform::Trimmed(server);
    if (!text.empty() && text.front() == '[') {
        // "[2001:db8::1]" or "[2001:db8::1]:1110": the brackets keep the address's own
        // colons apart from the port's.
        auto close = text.find(']');
        if (close != std::string::npos) {
            std::string rest = text.substr(close + 1);
            if (rest.empty()) return WithPort(text.substr(1, close - 1), "", defaultPort);
            if (rest.front() == ':')
                return WithPort(text.substr(1, close - 1), rest.substr(1), defaultPort);
        }
        return {text, defaultPort};
    }
    auto colon = text.find(':');
    // No colon, or several: an address such as 2001:db8::1 names no port.
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return {text, defaultPort};
    return WithPort(text.substr(0, colon), text.substr(colon + 1), defaultPort);
}

void ApplyPop3Settings(TCustomPop3Cli& client, const TConfigData& config) {
    const TSecurity security = static_cast<TSecurity>(config.Security);
    ServerAddress address = SplitServer(config.Server, security == secTls ? "pop3s" : "pop3");
    client.SetHost(address.Host);
    client.SetPort(address.Port);
    client.SetSecurity(security);
    client.SetCAFile(config.CAFile);
    client.SetUserName(config.Login);
    client.SetPassWord(config.Password);
    // USER/PASS and APOP are commands of their own; the other logins are SASL mechanisms.
    const bool sasl =
        config.Auth == "plain" || config.Auth == "xoauth2" || config.Auth == "oauthbearer";
    std::string mechanism = sasl ? config.Auth : "";
    for (char& c : mechanism)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    client.SetAuthMechanism(mechanism);
    client.SetTimeout(config.Timeout);
}

} // namespace screening
