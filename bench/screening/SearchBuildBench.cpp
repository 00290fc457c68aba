// Times FirstEntryMatcher::Prepare on lists of 10,000 and 100,000 entries of three shapes.
// Each size and shape runs in a child process of its own, so that its first build meets
// memory the process has never touched, as a fresh morvandle-check does; the page faults of
// that build are counted, and the cost of one is measured first, since on some machines
// fresh memory, not the work, dominates the first build. Rebuilds follow a change of one
// entry with a new stamp, as after an edit of the list.
//   bench_search_build [ROUNDS]
#include "screening/FirstEntryMatcher.h"

#include <sys/mman.h>
#include <sys/resource.h>
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

long PageFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// Microseconds to first touch one 4 KiB page of fresh memory.
double FreshPageMicroseconds() {
    constexpr std::size_t kBytes = 16 << 20, kPage = 4096;
    void* block = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return 0;
    auto* bytes = static_cast<volatile char*>(block);
    const auto start = Clock::now();
    for (std::size_t at = 0; at < kBytes; at += kPage)
        bytes[at] = 1;
    const double ms = MillisecondsSince(start);
    munmap(block, kBytes);
    return ms * 1000 / (kBytes / kPage);
}

enum class Shape { Addresses, BulkMail, Mixed };
constexpr const char* kShapeNames[] = {"addresses", "bulk mail", "mixed"};

// addresses: user<number>@<8 letters>.example; bulk mail: numbered senders at 997
// domains; mixed: addresses, whole domains and two-word phrases, as a kept list has.
std::vector<std::string> MakeList(Shape shape, int entries) {
    std::mt19937 rng(20261208);
    auto word = [&](int shortest, int longest) {
        std::string w(shortest + rng() % (longest - shortest + 1), ' ');
        for (char& c : w)
            c = static_cast<char>('a' + rng() % 26);
        return w;
    };
    std::vector<std::string> list;
    list.reserve(entries);
    for (int i = 0; i < entries; ++i) {
        switch (shape) {
        case Shape::Addresses:
            list.push_back("user" + std::to_string(rng() % 1000000) + "@" + word(8, 8) +
                           ".example");
            break;
        case Shape::BulkMail:
            list.push_back("spammer" + std::to_string(i) + "@bulk-mail-" + std::to_string(i % 997) +
                           ".example");
            break;
        case Shape::Mixed:
            switch (rng() % 3) {
            case 0:
                list.push_back(word(3, 10) + "@" + word(4, 12) + ".com");
                break;
            case 1:
                list.push_back("@" + word(4, 14) + (rng() % 2 ? ".net" : ".biz"));
                break;
            default:
                list.push_back(word(4, 9) + " " + word(3, 8));
                break;
            }
            break;
        }
    }
    return list;
}

void Measure(Shape shape, int entries, int rounds, double pageMicroseconds) {
    std::vector<std::string> list = MakeList(shape, entries);
    screening::FirstEntryMatcher matcher;
    const long faultsBefore = PageFaults();
    auto start = Clock::now();
    matcher.Prepare(list, true, 1);
    const double first = MillisecondsSince(start);
    const long faults = PageFaults() - faultsBefore;

    std::vector<double> rebuilds;
    for (int round = 0; round < rounds; ++round) {
        list.front().back() ^= 1; // the change is found at once, so the build is what counts
        start = Clock::now();
        matcher.Prepare(list, true, 2 + round);
        rebuilds.push_back(MillisecondsSince(start));
    }
    std::sort(rebuilds.begin(), rebuilds.end());
    std::printf("%-9s %6d entries: first build %6.2f ms (%4ld page faults, about %5.2f ms of "
                "it); rebuild after a change: median %5.2f ms, best %5.2f ms (%d rounds)\n",
                kShapeNames[static_cast<int>(shape)], entries, first, faults,
                faults * pageMicroseconds / 1000, rebuilds[rebuilds.size() / 2], rebuilds.front(),
                rounds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const double pageMicroseconds = FreshPageMicroseconds();
    std::printf("fresh memory: %.2f us per 4 KiB page at first touch\n", pageMicroseconds);
    std::fflush(stdout);
    for (Shape shape : {Shape::Addresses, Shape::BulkMail, Shape::Mixed})
        for (int entries : {10000, 100000}) {
            const pid_t child = fork();
            if (child < 0) return 1;
            if (child == 0) {
                Measure(shape, entries, rounds, pageMicroseconds);
                std::_Exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
        }
    return 0;
}
