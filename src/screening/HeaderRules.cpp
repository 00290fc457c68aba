#include "HeaderRules.h"

#include "platform/MessagePump.h"
#include "screening/TextMatch.h"

namespace screening {

namespace {
int Count(const std::vector<std::string>& list) {
    return static_cast<int>(list.size());
}

// Steps the plain per-entry loop takes before it stops: up to and including the match.
int StepsTaken(long match, const FirstEntryMatcher& matcher) {
    return match == FirstEntryMatcher::kNoMatch ? static_cast<int>(matcher.Count())
                                                : static_cast<int>(match + 1);
}
} // namespace

THeaderRules::THeaderRules(TProgressDisplay& progress, LogFn log)
    : progress_(progress), log_(std::move(log)) {
    addresses_.OnIdle = platform::ProcessMessagesSliced;
    spammers_.OnIdle = platform::ProcessMessagesSliced;
}

std::string THeaderRules::ValidAddressCheck(std::vector<std::string>& headerLines,
                                            const ScreeningInput& input) {
    if (!input.Unknown && !input.Strict) return "valid address checking disabled";
    progress_.SetProgressPosition(0);
    progress_.SetProgressMax(Count(input.GoodAddrList));
    // Addresses always compare without regard to letter case.
    addresses_.Prepare(input.GoodAddrList, true, input.ListsStamp);

    if (input.Strict) {
        for (auto& line : headerLines) {
            line = LowerCase(std::move(line));
            if (line.compare(0, 3, "to:") != 0) continue;
            if (input.LogLevel) log_("Strict Check -> " + line);
            long match = addresses_.FirstMatch(line, 1);
            progress_.StepProgress(StepsTaken(match, addresses_));
            if (match != FirstEntryMatcher::kNoMatch)
                return std::string(addresses_.Entry(static_cast<std::size_t>(match)));
        }
        return "";
    }

    long match = addresses_.FirstMatch(HeaderText(headerLines), 1);
    progress_.StepProgress(StepsTaken(match, addresses_));
    return match == FirstEntryMatcher::kNoMatch
               ? ""
               : std::string(addresses_.Entry(static_cast<std::size_t>(match)));
}

std::string THeaderRules::SpammerCheck(const std::vector<std::string>& headerLines,
                                       const ScreeningInput& input) {
    const int count = Count(input.SpammerList);
    progress_.SetProgressPosition(0);
    progress_.SetProgressMax(count);
    if (count == 0) return "";
    spammers_.Prepare(input.SpammerList, input.NoCase, input.ListsStamp);

    // A match at the very first byte of the header text does not count.
    long match = spammers_.FirstMatch(HeaderText(headerLines), 2);
    progress_.StepProgress(StepsTaken(match, spammers_));
    if (match == FirstEntryMatcher::kNoMatch) {
        platform::ProcessMessagesSliced();
        return "";
    }
    std::string entry(spammers_.Entry(static_cast<std::size_t>(match)));
    log_("Spammer Match: " + entry);
    progress_.SetProgressPosition(count);
    return entry;
}

} // namespace screening
