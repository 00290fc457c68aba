#pragma once

#include "screening/FirstEntryMatcher.h"
#include "screening/Verdict.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace screening {

// The progress bar under "Message Scanning Progress:" as the screening rules move it.
class TProgressDisplay {
  public:
    virtual ~TProgressDisplay() = default;
    virtual void SetProgressPosition(int position) = 0;
    virtual void SetProgressMax(int max) = 0;
    // Advances the bar by `steps` single steps of one (batched: one call per search).
    virtual void StepProgress(int steps) = 0;
};

// The settings and lists the rules read; none of them is owned here.
struct ScreeningInput {
    const std::vector<std::string>& GoodAddrList;
    const std::vector<std::string>& SpammerList;
    bool Unknown = false;
    bool Strict = false;
    bool NoCase = false;
    bool LogLevel = false;
    // TConfigData::ListsStamp of the two lists, when they come from a configuration: an
    // unchanged stamp lets the rules skip comparing the lists with their automatons' copies.
    std::optional<std::uint64_t> ListsStamp;
};

// Whether the list holds an entry that can match: one with more than blanks and tabs.
bool HasUsableEntry(const std::vector<std::string>& list);

// The spammer entries the search leaves out because so much ordinary mail contains them
// (under the given letter-case rule), as they take part in matching, in list order.
std::vector<std::string> OverBroadEntries(const std::vector<std::string>& list, bool noCase);

// The two judgements of a message's header lines. Each keeps a search automaton per list,
// built once and reused for every message until the list or the letter-case mode changes.
// Entries are searched without the blanks and tabs around them; entries with nothing else,
// and spammer entries that much ordinary mail contains, are left out.
class THeaderRules {
  public:
    using LogFn = std::function<void(const std::string& text)>;

    THeaderRules(TProgressDisplay& progress, LogFn log);

    // Whether a known sender wrote the message: Ok with the first valid address found (as
    // stored) and the line it was found in, UnknownSender, or CheckSkipped when both address
    // checks are off. The lines are left as received.
    TVerdict SenderVerdict(const std::vector<std::string>& headerLines,
                           const ScreeningInput& input);

    // The first spammer entry found from the second byte of the header text on, as a Spammer
    // verdict with the line where it starts; `sender` (the address check's verdict on the
    // same lines) when none is found. The text is searched as the strict check leaves it:
    // the lines up to and including the matching "to:" line, all of them without a match,
    // lower-cased.
    TVerdict SpammerVerdict(const std::vector<std::string>& headerLines,
                            const ScreeningInput& input, const TVerdict& sender);

    // Builds the searches ahead of the first message, one step at a time (pick the entries of
    // the address list, build its search, the same for the spammers), so that a check can
    // spread the work of long lists over turns of the event loop instead of one long pause.
    static constexpr int kPreparationSteps = 4;
    void Prepare(const ScreeningInput& input, int step);

    // The same judgements as texts: the first valid address found, "" for an unknown user,
    // or "valid address checking disabled"; the strict check lower-cases the lines it
    // examined in place, so that a later SpammerCheck on them sees what it left.
    std::string ValidAddressCheck(std::vector<std::string>& headerLines,
                                  const ScreeningInput& input);
    // The first spammer entry found from the second byte of the header text on, or "".
    std::string SpammerCheck(const std::vector<std::string>& headerLines,
                             const ScreeningInput& input);

  private:
    // A list as it is searched: the match text of each entry that takes part, and the entry's
    // place in the whole list (for the progress bar). Made again only when the list or the
    // rule that picks the entries changes.
    struct SearchedList {
        std::vector<std::string> entries;
        std::vector<std::size_t> positions;
        std::vector<std::string> source; // the list it was made from
        std::optional<std::uint64_t> stamp;
        bool spammers = false;
        bool noCase = false;
        bool made = false;
        void Make(const std::vector<std::string>& list, std::optional<std::uint64_t> listStamp,
                  bool spammerList, bool ignoreCase);
    };
    // Steps the plain per-entry loop takes before it stops: up to and including the match.
    static int StepsTaken(long match, const SearchedList& list, int count);

    TProgressDisplay& progress_;
    LogFn log_;
    SearchedList addressList_;
    SearchedList spammerList_;
    FirstEntryMatcher addresses_;
    FirstEntryMatcher spammers_;
};

} // namespace screening
