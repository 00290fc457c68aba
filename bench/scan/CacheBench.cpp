// The second check of a mailbox that a check has seen before: morvandle-check (Check Only, no
// lists) through a delay proxy of 10 ms each way that hides PIPELINING from the CAPA reply, as
// the large providers do, so that every fetched header costs a round trip. Each round checks
// the mailbox with no header cache, adds 10 new messages, checks again (the known messages
// come from the cache), and runs python3's poplib bare TOP loop over the same mailbox. Then
// the lists change so that 3 cached messages are spam, 10 more messages arrive (one of them
// spam), and Check and Eat through the same delay must delete exactly those 4, as a check
// with HeaderCache=0 does on a twin mailbox.
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

// The sender of sample message n, which a spammers list entry can name.
std::string Sender(int n) {
    return "sender" + std::to_string(n) + "@example.org";
}

// Sorted, to compare two mailboxes whatever order the server lists them in.
std::vector<std::string> Sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

// The list change: Check and Eat of kUser's mailbox (its cache from the rounds) through the
// delay, against HeaderCache=0 on a twin mailbox of the same messages, straight to Dovecot.
int ListChange(testservers::DovecotServer& server, const testsupport::TempDir& programDir,
               const testsupport::TempDir& configDir, int messages) {
    constexpr const char* kTwin = "twin";
    server.AddUser(kTwin, kPassword);
    for (int n = 1; n <= messages; ++n)
        server.AddMessage(kTwin, Message(n));
    for (int n = messages + 1; n <= messages + kNew; ++n)
        for (const char* user : {kUser, kTwin})
            server.AddMessage(user, Message(n));
    // Three known messages and one of the new ones.
    const std::vector<int> spam = {17, messages / 2, messages - 1, messages + kNew / 2};
    std::vector<std::string> entries;
    for (int n : spam)
        entries.push_back(Sender(n));
    messages += kNew;
    testsupport::TempDir twinDir, twinConfig;
    std::filesystem::copy_file(programDir.File("morvandle-check"), twinDir.File("morvandle-check"));
    WriteListFile(programDir.File("spammers.txt"), entries);
    WriteListFile(twinDir.File("spammers.txt"), entries);
    WriteListFile(twinConfig.File("Morvandle.ini"),
                  {"[Config]", "Server=127.0.0.1:" + server.PortText(),
                   std::string("Login=") + kTwin, "Password=" + ScramblePassword(kPassword),
                   "Unknown=0", "Strict=0", "LogLevel=0", "Security=0", "HeaderCache=0"});
    double cached = 0, uncached = 0;
    const std::string cachedLast =
        RunCheckProcess(programDir.File("morvandle-check"), configDir.Path(), &cached, {"--eat"});
    const std::string uncachedLast =
        RunCheckProcess(twinDir.File("morvandle-check"), twinConfig.Path(), &uncached, {"--eat"});
    const std::vector<std::string> left = Sorted(server.Messages(kUser));
    const std::vector<std::string> twinLeft = Sorted(server.Messages(kTwin));
    int spamLeft = 0;
    for (const std::string& text : left)
        for (int n : spam)
            spamLeft += text.find("<" + Sender(n) + ">") != std::string::npos;
    const bool same = left == twinLeft && cachedLast == uncachedLast;
    std::printf("list change making 3 known messages and 1 new one spam, Check and Eat:\n"
                "  with the cache, through the delay: %.3f s, \"%s\" (%s)\n"
                "  HeaderCache=0, straight to Dovecot: %.3f s, \"%s\"\n"
                "  %zu of %d messages left, %d of the 4 spam among them; the mailboxes left %s\n",
                cached, cachedLast.c_str(), CacheLine(programDir.File("spammers.log")).c_str(),
                uncached, uncachedLast.c_str(), left.size(), messages, spamLeft,
                same ? "are the same" : "DIFFER");
    return same && spamLeft == 0 && left.size() == static_cast<std::size_t>(messages - 4) ? 0 : 1;
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
    std::fflush(stdout);
    return ListChange(server, programDir, configDir, messages);
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
