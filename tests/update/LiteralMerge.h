#pragma once

// The merge's duplicate rule done the plain way, entry by entry, as the reference that the
// indexed merge must agree with (tests) and beat (benchmark).

#include "config/OrdinaryMail.h"
#include "screening/TextMatch.h"

#include <string>
#include <vector>

namespace updatetest {

struct LiteralOutcome {
    std::vector<std::string> list;
    std::vector<std::string> log; // without the summary
    int duplicates = 0;
    int additions = 0;
};

inline LiteralOutcome LiteralMerge(std::vector<std::string> list,
                                   const std::vector<std::string>& lines, bool logLevel,
                                   bool noCase = false) {
    LiteralOutcome out;
    for (const std::string& line : lines) {
        // Blank lines, and lines much ordinary mail contains, are no entries to add.
        if (MatchText(line).empty()) continue;
        if (IsOverBroadEntry(line, noCase)) {
            out.log.push_back("Update line skipped (it occurs in ordinary mail): " + line);
            continue;
        }
        const std::string lowerLine = screening::LowerCase(line);
        bool covered = false;
        for (std::size_t i = 0; i < list.size() && !covered; ++i)
            covered = !list[i].empty() &&
                      lowerLine.find(screening::LowerCase(list[i])) != std::string::npos;
        if (covered) {
            if (logLevel) out.log.push_back("Duplicate skipped: " + line);
            ++out.duplicates;
        } else {
            out.log.push_back("New Addition: " + line);
            list.push_back(line);
            ++out.additions;
        }
    }
    out.list = std::move(list);
    return out;
}

} // namespace updatetest
