#include "support/BenchSupport.h"

#include "servers/DovecotServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace benchsupport {

std::string HeaderBlock(int n) {
    std::string h;
    for (int hop = 0; hop < 6; ++hop)
        h += "Received: from relay" + std::to_string(hop) + ".example.net (relay" +
             std::to_string(hop) + ".example.net [192.0.2." + std::to_string(hop + 1) +
             "])\n\tby mx.example.com with ESMTP id " + std::to_string(100000 + n * 7 + hop) +
             "\n\tfor <me@example.com>; Mon, 7 Dec 2026 10:00:00 +0000\n";
    h += "From: Sender " + std::to_string(n) + " <sender" + std::to_string(n) + "@example.org>\n";
    h += "To: Me <Me@Example.com>\nSubject: Message number " + std::to_string(n) + "\n";
    h += "Date: Mon, 7 Dec 2026 10:00:00 +0000\nMessage-ID: <" + std::to_string(n) +
         "@example.org>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n";
    return h;
}

std::string Message(int n) {
    std::string m = HeaderBlock(n) + "\n";
    while (m.size() < 2048)
        m += "Body text of a benchmark message, long enough to look like real mail.\n";
    return m;
}

bool StartDovecot(testservers::DovecotServer& server, int* status) {
    if (!testservers::DovecotServer::Available()) {
        std::printf("dovecot is not installed: benchmark skipped\n");
        *status = 0;
        return false;
    }
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        *status = 1;
        return false;
    }
    return true;
}

int RunMailboxBench(int argc, char** argv, const std::function<int(const MailboxBench&)>& rounds) {
    QCoreApplication app(argc, argv);
    auto intArg = [&](int index, int fallback) {
        return argc > index ? std::atoi(argv[index]) : fallback;
    };
    const int messages = intArg(1, 1000);
    const int roundCount = std::max(1, intArg(2, 5));
    testservers::DovecotServer server;
    if (int status; !StartDovecot(server, &status)) return status;
    FillMailbox(server, messages);
    return rounds({server, messages, roundCount});
}

void FillMailbox(testservers::DovecotServer& server, int messages, bool tls) {
    server.AddUser(kUser, kPassword);
    for (int n = 1; n <= messages; ++n)
        server.AddMessage(kUser, Message(n));
    PoplibScan(server, tls);
}

namespace {
QJsonObject RunPoplibScan(const std::string& host, int port, const std::string& caFile) {
    QProcess py;
    QStringList args{MORVANDLE_POPLIB_SCAN,
                     "--host",
                     QString::fromStdString(host),
                     "--port",
                     QString::number(port),
                     "--user",
                     kUser,
                     "--password",
                     kPassword};
    if (!caFile.empty()) args << "--tls" << QString::fromStdString(caFile);
    py.start("python3", args);
    if (!py.waitForFinished(300000) || py.exitCode() != 0) {
        std::fprintf(stderr, "poplib scan failed: %s\n", py.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object();
}
} // namespace

QJsonObject PoplibScan(const testservers::DovecotServer& server, bool tls) {
    return RunPoplibScan(server.Host(), tls ? server.TlsPort() : server.Port(),
                         tls ? server.CaFile() : "");
}

QJsonObject PoplibScan(const std::string& host, int port) {
    return RunPoplibScan(host, port, "");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string RunCheckProcess(const std::string& program, const std::string& configHome,
                            double* seconds) {
    QProcess check;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
    check.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    check.start(QString::fromStdString(program), {});
    check.waitForFinished(600000);
    *seconds = timer.nsecsElapsed() / 1e9;
    if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) return "";
    return QString::fromUtf8(check.readAllStandardOutput())
        .trimmed()
        .split('\n')
        .back()
        .toStdString();
}

} // namespace benchsupport
