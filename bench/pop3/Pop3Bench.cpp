// Header scan (USER, PASS, STAT, TOP n 0 for every message, QUIT) of 1,000 messages of about
// 2 KB on a local Dovecot, driven by TPop3Cli, side by side with python3's poplib doing the
// same on the same server in the same run.
//
//   bench_pop3 [messages] [rounds]

#include "net/Pop3Prot.h"
#include "servers/DovecotServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const kUser = "bench";
const char* const kPassword = "secret";

// About 2 KB: a realistic header block and a short body.
std::string BenchMessage(int n) {
    std::string m;
    for (int hop = 0; hop < 6; ++hop)
        m += "Received: from relay" + std::to_string(hop) + ".example.net (relay" +
             std::to_string(hop) + ".example.net [192.0.2." + std::to_string(hop + 1) +
             "])\n\tby mx.example.com with ESMTP id " + std::to_string(100000 + n * 7 + hop) +
             "\n\tfor <me@example.com>; Mon, 7 Dec 2026 10:00:00 +0000\n";
    m += "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) + "@example.org>\n";
    m += "To: me@example.com\nSubject: Message number " + std::to_string(n) + "\n";
    m += "Date: Mon, 7 Dec 2026 10:00:00 +0000\nMessage-ID: <" + std::to_string(n) +
         "@example.org>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n\n";
    while (m.size() < 2048)
        m += "Body text of a benchmark message, long enough to look like real mail.\n";
    return m;
}

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
    cli.OnRequestDone = [&](TCustomPop3Cli* c, TPop3Request rq, std::uint16_t error) {
        if (error != 0 || rq == pop3Quit) {
            r.error = error;
            loop.quit();
            return;
        }
        switch (rq) {
        case pop3Connect:
            return c->User();
        case pop3User:
            return c->Pass();
        case pop3Pass:
            return c->Stat();
        case pop3Top:
            ++r.messages;
            [[fallthrough]];
        case pop3Stat:
            if (r.messages >= c->MsgCount()) return c->Quit();
            c->SetMsgNum(r.messages + 1);
            c->SetMsgLines(0);
            return c->Top();
        default:
            loop.quit();
        }
    };
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

QJsonObject PoplibScan(const testservers::DovecotServer& server) {
    QProcess py;
    py.start("python3",
             {MORVANDLE_POPLIB_SCAN, "--host", QString::fromStdString(server.Host()), "--port",
              QString::number(server.Port()), "--user", kUser, "--password", kPassword});
    if (!py.waitForFinished(120000) || py.exitCode() != 0) {
        std::fprintf(stderr, "poplib scan failed: %s\n", py.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (!testservers::DovecotServer::Available()) {
        std::printf("dovecot is not installed: benchmark skipped\n");
        return 0;
    }
    testservers::DovecotServer server;
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    server.AddUser(kUser, kPassword);
    for (int n = 1; n <= messages; ++n)
        server.AddMessage(kUser, BenchMessage(n));

    // The first session makes Dovecot build its index; neither side should pay for that.
    PoplibScan(server);

    std::vector<double> ours, theirs;
    for (int round = 1; round <= rounds; ++round) {
        ClientResult c = ClientScan(server);
        QJsonObject p = PoplibScan(server);
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
