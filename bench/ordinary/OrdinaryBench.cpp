// Times, in a fresh child process per round, the first check of an entry against the
// ordinary-mail sample (the automaton over its frequent strings is built then, once per
// letter-case rule), the check of a 10,000-entry spammer list, and the exact count the
// preferences dialog shows (a plain search of the sample: the first also splits it), and
// prints the median of the rounds.
//   bench_ordinary_mail [ROUNDS]
#include "config/OrdinaryMail.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A kept spammer list: addresses, whole domains, words and two-word phrases.
std::vector<std::string> SpammerList(int entries) {
    std::mt19937 rng(20261208);
    auto word = [&](int shortest, int longest) {
        std::string w(shortest + rng() % (longest - shortest + 1), ' ');
        for (char& c : w)
            c = static_cast<char>('a' + rng() % 26);
        return w;
    };
    std::vector<std::string> list;
    for (int i = 0; i < entries; ++i) {
        switch (rng() % 4) {
        case 0:
            list.push_back(word(3, 10) + "@" + word(4, 12) + ".com");
            break;
        case 1:
            list.push_back("@" + word(4, 12) + ".example");
            break;
        case 2:
            list.push_back(word(4, 9));
            break;
        default:
            list.push_back(word(3, 8) + " " + word(3, 8));
            break;
        }
    }
    return list;
}

struct Round {
    double buildExact, buildFolded, checkExact, checkFolded, firstCount, count;
    int overBroad;
};

Round Measure(const std::vector<std::string>& list) {
    Round r{};
    auto start = Clock::now();
    IsOverBroadEntry("x", false);
    r.buildExact = MillisecondsSince(start);
    start = Clock::now();
    IsOverBroadEntry("x", true);
    r.buildFolded = MillisecondsSince(start);
    start = Clock::now();
    for (const std::string& entry : list)
        r.overBroad += IsOverBroadEntry(entry, false);
    r.checkExact = MillisecondsSince(start);
    start = Clock::now();
    for (const std::string& entry : list)
        r.overBroad += IsOverBroadEntry(entry, true);
    r.checkFolded = MillisecondsSince(start);
    start = Clock::now();
    OrdinaryMessagesContaining("unsubscribe", true);
    r.firstCount = MillisecondsSince(start);
    start = Clock::now();
    OrdinaryMessagesContaining("lottery", true);
    r.count = MillisecondsSince(start);
    return r;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::vector<std::string> list = SpammerList(10000);
    std::vector<double> buildExact, buildFolded, checkExact, checkFolded, firstCount, count;
    int overBroad = 0;
    for (int i = 0; i < rounds; ++i) {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        const pid_t child = fork();
        if (child == 0) { // a fresh process builds the automatons afresh
            const Round r = Measure(list);
            (void)!write(fds[1], &r, sizeof r);
            _exit(0);
        }
        Round r{};
        const bool got = read(fds[0], &r, sizeof r) == sizeof r;
        close(fds[0]);
        close(fds[1]);
        waitpid(child, nullptr, 0);
        if (!got) return 1;
        buildExact.push_back(r.buildExact);
        buildFolded.push_back(r.buildFolded);
        checkExact.push_back(r.checkExact);
        checkFolded.push_back(r.checkFolded);
        firstCount.push_back(r.firstCount);
        count.push_back(r.count);
        overBroad = r.overBroad;
    }
    std::printf("ordinary-mail sample: %d messages, %zu bytes; median of %d fresh processes\n",
                OrdinaryMailSampleSize(), OrdinaryHeadersText().size(), rounds);
    std::printf("  automaton build, case kept:     %7.2f ms\n", Median(buildExact));
    std::printf("  automaton build, case ignored:  %7.2f ms\n", Median(buildFolded));
    std::printf("  10,000 entries, case kept:      %7.2f ms\n", Median(checkExact));
    std::printf("  10,000 entries, case ignored:   %7.2f ms\n", Median(checkFolded));
    std::printf("  dialog's count, first:          %7.2f ms\n", Median(firstCount));
    std::printf("  dialog's count, another:        %7.2f ms\n", Median(count));
    std::printf("  over-broad entries found (both rules together): %d\n", overBroad);
    return 0;
}
