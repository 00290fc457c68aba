#include "Pop3Settings.h"

#include "config/dataConfig.h"
#include "net/Pop3Prot.h"

#include <algorithm>

namespace screening {

namespace {

// Blanks and control characters around a part mean nothing to a name or a port.
std::string Trimmed(const std::string& text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    auto first = std::find_if_not(text.begin(), text.end(), blank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

ServerAddress WithPort(const std::string& host, const std::string& port) {
    std::string p = Trimmed(port);
    return {Trimmed(host), p.empty() ? "pop3" : p};
}

} // namespace

ServerAddress SplitServer(const std::string& server) {
    const std::string text = Trimmed(server);
    if (!text.empty() && text.front() == '[') {
        // "[2001:db8::1]" or "[2001:db8::1]:1110": the brackets keep the address's own
        // colons apart from the port's.
        auto close = text.find(']');
        if (close != std::string::npos) {
            std::string rest = text.substr(close + 1);
            if (rest.empty()) return {text.substr(1, close - 1), "pop3"};
            if (rest.front() == ':') return WithPort(text.substr(1, close - 1), rest.substr(1));
        }
        return {text, "pop3"};
    }
    auto colon = text.find(':');
    // No colon, or several: an address such as 2001:db8::1 names no port.
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return {text, "pop3"};
    return WithPort(text.substr(0, colon), text.substr(colon + 1));
}

void ApplyPop3Settings(TCustomPop3Cli& client, const TConfigData& config) {
    ServerAddress address = SplitServer(config.Server);
    client.SetHost(address.Host);
    client.SetPort(address.Port);
    client.SetUserName(config.Login);
    client.SetPassWord(config.Password);
}

} // namespace screening
