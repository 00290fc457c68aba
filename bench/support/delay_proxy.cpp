// Puts a delay in front of any TCP server on this machine, for trying a client by hand
// against a "distant" server:
//
//   delay_proxy HOST PORT DELAY_MS
//
// Prints the port it listens on (127.0.0.1) and relays until interrupted.

#include "support/DelayProxy.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s HOST PORT DELAY_MS\n", argv[0]);
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // the relay thread inherits the mask
    try {
        testsupport::DelayProxy proxy(argv[1], static_cast<std::uint16_t>(std::atoi(argv[2])),
                                      std::chrono::milliseconds(std::atoi(argv[3])));
        std::printf("listening on 127.0.0.1:%u\n", proxy.Port());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
