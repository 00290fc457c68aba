// SplitServer: host and port come out trimmed, blanks around the setting change nothing, and
// the parts put back together ("host:port" or "[address]:port") split the same way again.
#include "Require.h"
#include "screening/Pop3Settings.h"

#include <cstdint>
#include <string>

namespace {

bool Trimmed(const std::string& s) {
    return s.empty() || (static_cast<unsigned char>(s.front()) > 32 &&
                         static_cast<unsigned char>(s.back()) > 32);
}

bool Same(const screening::ServerAddress& a, const screening::ServerAddress& b) {
    return a.Host == b.Host && a.Port == b.Port;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string server(reinterpret_cast<const char*>(data), size);
    const screening::ServerAddress a = screening::SplitServer(server);
    fuzz::Require(Trimmed(a.Host) && Trimmed(a.Port), "host and port are trimmed");
    fuzz::Require(!a.Port.empty(), "a port is always named");
    fuzz::Require(Same(screening::SplitServer(" \t" + server + "\t "), a),
                  "blanks around the setting change nothing");

    if (a.Host.find_first_of("[]") != std::string::npos) return 0;
    const bool bracketed = a.Host.find(':') != std::string::npos;
    if (!bracketed && a.Port.find(':') != std::string::npos) return 0;
    const std::string joined = (bracketed ? "[" + a.Host + "]" : a.Host) + ":" + a.Port;
    fuzz::Require(Same(screening::SplitServer(joined), a), "host and port joined again: " + joined);
    return 0;
}
