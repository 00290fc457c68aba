#include "HeaderRules.h"

#include "config/OrdinaryMail.h"
#include "screening/TextMatch.h"

namespace screening {

namespace {
int Count(const std::vector<std::string>& list) {
    return static_cast<int>(list.size());
}

// How many header lines, from the first, the strict check had lower-cased when it came to
// `sender`: up to and including the matching "to:" line, or all of them without a match.
std::size_t LinesLowered(const std::vector<std::string>& lines, const ScreeningInput& input,
                         const TVerdict& sender) {
    if (!input.Strict) return 0;
    if (sender.kind == TVerdict::UnknownSender) return lines.size();
    if (sender.kind == TVerdict::Ok) return static_cast<std::size_t>(sender.headerLine) + 1;
    return 0;
}

// The header line that holds the 1-based byte `position` of the header text (a line's CR LF
// counts as its own).
int LineAt(const std::vector<std::string>& lines, std::size_t position) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        end += lines[i].size() + 2;
        if (position <= end) return static_cast<int>(i);
    }
    return -1;
}

bool IsToLine(const std::string& line) {
    return LowerCase(line.substr(0, 3)) == "to:";
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
    : progress_(progress), log_(std::move(log)) {}

void THeaderRules::Prepare(const ScreeningInput& input, int step) {
    switch (step) {
    case 0:
        // Addresses always compare without regard to letter case.
        addressList_.Make(input.GoodAddrList, input.ListsStamp, false, true);
        break;
    case 1:
        addresses_.Prepare(addressList_.entries, true, input.ListsStamp);
        break;
    case 2:
        spammerList_.Make(input.SpammerList, input.ListsStamp, true, input.NoCase);
        break;
    default:
        if (!spammerList_.entries.empty())
            spammers_.Prepare(spammerList_.entries, input.NoCase, input.ListsStamp);
        break;
    }
}

TVerdict THeaderRules::SenderVerdict(const std::vector<std::string>& headerLines,
                                     const ScreeningInput& input) {
    if (!input.Unknown && !input.Strict) return {};
    progress_.SetProgressPosition(0);
    progress_.SetProgressMax(Count(input.GoodAddrList));
    Prepare(input, 0);
    Prepare(input, 1);
    const int count = Count(input.GoodAddrList);
    auto found = [&](long match, int line) {
        return TVerdict{TVerdict::Ok,
                        std::string(addresses_.Entry(static_cast<std::size_t>(match))), line};
    };

    if (input.Strict) {
        for (std::size_t i = 0; i < headerLines.size(); ++i) {
            if (!IsToLine(headerLines[i])) continue;
            if (input.LogLevel) log_("Strict Check -> " + LowerCase(headerLines[i]));
            long match = addresses_.FirstMatch(headerLines[i], 1);
            progress_.StepProgress(StepsTaken(match, addressList_, count));
            if (match != FirstEntryMatcher::kNoMatch) return found(match, static_cast<int>(i));
        }
        return {TVerdict::UnknownSender, {}, -1};
    }

    std::size_t start = 0;
    long match = addresses_.FirstMatch(HeaderText(headerLines), 1, &start);
    progress_.StepProgress(StepsTaken(match, addressList_, count));
    return match == FirstEntryMatcher::kNoMatch ? TVerdict{TVerdict::UnknownSender, {}, -1}
                                                : found(match, LineAt(headerLines, start));
}

TVerdict THeaderRules::SpammerVerdict(const std::vector<std::string>& headerLines,
                                      const ScreeningInput& input, const TVerdict& sender) {
    const int count = Count(input.SpammerList);
    progress_.SetProgressPosition(0);
    progress_.SetProgressMax(count);
    Prepare(input, 2);
    Prepare(input, 3);
    if (spammerList_.entries.empty()) {
        if (count > 0) progress_.StepProgress(count); // looked at every entry: none can match
        return sender;
    }

    std::string text = HeaderText(headerLines);
    std::size_t lowered = 0;
    for (std::size_t i = 0; i < LinesLowered(headerLines, input, sender); ++i)
        lowered += headerLines[i].size() + 2;
    if (lowered > 0) text.replace(0, lowered, LowerCase(text.substr(0, lowered)));

    // A match at the very first byte of the header text does not count.
    std::size_t start = 0;
    long match = spammers_.FirstMatch(text, 2, &start);
    progress_.StepProgress(StepsTaken(match, spammerList_, count));
    if (match == FirstEntryMatcher::kNoMatch) return sender;
    std::string entry(spammers_.Entry(static_cast<std::size_t>(match)));
    log_("Spammer Match: " + entry);
    progress_.SetProgressPosition(count);
    return {TVerdict::Spammer, std::move(entry), LineAt(headerLines, start)};
}

std::string THeaderRules::ValidAddressCheck(std::vector<std::string>& headerLines,
                                            const ScreeningInput& input) {
    const TVerdict sender = SenderVerdict(headerLines, input);
    for (std::size_t i = 0; i < LinesLowered(headerLines, input, sender); ++i)
        headerLines[i] = LowerCase(std::move(headerLines[i]));
    return sender.kind == TVerdict::CheckSkipped ? "valid address checking disabled" : sender.entry;
}

std::string THeaderRules::SpammerCheck(const std::vector<std::string>& headerLines,
                                       const ScreeningInput& input) {
    return SpammerVerdict(headerLines, input, TVerdict{}).entry;
}

} // namespace screening
