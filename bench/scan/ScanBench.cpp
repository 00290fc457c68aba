// morvandle-check (Check Only, standard address check, case-insensitive spammer search) over
// 1,000 messages of about 2 KB on a local Dovecot, with a 10,000-entry spammers list that
// matches nothing and a 100-entry address list, and again with no lists, side by side with
// python3's poplib running the bare USER/PASS/STAT/TOP/QUIT loop on the same server in the same
// run, and with the floor of any scan: a raw socket that sends all the TOPs at once and reads
// the replies. Also times the screening rules alone on the same headers. Then the same over
// POP3S, on a second Dovecot that requires TLS, against poplib.POP3_SSL (no floor there).
//
//   bench_scan [messages] [rounds] [morvandle-check to time instead of this build's]

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "screening/HeaderRules.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "servers/DovecotServer.h"
#include "support/BenchSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace benchsupport;

std::string checkBinary = MORVANDLE_CHECK_BINARY;

struct ScreeningTimes {
    double firstMessage = 0; // includes building both search automatons
    double perMessage = 0;   // the other messages
};

using NoView = benchsupport::SilentScanView;

// The scan session in this process, as morvandle-check runs it but without the process
// start, the settings and list files and the automaton build: from Connect to the report,
// like the poplib loop. The session and its rules are kept from one call to the next.
struct InProcessScan {
    TConfigData config;
    TkelLog log;
    TPop3Cli client;
    NoView view;
    screening::TScanSession session{client, log, config, view};

    InProcessScan(const testservers::DovecotServer& server, bool tls, const std::string& logFile) {
        config.Server = server.Host() + ":" + (tls ? server.TlsPortText() : server.PortText());
        config.Security = tls ? 1 : 0;
        config.CAFile = tls ? server.CaFile() : "";
        config.Login = kUser;
        config.Password = kPassword;
        config.Unknown = true;
        config.NoCase = true;
        config.GoodAddrList = AddressEntries();
        config.SpammerList = SpammerEntries();
        screening::ApplyPop3Settings(client, config);
        log.SetArchiveMode(bkNone);
        log.SetTimestampFormat("dd mmm yyyy hh:nn:ss ");
        log.SetLogFileName(logFile);
    }

    double Run() {
        QEventLoop loop;
        session.OnScanEnd = [&] { loop.quit(); };
        QElapsedTimer timer;
        timer.start();
        session.StartScan(false);
        if (session.Busy()) loop.exec();
        const double seconds = timer.nsecsElapsed() / 1e9;
        // The scan ends with QUIT's answer; the server's close (after its close alert, over
        // TLS) comes in after it, and the client takes the next Connect only then. No event
        // loop runs between rounds, so it is let in here, untimed.
        QElapsedTimer closing;
        closing.start();
        while (!client.ConnectionClosed() && closing.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return seconds;
    }
};

// The two rules on every message's header lines (as TOP returns them), in process.
ScreeningTimes TimeScreening(int messages) {
    std::vector<std::vector<std::string>> headers;
    for (int n = 1; n <= messages; ++n) {
        std::vector<std::string> lines;
        std::string block = HeaderBlock(n);
        for (std::size_t at = 0, end; (end = block.find('\n', at)) != std::string::npos;
             at = end + 1)
            lines.push_back(block.substr(at, end - at));
        lines.push_back("");
        headers.push_back(lines);
    }
    const auto good = AddressEntries();
    const auto spam = SpammerEntries();
    NoView bar;
    int logLines = 0;
    screening::THeaderRules rules(bar, [&](const std::string&) { ++logLines; });
    // Stamped, as the scan session passes the lists of its configuration.
    screening::ScreeningInput input{good, spam, true, false, true, false, 1};
    ScreeningTimes times;
    int clean = 0;
    QElapsedTimer timer;
    timer.start();
    for (int n = 0; n < messages; ++n) {
        if (!rules.ValidAddressCheck(headers[n], input).empty() &&
            rules.SpammerCheck(headers[n], input).empty())
            ++clean;
        if (n == 0) {
            times.firstMessage = timer.nsecsElapsed() / 1e9;
            timer.restart();
        }
    }
    times.perMessage = timer.nsecsElapsed() / 1e9 / std::max(1, messages - 1);
    if (clean != messages || logLines != 0)
        std::fprintf(stderr, "screening gave %d clean of %d\n", clean, messages);
    return times;
}

// A copy of morvandle-check in a folder of its own with its settings: with the two lists and
// the address check on, or with no lists and no address check; with the header cache (the
// default) or without it.
struct CheckSetup {
    testsupport::TempDir programDir, configDir;

    CheckSetup(const testservers::DovecotServer& server, bool tls, bool lists,
               bool headerCache = false) {
        const std::string port = tls ? server.TlsPortText() : server.PortText();
        std::filesystem::copy_file(checkBinary, programDir.File("morvandle-check"));
        if (lists) {
            WriteListFile(programDir.File("spammers.txt"), SpammerEntries());
            WriteListFile(programDir.File("GoodAddr.txt"), AddressEntries());
        }
        WriteListFile(
            configDir.File("Morvandle.ini"),
            {"[Config]", "Server=" + server.Host() + ":" + port, std::string("Login=") + kUser,
             "Password=" + ScramblePassword(kPassword), lists ? "Unknown=1" : "Unknown=0",
             "Strict=0", "NoCase=1", "LogLevel=0", headerCache ? "HeaderCache=1" : "HeaderCache=0",
             tls ? "Security=1" : "Security=0", "CAFile=" + (tls ? server.CaFile() : "")});
    }

