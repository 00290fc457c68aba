// morvandle-check (Check Only, no lists) over 1,000 messages on a local Dovecot seen through a
// delay proxy that holds every byte 10 ms each way, as a server 20 ms away would be, side
// by side with python3's poplib running the bare USER/PASS/STAT/TOP/QUIT loop through the
// same proxy. A client that waits for each reply before its next command needs at least one
// round trip per message; only one that keeps several requests in flight can beat that.
//
//   bench_scan_delay [messages] [rounds] [delay ms each way]

#include "config/dataConfig.h"
#include "servers/DovecotServer.h"
#include "support/BenchSupport.h"
#include "support/DelayProxy.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace benchsupport;

int Rounds(const MailboxBench& bench, int delayMs) {
    testsupport::DelayProxy proxy(bench.server.Host(),
                                  static_cast<std::uint16_t>(bench.server.Port()),
                                  std::chrono::milliseconds(delayMs));
    testsupport::TempDir programDir, configDir;
    std::filesystem::copy_file(MORVANDLE_CHECK_BINARY, programDir.File("morvandle-check"));
    {
        std::ofstream ini(configDir.File("Morvandle.ini"), std::ios::binary);
        ini << "[Config]\r\nServer=127.0.0.1:" << proxy.Port() << "\r\nLogin=" << kUser
            << "\r\nPassword=" << ScramblePassword(kPassword)
            << "\r\nUnknown=0\r\nStrict=0\r\nLogLevel=0\r\nSecurity=0\r\nHeaderCache=0\r\n";
    }
    const std::string expected = "Last Results - " + std::to_string(bench.messages) + " Checked, " +
                                 std::to_string(bench.messages) + " OK'd, 0 Eaten";
    std::vector<double> ours, theirs;
    for (int round = 1; round <= bench.rounds; ++round) {
        double checkSeconds = 0;
        const std::string last =
            RunCheckProcess(programDir.File("morvandle-check"), configDir.Path(), &checkSeconds);
        const QJsonObject p = PoplibScan("127.0.0.1", proxy.Port());
        if (last != expected || p.isEmpty() || p["messages"].toInt() != bench.messages) {
            std::fprintf(stderr,
                         "round %d failed: morvandle-check said \"%s\"; poplib %d messages\n",
                         round, last.c_str(), p["messages"].toInt());
            return 1;
        }
        ours.push_back(checkSeconds);
        theirs.push_back(p["seconds"].toDouble());
        std::printf("round %d: morvandle-check %.2f s, poplib loop %.2f s\n", round, checkSeconds,
                    p["seconds"].toDouble());
        std::fflush(stdout);
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("through a %d ms each-way delay: median of %d rounds (%d messages):\n"
                "  morvandle-check, whole process:                       %.2f s\n"
                "  poplib USER/PASS/STAT/TOP/QUIT loop, connect to QUIT: %.2f s\n"
                "  one round trip per message would take at least:       %.2f s\n"
                "  morvandle-check is %.2f times as fast as poplib\n",
                delayMs, bench.rounds, bench.messages, a, b, bench.messages * 2 * delayMs / 1e3,
                b / a);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 10;
    return RunMailboxBench(argc, argv,
                           [delayMs](const MailboxBench& bench) { return Rounds(bench, delayMs); });
}
