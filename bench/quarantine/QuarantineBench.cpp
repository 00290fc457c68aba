// Check and Eat of 1,000 spam messages of about 5 KB on a local Dovecot, with the quarantine
// (RETR, append to quarantine.mbox, fsync, DELE) and without it (DELE alone), in process,
// from Connect to the report. Each round fills two fresh mailboxes and runs both, in
// alternating order.
//
//   bench_quarantine [messages] [rounds]

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "platform/Paths.h"
#include "screening/Pop3Settings.h"
#include "screening/Quarantine.h"
#include "screening/ScanSession.h"
#include "servers/DovecotServer.h"
#include "support/BenchSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using NoView = benchsupport::SilentScanView;

// Sample message n with a spammer's address in From and a body that brings it to ~5 KB.
std::string SpamMessage(int n) {
    std::string text = benchsupport::HeaderBlock(n);
    const std::string sender = "@example.org>";
    const std::size_t at = text.find(sender);
    if (at != std::string::npos) text.replace(at, sender.size(), "@bulk-mail.example>");
    text += "\n";
    for (int line = 0; text.size() < 5000; ++line)
        text += "Special offer line " + std::to_string(line) + ": " + std::string(60, 'x') + "\n";
    return text;
}

double EatAll(const testservers::DovecotServer& server, const std::string& user, bool quarantine,
              const std::string& logFile, std::string* result) {
    TConfigData config;
    config.Server = server.Host() + ":" + server.PortText();
    config.Login = user;
    config.Password = benchsupport::kPassword;
    config.SpammerList = {"bulk-mail.example"};
    config.Quarantine = quarantine;
    config.HeaderCache = false; // every round fetches every header
    TkelLog log;
    log.SetArchiveMode(bkNone);
    log.SetLogFileName(logFile);
    TPop3Cli client;
    screening::ApplyPop3Settings(client, config);
    NoView view;
    screening::TScanSession session(client, log, config, view);
    QEventLoop loop;
    session.OnScanEnd = [&] { loop.quit(); };
    QElapsedTimer timer;
    timer.start();
    session.StartScan(true);
    if (session.Busy()) loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *result = view.statusBar;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    testservers::DovecotServer server;
    if (int status; !benchsupport::StartDovecot(server, &status)) return status;
    testsupport::TempDir programDir;
    platform::SetProgramDirOverride(programDir.Path());
    // Every user before the first login (the server re-reads its user list once a second).
    std::vector<std::string> users;
    for (int r = 0; r < 2 * rounds + 2; ++r) {
        users.push_back("eat" + std::to_string(r));
        server.AddUser(users.back(), benchsupport::kPassword);
        for (int n = 1; n <= messages; ++n)
            server.AddMessage(users.back(), SpamMessage(n));
    }
    const std::string expected = "Last Results - " + std::to_string(messages) +
                                 " Checked, 0 OK'd, " + std::to_string(messages) + " Eaten";
    std::string result;
    // One untimed run of each kind: Dovecot builds its index on the first session.
    EatAll(server, users[0], true, programDir.File("spammers.log"), &result);
    EatAll(server, users[1], false, programDir.File("spammers.log"), &result);
    std::vector<double> with, without;
    for (int r = 0; r < rounds; ++r) {
        std::filesystem::remove(screening::QuarantinePath());
        for (bool quarantine :
             r % 2 == 0 ? std::vector<bool>{true, false} : std::vector<bool>{false, true}) {
            const std::string& user = users[2 + 2 * r + (quarantine ? 0 : 1)];
            const double s =
                EatAll(server, user, quarantine, programDir.File("spammers.log"), &result);
            if (result != expected || !server.Messages(user).empty()) {
                std::fprintf(stderr, "round %d: the scan said \"%s\"\n", r + 1, result.c_str());
                return 1;
            }
            (quarantine ? with : without).push_back(s);
        }
        std::printf("round %d: with quarantine %.3f s (quarantine.mbox %llu bytes), "
                    "without %.3f s\n",
                    r + 1, with.back(),
                    static_cast<unsigned long long>(
                        std::filesystem::file_size(screening::QuarantinePath())),
                    without.back());
    }
    const double a = benchsupport::Median(with), b = benchsupport::Median(without);
    std::printf("median of %d rounds, Check and Eat of %d spam messages of about 5 KB:\n"
                "  with quarantine %.3f s, without %.3f s, ratio %.2f\n",
                rounds, messages, a, b, a / b);
    return 0;
}
