#include "HeaderRules.h"

#include "config/OrdinaryMail.h"
#include "platform/MessagePump.h"
#include "screening/TextMatch.h"

namespace screening {

namespace {
int Count(const std::vector<std::string>& list) {
    return static_cast<int>(list.size());
}
} // namespace

bool HasUsableEntry(const std::vector<std::string>& list) {
    for (const std::string& entry : list)
        if (!MatchText(entry).empty()) return true;
    return false;
}

std::vector<std::string> OverBroadEntries(const std::vector<std::string>& list, bool noCase) {
    std::vector<std::string> found;
    for (const std::string& entry : list)
        if (IsOverBroadEntry(entry, noCase)) found.emplace_back(MatchText(entry));
    return found;
}

void THeaderRules::SearchedList::Make(const std::vector<std::string>& list,
                                      std::optional<std::uint64_t> listStamp, bool spammerList,
                                      bool ignoreCase) {
    // Whether an address is usable does not depend on the letter-case rule.
    const bool caseMatters = spammerList;
    if (made && spammerList == spammers && (!caseMatters || ignoreCase == noCase) &&
        (listStamp ? listStamp == stamp : list == source))
        return;
    entries.clear();
    positions.clear();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string_view text = MatchText(list[i]);
        if (text.empty() || (spammerList && IsOverBroadEntry(text, ignoreCase))) continue;
        entries.emplace_back(text);
        positions.push_back(i);
    }
    // With a stamp the list need not be kept for comparing.
    source = listStamp ? std::vector<std::string>{} : list;
    stamp = listStamp;
    spammers = spammerList;
    noCase = ignoreCase;
    made = true;
}

int THeaderRules::StepsTaken(long match, const SearchedList& list, int count) {
    return match == FirstEntryMatcher::kNoMatch
               ? count
               : static_cast<int>(list.positions[static_cast<std::size_t>(match)] + 1);
}

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
    addressList_.Make(input.GoodAddrList, input.ListsStamp, false, true);
    addresses_.Prepare(addressList_.entries, true, input.ListsStamp);
    const int count = Count(input.GoodAddrList);

    if (input.Strict) {
        for (auto& line : headerLines) {
            line = LowerCase(std::move(line));
            if (line.compare(0, 3, "to:") != 0) continue;
            if (input.LogLevel) log_("Strict Check -> " + line);
            long match = addresses_.FirstMatch(line, 1);
            progress_.StepProgress(StepsTaken(match, addressList_, count));
            if (match != FirstEntryMatcher::kNoMatch)
                return std::string(addresses_.Entry(static_cast<std::size_t>(match)));
        }
        return "";
    }

    long match = addresses_.FirstMatch(HeaderText(headerLines), 1);
    progress_.StepProgress(StepsTaken(match, addressList_, count));
    return match == FirstEntryMatcher::kNoMatch
               ? ""
               : std::string(addresses_.Entry(static_cast<std::size_t>(match)));
}

std::string THeaderRules::SpammerCheck(const std::vector<std::string>& headerLines,
                                       const ScreeningInput& input) {
    const int count = Count(input.SpammerList);
    progress_.SetProgressPosition(0);
    progress_.SetProgressMax(count);
    spammerList_.Make(input.SpammerList, input.ListsStamp, true, input.NoCase);
    if (spammerList_.entries.empty()) {
        if (count > 0) progress_.StepProgress(count); // looked at every entry: none can match
        return "";
    }
    spammers_.Prepare(spammerList_.entries, input.NoCase, input.ListsStamp);

    // A match at the very first byte of the header text does not count.
    long match = spammers_.FirstMatch(HeaderText(headerLines), 2);
    progress_.StepProgress(StepsTaken(match, spammerList_, count));
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
