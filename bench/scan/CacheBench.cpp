// The second check of a mailbox that a check has seen before: morvandle-check (Check Only, no
// lists) through a delay proxy of 10 ms each way that hides PIPELINING from the CAPA reply, as
// the large providers do, so that every fetched header costs a round trip. Each round checks
// the mailbox with no header cache, adds 10 new messages, checks again (the known messages
// come from the cache), and runs python3's poplib bare TOP loop over the same mailbox.
//
//   bench_scan_cache [messages] [rounds] [delay ms each way]

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "support/BenchSupport.h"
#include "support/DelayProxy.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace benchsupport;

constexpr int kNew = 10;

std::string Expected(int messages) {
    return "Last Results - " + std::to_string(messages) + " Checked, " + std::to_string(messages) +
           " OK'd, 0 Eaten";
}

// The log's line on the cache, from the last check.
std::string CacheLine(const std::string& logFile) {
    std::ifstream in(logFile, std::ios::binary);
    std::string line, found;
    while (std::getline(in, line))
        if (const std::size_t at = line.find("Headers from cache"); at != std::string::npos)
            found = line.substr(at);
    return found;
}

int Rounds(testservers::DovecotServer& server, int messages, int rounds, int delayMs) {
    testsupport::DelayProxy proxy(server.Host(), static_cast<std::uint16_t>(server.Port()),
                                  std::chrono::milliseconds(delayMs), true);
    testsupport::TempDir programDir, configDir;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    {
        std::ofstream ini(configDir.File("Morvandle.ini"), std::ios::binary);
        ini << "[Config]\r\nServer=127.0.0.1:" << proxy.Port() << "\r\nLogin=" << kUser
            << "\r\nPassword=" << ScramblePassword(kPassword)
            << "\r\nUnknown=0\r\nStrict=0\r\nLogLevel=0\r\nSecurity=0\r\nHeaderCache=1\r\n";
    }
    std::vector<double> first, second, poplib;
    for (int round = 1; round <= rounds; ++round) {
        std::filesystem::remove(programDir.File("headers.cache"));
        double a = 0, b = 0;
        const std::string lastA =
            RunCheckProcess(programDir.File("morvandle-check"), configDir.Path(), &a);
        for (int n = messages + 1; n <= messages + kNew; ++n)
            server.AddMessage(kUser, Message(n));
        messages += kNew;
        const std::string lastB =
            RunCheckProcess(programDir.File("morvandle-check"), configDir.Path(), &b);
        const QJsonObject p = PoplibScan("127.0.0.1", proxy.Port());
        if (lastA != Expected(messages - kNew) || lastB != Expected(messages) || p.isEmpty() ||
            p["messages"].toInt() != messages) {
            std::fprintf(stderr, "round %d failed: \"%s\", \"%s\"; poplib %d messages\n", round,
                         lastA.c_str(), lastB.c_str(), p["messages"].toInt());
            return 1;
        }
        first.push_back(a);
        second.push_back(b);
        poplib.push_back(p["seconds"].toDouble());
        std::printf("round %d: first check %.2f s, second check %.3f s (%s), poplib loop %.2f s\n",
                    round, a, b, CacheLine(programDir.File("spammers.log")).c_str(),
                    p["seconds"].toDouble());
        std::fflush(stdout);
    }
    const double a = Median(first), b = Median(second), p = Median(poplib);
    std::printf("through a %d ms each-way delay without PIPELINING: median of %d rounds "
                "(%d messages, %d new for the second check):\n"
                "  first check (no cache), whole process:  %.2f s\n"
                "  second check (cache), whole process:    %.3f s\n"
                "  poplib bare TOP loop, connect to QUIT:  %.2f s\n"
                "  second check is %.1f times as fast as the first, %.1f times as fast as poplib\n",
                delayMs, rounds, messages, kNew, a, b, p, a / b, p / b);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 10;
    testservers::DovecotServer server;
    if (int status; !StartDovecot(server, &status)) return status;
    FillMailbox(server, messages);
    return Rounds(server, messages, rounds, delayMs);
}
