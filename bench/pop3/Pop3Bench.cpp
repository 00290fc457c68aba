// Header scan (USER, PASS, STAT, TOP n 0 for every message, QUIT) of 1,000 messages of about
// 2 KB on a local Dovecot, driven by TPop3Cli, side by side with python3's poplib doing the
// same on the same server in the same run.
//
//   bench_pop3 [messages] [rounds]

#include "net/Pop3Prot.h"
#include "servers/DovecotServer.h"
#include "servers/Pop3HeaderScan.h"
#include "support/BenchSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace benchsupport;

struct ClientResult {
    double seconds = 0;
    int messages = 0;
    int headerLines = 0;
    int error = 0;
};

ClientResult ClientScan(const testservers::DovecotServer& server) {
    TPop3Cli cli;
    cli.SetHost(server.Host());
    cli.SetPort(server.PortText());
    cli.SetUserName(kUser);
    cli.SetPassWord(kPassword);
    ClientResult r;
    QEventLoop loop;
    cli.OnMessageLine = [&](TCustomPop3Cli*) { ++r.headerLines; };
    cli.OnRequestDone = [&](TCustomPop3Cli*, TPop3Request rq, std::uint16_t error) {
        if (error != 0)
            r.error = error;
        else if (rq == pop3Top)
            ++r.messages;
    };
    testservers::ChainHeaderScan(cli, [&] { loop.quit(); });
    QTimer::singleShot(120000, &loop, [&] {
        r.error = -1;
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    cli.Connect();
    loop.exec();
    r.seconds = timer.nsecsElapsed() / 1e9;
    return r;
}

int Rounds(const MailboxBench& bench) {
    const int messages = bench.messages, rounds = bench.rounds;
    std::vector<double> ours, theirs;
    for (int round = 1; round <= rounds; ++round) {
        ClientResult c = ClientScan(bench.server);
        QJsonObject p = PoplibScan(bench.server);
        if (c.error != 0 || c.messages != messages || p.isEmpty() ||
            p["messages"].toInt() != messages || p["header_lines"].toInt() != c.headerLines) {
            std::fprintf(stderr,
                         "round %d: results differ or failed: TPop3Cli error %d, %d messages, "
                         "%d header lines; poplib %d messages, %d header lines\n",
                         round, c.error, c.messages, c.headerLines, p["messages"].toInt(),
                         p["header_lines"].toInt());
            return 1;
        }
        ours.push_back(c.seconds);
        theirs.push_back(p["seconds"].toDouble());
        std::printf("round %d: TPop3Cli %.3f s, poplib %.3f s (%d messages, %d header lines)\n",
                    round, c.seconds, p["seconds"].toDouble(), messages, c.headerLines);
    }
    double a = Median(ours), b = Median(theirs);
    std::printf("median of %d rounds: TPop3Cli %.3f s, poplib %.3f s, ratio TPop3Cli/poplib %.2f\n",
                rounds, a, b, a / b);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return RunMailboxBench(argc, argv, Rounds);
}
