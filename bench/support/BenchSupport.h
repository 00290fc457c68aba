#pragma once

#include <QJsonObject>

#include <string>
#include <vector>

namespace testservers {
class DovecotServer;
}

namespace benchsupport {

// The one mailbox user of the benchmarks.
inline constexpr const char* kUser = "bench";
inline constexpr const char* kPassword = "secret";

// The header block of sample message n (LF line ends, 26 lines): six Received hops, From,
// To "Me <Me@Example.com>", Subject, Date, Message-ID and MIME lines.
std::string HeaderBlock(int n);
// Sample message n: its header block, a blank line and a body up to about 2 KB.
std::string Message(int n);

// What a mailbox benchmark runs with: "[messages] [rounds]" from its command line.
struct MailboxBenchArgs {
    int messages = 1000;
    int rounds = 5;
};

// Reads the arguments and starts the server with user kUser holding that many sample
// messages. When the benchmark cannot run, says why and returns false with its exit status
// in *status: 0 when dovecot is not installed, 1 when the server did not start.
bool StartMailboxBench(int argc, char** argv, testservers::DovecotServer& server,
                       MailboxBenchArgs* args, int* status);

// Runs the python3 poplib header scan (connect, USER, PASS, STAT, TOP n 0 for every
// message, QUIT) as kUser and returns its result: {"messages", "header_lines", "deleted",
// "seconds"}, where seconds runs from connect to the end of QUIT. Empty on failure, with
// the script's complaint on stderr.
QJsonObject PoplibScan(const testservers::DovecotServer& server);

double Median(std::vector<double> values);

// Argument `index` of the command line as a number, or `fallback` when it is not given.
int IntArg(int argc, char** argv, int index, int fallback);

} // namespace benchsupport
