#pragma once

#include "screening/FirstEntryMatcher.h"

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

// The two judgements of a message's header lines. Each keeps a search automaton per list,
// built once and reused for every message until the list or the letter-case mode changes.
class THeaderRules {
  public:
    using LogFn = std::function<void(const std::string& text)>;

    THeaderRules(TProgressDisplay& progress, LogFn log);

    // The first valid address found (as stored), "" for an unknown user, or
    // "valid address checking disabled". The strict check lower-cases the header lines it
    // examines in place.
    std::string ValidAddressCheck(std::vector<std::string>& headerLines,
                                  const ScreeningInput& input);

    // The first spammer entry (as stored) found from the second byte of the header text
    // on, or "".
    std::string SpammerCheck(const std::vector<std::string>& headerLines,
                             const ScreeningInput& input);

  private:
    TProgressDisplay& progress_;
    LogFn log_;
    FirstEntryMatcher addresses_;
    FirstEntryMatcher spammers_;
};

} // namespace screening
