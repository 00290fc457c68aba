// Times MergeUpdateFile on 10,000 entries and a 10,000-line update file (half of its lines
// covered by an entry, a tenth covered only by lines the same run adds), median of 5, and
// the plain entry-by-entry merge once on the same data; the results must be identical.
#include "support/QuietUpdateView.h"
#include "update/LiteralMerge.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "platform/Paths.h"
#include "update/UpdateMerge.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>

namespace {

constexpr int kEntries = 10000;
constexpr int kLines = 10000;
constexpr int kRounds = 5;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Run() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    platform::SetProgramDirOverride(folder);
    platform::SetSettingsFileOverride(folder + "/Morvandle.ini");
    CreateConfigData();

    std::mt19937 rng(4242);
    std::vector<std::string> entries, lines, fresh;
    for (int i = 0; i < kEntries; ++i)
        entries.push_back("spammer" + std::to_string(i) + "@Bulk-" + std::to_string(i % 997) +
                          ".example");
    for (int i = 0; i < kLines; ++i) {
        if (i % 2 == 0) {
            lines.push_back("re: " + entries[rng() % kEntries] + " (again)");
        } else if (i % 10 == 1 && !fresh.empty()) {
            lines.push_back("FW: " + fresh[rng() % fresh.size()]);
        } else {
            fresh.push_back("offer" + std::to_string(i) + "@new-" + std::to_string(i % 313) +
                            ".example");
            lines.push_back(fresh.back());
        }
    }
    const std::string path = folder + "/spamupd.txt";
    {
        std::ofstream out(path, std::ios::binary);
        for (const auto& l : lines)
            out << l << "\r\n";
    }

    auto start = std::chrono::steady_clock::now();
    updatetest::LiteralOutcome reference = updatetest::LiteralMerge(entries, lines, false);
    const double plain = Seconds(start);

    TkelLog log;
    log.SetOptions({});
    log.SetLogFileName(folder + "/spammers.log");
    benchsupport::QuietUpdateView view;
    std::vector<double> times, cpuTimes;
    bool same = true;
    update::TMergeResult result;
    for (int round = 1; round <= kRounds; ++round) {
        ConfigData->SpammerList = entries;
        ConfigData->Update.clear();
        std::remove((folder + "/spammers.log").c_str());
        start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        result = update::MergeUpdateFile(path, update::usLocalFile, *ConfigData, log, view);
        times.push_back(Seconds(start));
        cpuTimes.push_back(double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        same = same && ConfigData->SpammerList == reference.list &&
               result.duplicates == reference.duplicates && result.additions == reference.additions;
        std::printf("round %d: merge %.3f s (CPU %.3f s)\n", round, times.back(), cpuTimes.back());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("%d entries, %d update lines: %d duplicates, %d additions\n", kEntries, kLines,
                result.duplicates, result.additions);
    std::printf("merge median %.3f s (CPU %.3f s); plain entry-by-entry merge %.3f s (%.0fx); "
                "results %s\n",
                times[kRounds / 2], cpuTimes[kRounds / 2], plain, plain / times[kRounds / 2],
                same ? "identical" : "DIFFERENT");
    DestroyConfigData();
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return Run();
}
