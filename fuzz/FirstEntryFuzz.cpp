// The spammer matcher against the naive search it replaces: for each entry in list order, the
// first whose first occurrence starts at minPos or later. One matcher serves every input, so
// its rebuilds (new list, new mode, stamps) are exercised as in a long-running program.
#include "Require.h"
#include "screening/FirstEntryMatcher.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

long NaiveFirstMatch(const std::vector<std::string>& entries, const std::string& text,
                     bool ignoreCase, std::size_t minPos) {
    const std::string t = ignoreCase ? Lower(text) : text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].empty()) continue;
        const std::size_t at = t.find(ignoreCase ? Lower(entries[i]) : entries[i]);
        if (at != std::string::npos && at + 1 >= minPos) return static_cast<long>(i);
    }
    return screening::FirstEntryMatcher::kNoMatch;
}

screening::FirstEntryMatcher matcher;
std::vector<std::string> lastEntries;
std::uint64_t stamp = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool ignoreCase = in.ConsumeBool();
    const bool withStamp = in.ConsumeBool();
    std::vector<std::size_t> minPositions(in.ConsumeIntegralInRange(1, 3));
    for (std::size_t& p : minPositions)
        p = in.ConsumeIntegralInRange<std::size_t>(0, 80);
    std::vector<std::string> entries(in.ConsumeIntegralInRange(0, 40));
    for (std::string& e : entries)
        e = in.ConsumeRandomLengthString(24);
    const std::string text = in.ConsumeRemainingBytesAsString();

    // A stamp names one list content, so it changes exactly when the content does.
    if (entries != lastEntries) ++stamp;
    lastEntries = entries;
    if (withStamp)
        matcher.Prepare(entries, ignoreCase, stamp);
    else
        matcher.Prepare(entries, ignoreCase);
    fuzz::Require(matcher.Count() == entries.size(), "the matcher holds the whole list");
    for (std::size_t minPos : minPositions)
        fuzz::Require(matcher.FirstMatch(text, minPos) ==
                          NaiveFirstMatch(entries, text, ignoreCase, minPos),
                      "first match at or after position " + std::to_string(minPos));
    return 0;
}
