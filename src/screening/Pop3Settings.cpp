#include "Pop3Settings.h"

#include "config/dataConfig.h"
#include "net/Pop3Prot.h"

namespace screening {

ServerAddress SplitServer(const std::string& server) {
    auto colon = server.rfind(':');
    if (colon == std::string::npos) return {server, "pop3"};
    std::string port = server.substr(colon + 1);
    return {server.substr(0, colon), port.empty() ? "pop3" : port};
}

void ApplyPop3Settings(TCustomPop3Cli& client, const TConfigData& config) {
    ServerAddress address = SplitServer(config.Server);
    client.SetHost(address.Host);
    client.SetPort(address.Port);
    client.SetUserName(config.Login);
    client.SetPassWord(config.Password);
}

} // namespace screening
