#pragma once

#include "screening/ScanView.h"

#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace testservers {
class DovecotServer;
}

namespace benchsupport {

// A scan that shows nothing but keeps the status bar text, for the report.
struct SilentScanView : screening::TScanView {
    void SetProgressPosition(int) override {}
    void SetProgressMax(int) override {}
    void StepProgress(int) override {}
    void SetConnectionStatus(const std::string&) override {}
    void SetActivity(const std::string&) override {}
    void SetStatusBar(const std::string& text) override { statusBar = text; }
    void SetScanCommandsEnabled(bool) override {}
    void SetScanModeChecks(bool, bool) override {}
    void SetTrayAnimation(bool) override {}
    bool HiddenToTray() const override { return false; }
    void HideToTray() override {}
    std::string statusBar;
};

// Runs the program morvandle-check (as installed in a program folder) with its settings
// under configHome, to its exit; the last line it printed, or "" when it failed.
std::string RunCheckProcess(const std::string& program, const std::string& configHome,
                            double* seconds, const QStringList& args = {});

// The one mailbox user of the benchmarks.
inline constexpr const char* kUser = "bench";
inline constexpr const char* kPassword = "secret";

// The header block of sample message n (LF line ends, 26 lines): six Received hops, From,
// To "Me <Me@Example.com>", Subject, Date, Message-ID and MIME lines.
std::string HeaderBlock(int n);
// Sample message n: its header block, a blank line and a body up to about 2 KB.
std::string Message(int n);

// Starts the benchmark's Dovecot; when it cannot, says why and gives the exit status: 0 when
// dovecot is not installed (nothing to measure), 1 when it did not start.
bool StartDovecot(testservers::DovecotServer& server, int* status);

// What the rounds of a mailbox benchmark work with.
struct MailboxBench {
    const testservers::DovecotServer& server;
    int messages;
    int rounds;
};

// The frame of a mailbox benchmark: reads "[messages] [rounds]" (default 1000 and 5) from
// the command line, starts a local Dovecot whose user kUser holds that many sample messages,
// runs one poplib scan untimed (Dovecot builds its index in the first session; no side
// should pay for that), then runs `rounds` under a QCoreApplication. Returns the exit status:
// what `rounds` returns; 0 when dovecot is not installed, 1 when the server did not start.
int RunMailboxBench(int argc, char** argv, const std::function<int(const MailboxBench&)>& rounds);

// Gives the running server the user kUser with `messages` sample messages, and runs one
// poplib scan untimed (Dovecot builds its index in the first session).
void FillMailbox(testservers::DovecotServer& server, int messages, bool tls = false);

// Runs the python3 poplib header scan (connect, USER, PASS, STAT, TOP n 0 for every
// message, QUIT) as kUser and returns its result: {"messages", "header_lines", "deleted",
// "seconds"}, where seconds runs from connect to the end of QUIT. Empty on failure, with
// the script's complaint on stderr. With tls: poplib.POP3_SSL on the server's POP3S port,
// trusting its test CA.
QJsonObject PoplibScan(const testservers::DovecotServer& server, bool tls = false);
// The same, plain POP3 to any host and port (a proxy in front of the server, say).
QJsonObject PoplibScan(const std::string& host, int port);

double Median(std::vector<double> values);

// The lists of the whole-process benchmarks: 10,000 spammer entries that match no sample
// message, and 99 addresses that occur nowhere followed by the sample's own recipient, so
// that every message is from a known user and the spammer search runs on each.
std::vector<std::string> SpammerEntries();
std::vector<std::string> AddressEntries();
// One entry a line, CR LF ends, as the lists are saved.
void WriteListFile(const std::string& path, const std::vector<std::string>& lines);

// The floor of any header scan: a raw blocking socket that logs in as kUser, sends all
// `messages` "TOP n 0" commands in one write, reads the replies to their ends and QUITs.
// Seconds from connect to QUIT's answer; negative when a reply was not as expected.
double RawTopFloor(const std::string& host, int port, int messages);

} // namespace benchsupport