    // The whole process; the last line it printed, "" when it failed.
    std::string Run(double* seconds) const {
        return RunCheckProcess(programDir.File("morvandle-check"), configDir.Path(), seconds);
    }
};

// The timed rounds on one server, plain or over POP3S.
int RunRounds(const testservers::DovecotServer& server, int messages, int rounds, bool tls) {
    const CheckSetup withLists(server, tls, true), noLists(server, tls, false),
        cached(server, tls, true, true);
    InProcessScan inProcess(server, tls, withLists.programDir.File("in-process.log"));
    inProcess.Run(); // builds the search automatons once, as a running window would have
    const std::string expected = "Last Results - " + std::to_string(messages) + " Checked, " +
                                 std::to_string(messages) + " OK'd, 0 Eaten";
    double cachedSeconds = 0;
    cached.Run(&cachedSeconds); // fills its header cache
    std::vector<double> ours, bare, theirs, session, raw, known;
    for (int round = 1; round <= rounds; ++round) {
        double checkSeconds = 0, bareSeconds = 0;
        std::string last = withLists.Run(&checkSeconds);
        std::string bareLast = noLists.Run(&bareSeconds);
        std::string cachedLast = cached.Run(&cachedSeconds);
        QJsonObject p = PoplibScan(server, tls);
        const double floorSeconds = tls ? 0 : RawTopFloor(server.Host(), server.Port(), messages);
        if (last != expected || bareLast != expected || cachedLast != expected || p.isEmpty() ||
            p["messages"].toInt() != messages || floorSeconds < 0) {
            std::fprintf(stderr,
                         "round %d failed: morvandle-check said \"%s\" and, without lists, "
                         "\"%s\"; poplib %d messages\n",
                         round, last.c_str(), bareLast.c_str(), p["messages"].toInt());
            return 1;
        }
        const double sessionSeconds = inProcess.Run();
        if (inProcess.view.statusBar != expected) {
            std::fprintf(stderr, "round %d: the in-process scan said \"%s\"\n", round,
                         inProcess.view.statusBar.c_str());
            return 1;
        }
        ours.push_back(checkSeconds);
        bare.push_back(bareSeconds);
        theirs.push_back(p["seconds"].toDouble());
        session.push_back(sessionSeconds);
        raw.push_back(floorSeconds);
        known.push_back(cachedSeconds);
        std::printf("round %d: morvandle-check %.3f s (no lists %.3f s, header cache %.3f s), "
                    "scan session in process %.3f s, poplib loop %.3f s, raw floor %.3f s\n",
                    round, checkSeconds, bareSeconds, cachedSeconds, sessionSeconds,
                    p["seconds"].toDouble(), floorSeconds);
    }
    const double a = Median(ours), b = Median(theirs), c = Median(session), d = Median(bare),
                 f = Median(raw), k = Median(known);
    std::printf("%s: median of %d rounds (%d messages, 10000 spammer entries, 100 addresses):\n"
                "  morvandle-check, whole process (start, settings, lists, automatons, scan): "
                "%.3f s\n"
                "  the same with no lists and no address check:                              "
                "%.3f s\n"
                "  the same with the lists, every header from the header cache (default):    "
                "%.3f s\n"
                "  scan session in process, Connect to report:                               "
                "%.3f s\n"
                "  poplib USER/PASS/STAT/TOP/QUIT loop, connect to QUIT:                     "
                "%.3f s\n"
                "  ratio morvandle-check / poplib %.2f (no lists %.2f), scan session / poplib "
                "%.2f\n",
                tls ? "POP3S" : "plain POP3", rounds, messages, a, d, k, c, b, a / b, d / b, c / b);
    if (!tls)
        std::printf("  raw socket, all TOPs in one write, connect to QUIT:                     "
                    "%.3f s\n"
                    "  ratio morvandle-check / floor %.2f (no lists %.2f, header cache %.2f), "
                    "scan session / floor %.2f\n",
                    f, a / f, d / f, k / f, c / f);
    return 0;
}

int Rounds(const MailboxBench& bench) {
    if (int status = RunRounds(bench.server, bench.messages, bench.rounds, false)) return status;
    const ScreeningTimes t = TimeScreening(bench.messages);
    std::printf("screening alone (both rules, in process): first message %.1f ms (builds the "
                "search automatons), then %.1f us per message\n",
                t.firstMessage * 1e3, t.perMessage * 1e6);

    testservers::DovecotServer tlsServer;
    tlsServer.EnableTls();
    std::string error;
    if (!tlsServer.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    FillMailbox(tlsServer, bench.messages, true);
    return RunRounds(tlsServer, bench.messages, bench.rounds, true);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 3) checkBinary = argv[3];
    return RunMailboxBench(argc, argv, Rounds);
}
