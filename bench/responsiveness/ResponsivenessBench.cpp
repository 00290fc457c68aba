// How long the event loop waits for its next turn while the program's longer jobs run: the
// load of 100,000-entry address and spammer lists, the save of the spammers list, the
// builds of both searches, the merge of a 10,000-line update into 100,000 entries and a
// Check Only scan of 1,000 messages on a local Dovecot. Each job is posted to the loop as a
// click would be; a 1 ms timer stamps every turn, and the longest distance between two stamps
// while the job runs is its gap. A window repaints and answers input only on a turn. Each
// job runs `rounds` times; the first round of a search build also pays for what a process
// builds once (the sample of ordinary mail that the over-broad-entry test reads).
//
//   bench_responsiveness [entries] [update lines] [messages] [rounds]
#include "support/BenchSupport.h"
#include "support/ListFolder.h"
#include "support/QuietUpdateView.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/Pop3Prot.h"
#include "screening/FirstEntryMatcher.h"
#include "screening/HeaderRules.h"
#include "screening/Pop3Settings.h"
#include "screening/ScanSession.h"
#include "servers/DovecotServer.h"
#include "update/UpdateMerge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kAimMs = 50;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct StepResult {
    double workMs = 0;
    double gapMs = 0;
};

// Runs the job posted to the event loop with the turn stamper going. The job receives `done`
// and calls it when it is over: before it returns, or later for a job that goes on through
// the loop (the scan).
StepResult Measure(const std::function<void(std::function<void()> done)>& job) {
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    Clock::time_point last = Clock::now(), started, ended;
    double gap = 0;
    bool running = false;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        if (running || ended != Clock::time_point()) gap = std::max(gap, Ms(now - last));
        last = now;
    });
    ticker.start();
    auto done = [&] {
        ended = Clock::now();
        running = false;
        // A few more turns, so that the turn after the job is stamped too.
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
    };
    QTimer::singleShot(10, &loop, [&] {
        running = true;
        started = Clock::now();
        // The distance from the last turn before the job counts as well.
        gap = std::max(gap, Ms(started - last));
        job(done);
    });
    loop.exec();
    ticker.stop();
    return {Ms(ended - started), gap};
}

int rounds = 3;

// Runs the job `rounds` times (`reset` before each) and prints the work's median and the
// first, median and longest gap; false when a gap passes the aim.
bool Report(const std::string& step, const std::function<void(std::function<void()>)>& job,
            const std::function<void()>& reset = {}) {
    std::vector<double> work, gaps;
    for (int round = 0; round < rounds; ++round) {
        if (reset) reset();
        const StepResult r = Measure(job);
        work.push_back(r.workMs);
        gaps.push_back(r.gapMs);
    }
    const double first = gaps.front(), longest = *std::max_element(gaps.begin(), gaps.end());
    const bool ok = longest <= kAimMs;
    std::printf("%-44s work %7.1f ms   gap: first %6.1f  median %6.1f  longest %6.1f ms%s\n",
                step.c_str(), benchsupport::Median(work), first, benchsupport::Median(gaps),
                longest, ok ? "" : "   OVER 50 ms");
    std::fflush(stdout);
    return ok;
}

struct NoProgress : screening::TProgressDisplay {
    void SetProgressPosition(int) override {}
    void SetProgressMax(int) override {}
    void StepProgress(int) override {}
};

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& l : lines)
        out << l << "\r\n";
}

// Half the lines covered by an entry of the list, the rest new.
std::vector<std::string> UpdateLines(int count, int entries) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(i % 2 == 0
                            ? "re: spammer" + std::to_string((i * 7919) % entries) + "@bulk-mail-" +
                                  std::to_string((i * 7919) % entries % 997) + ".example"
                            : "offer" + std::to_string(i) + "@new-" + std::to_string(i % 313) +
                                  ".example");
    return lines;
}

