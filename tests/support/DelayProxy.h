#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

// A TCP relay on 127.0.0.1 that holds every byte for a fixed time in each direction before
// passing it on, so that a local server looks like one across a real network: a request
// and its reply take twice the delay more, while bytes sent close together also arrive
// close together (the relay never waits for one chunk before taking the next). Each
// connection accepted is relayed to its own new connection to the target; an end of data
// is passed on after the same delay, as a half close. It runs on its own thread, so it
// serves clients in this process (on any event loop) and in other processes alike.
class DelayProxy {
  public:
    // Listens on a kernel-chosen port; throws std::runtime_error when it cannot.
    // hidePipelining drops every line "PIPELINING" the server sends, so that a POP3 server
    // looks like the large providers, which do not offer it in their CAPA reply.
    DelayProxy(const std::string& targetHost, std::uint16_t targetPort,
               std::chrono::milliseconds delay, bool hidePipelining = false);
    // Stops relaying and closes every connection.
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    std::uint16_t Port() const { return port_; }

  private:
    struct Relay;
    std::uint16_t port_ = 0;
    std::unique_ptr<Relay> relay_;
};

} // namespace testsupport
