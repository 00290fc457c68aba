#include "OrdinaryMail.h"

#include "OrdinarySample.h"
#include "SuffixAutomaton.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Made on first use, for the life of the process; only the preferences dialog, which shows
// the exact count, and entries that span lines need them.
const std::vector<std::string>& Messages(bool ignoreCase) {
    static const std::vector<std::string> exact = SampleMessages(OrdinaryHeadersText());
    if (!ignoreCase) return exact;
    static const std::vector<std::string> folded = [] {
        std::vector<std::string> messages = exact;
        for (std::string& m : messages)
            for (char& c : m)
                c = static_cast<char>(FoldCase(static_cast<unsigned char>(c), true));
        return messages;
    }();
    return folded;
}

// An automaton over the few kilobytes of frequent strings, not over the sample: it is built
// in microseconds, once per letter-case rule.
const SuffixAutomaton& FrequentAutomaton(bool ignoreCase) {
    if (ignoreCase) {
        static const SuffixAutomaton folded({DigestedFrequentStrings(true)});
        return folded;
    }
    static const SuffixAutomaton exact({DigestedFrequentStrings(false)});
    return exact;
}

} // namespace

std::string_view MatchText(std::string_view entry) {
    const std::size_t first = entry.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return entry.substr(first, entry.find_last_not_of(" \t") - first + 1);
}

int OrdinaryMessagesContaining(std::string_view entry, bool ignoreCase) {
    std::string text(MatchText(entry));
    if (text.empty()) return 0;
    for (char& c : text)
        c = static_cast<char>(FoldCase(static_cast<unsigned char>(c), ignoreCase));
    int count = 0;
    for (const std::string& m : Messages(ignoreCase))
        count += m.find(text) != std::string::npos;
    return count;
}

int OrdinaryMailSampleSize() {
    return DigestedSampleSize();
}

bool IsOverBroadEntry(std::string_view entry, bool ignoreCase) {
    const std::string_view text = MatchText(entry);
    if (text.empty()) return false;
    // The frequent strings lie within one line, and their automaton joins them with LF and
    // ends them with NUL: a text holding a line end or NUL is counted outright.
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return OrdinaryMessagesContaining(text, ignoreCase) >=
               OverBroadLeast(OrdinaryMailSampleSize());
    const SuffixAutomaton& frequent = FrequentAutomaton(ignoreCase);
    std::int32_t state = 0;
    for (const char c : text)
        if ((state = frequent.Next(state, FoldCase(static_cast<unsigned char>(c), ignoreCase))) < 0)
            return false;
    return true;
}