// A Check Only scan of the lists as they stand; its first round builds the searches.
bool Scan(TConfigData& config, TkelLog& log, int messages) {
    testservers::DovecotServer server;
    int status = 0;
    if (!benchsupport::StartDovecot(server, &status)) return status == 0;
    benchsupport::FillMailbox(server, messages);
    config.Server = server.Host() + ":" + server.PortText();
    config.Login = benchsupport::kUser;
    config.Password = benchsupport::kPassword;
    config.Quarantine = false;
    config.HeaderCache = false; // every round fetches every header
    TPop3Cli client;
    screening::ApplyPop3Settings(client, config);
    benchsupport::SilentScanView view;
    screening::TScanSession session(client, log, config, view);
    std::function<void()> scanDone;
    session.OnScanEnd = [&scanDone] {
        if (scanDone) scanDone();
    };
    const bool ok =
        Report("scan " + std::to_string(messages) + " messages (Check Only)", [&](auto done) {
            scanDone = done;
            session.StartScan(false);
        });
    std::printf("  scan: %s\n", view.statusBar.c_str());
    return ok;
}

int Run(int entries, int updateLines, int messages) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    {
        std::vector<std::string> addresses;
        for (int i = 0; i < entries - 1; ++i)
            addresses.push_back("friend" + std::to_string(i) + "@nowhere" +
                                std::to_string(i % 503) + ".example");
        addresses.push_back("me@example.com");
        WriteLines(folder + "/GoodAddr.txt", addresses);
    }
    benchsupport::UseListFolder(folder, entries);
    TConfigData& config = *ConfigData;
    config.Unknown = true; // the address search is built and runs too
    std::printf("%d address entries, %d spammer entries\n", int(config.GoodAddrList.size()),
                int(config.SpammerList.size()));
    bool ok = true;

    ok &= Report("load address list", [](auto done) {
        LoadAddressList();
        done();
    });
    ok &= Report("load spammers list", [](auto done) {
        LoadSpammerList();
        done();
    });
    ok &= Report("save spammers list", [](auto done) {
        SaveSpammerList();
        done();
    });

    NoProgress progress;
    std::vector<std::string> header = {"From: someone@somewhere.example", "To: me@example.com",
                                       "Subject: hello"};
    auto input = [&config] {
        return screening::ScreeningInput{config.GoodAddrList, config.SpammerList, config.Unknown,
                                         config.Strict,       config.NoCase,      config.LogLevel,
                                         config.ListsStamp()};
    };
    // Fresh rules each round, as a scan that meets changed lists builds afresh.
    ok &= Report("build address search", [&](auto done) {
        screening::THeaderRules rules(progress, [](const std::string&) {});
        rules.ValidAddressCheck(header, input());
        done();
    });
    ok &= Report("build spammer search", [&](auto done) {
        screening::THeaderRules rules(progress, [](const std::string&) {});
        rules.SpammerCheck(header, input());
        done();
    });
    // The two parts of that build on their own: the automaton, and the test of every entry
    // against the sample of ordinary mail.
    Report("  of it: the automaton alone", [&](auto done) {
        screening::FirstEntryMatcher matcher;
        matcher.Prepare(config.SpammerList, config.NoCase);
        done();
    });
    Report("  of it: the over-broad-entry test alone", [&](auto done) {
        screening::OverBroadEntries(config.SpammerList, config.NoCase);
        done();
    });

    const std::string updatePath = folder + "/spamupd.txt";
    WriteLines(updatePath, UpdateLines(updateLines, entries));
    TkelLog log;
    log.SetOptions({});
    log.SetArchiveMode(bkNone);
    log.SetLogFileName(folder + "/spammers.log");
    benchsupport::QuietUpdateView updateView;
    const std::vector<std::string> before = config.SpammerList;
    ok &= Report(
        "merge " + std::to_string(updateLines) + " update lines",
        [&](auto done) {
            update::MergeUpdateFile(updatePath, update::usLocalFile, config, log, updateView);
            done();
        },
        [&] {
            // Each round merges into the list as it was; the file is saved over every time.
            config.SpammerList = before;
            config.ListsChanged();
            config.Update.clear();
        });
    std::printf("  merge: %s, %d entries now\n", updateView.shown.c_str(),
                int(config.SpammerList.size()));

    ok &= Scan(config, log, messages);
    DestroyConfigData();
    return ok ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto intArg = [&](int index, int fallback) {
        return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
    };
    rounds = intArg(4, rounds);
    return Run(intArg(1, 100000), intArg(2, 10000), intArg(3, 1000));
}
