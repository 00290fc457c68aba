#pragma once

#include "screening/Verdict.h"

#include <cstdint>
#include <string>
#include <vector>

namespace screening {

// What a check made of one message, kept for the front ends to show after the check.
struct TScanResult {
    std::int32_t Number = 0;
    std::string Uidl;       // empty when the server did not list ids
    std::int64_t Size = -1; // octets as LIST gives them; -1 when not listed
    std::string From;       // decoded to UTF-8 (encoded words)
    std::string Subject;    // decoded to UTF-8
    std::string Date;       // the Date header as it came
    TVerdict Verdict;
    std::string MatchedLine; // the header line the verdict's entry was found in, as received
    // A digest of the header lines as received: "Eat marked" compares it when no id tells the
    // message. The lines themselves would keep every header of a large mailbox in memory.
    std::string HeadersDigest;
    // The check deleted it (the server took its DELE): nothing is left to keep or eat.
    bool Eaten = false;
};

// The result of a message from its header lines and the screening's verdict on them; without
// the digest, "Eat marked" cannot find it by its headers.
TScanResult MakeScanResult(std::int32_t number, const std::string& uidl, std::int64_t size,
                           const std::vector<std::string>& headerLines, const TVerdict& verdict,
                           bool withDigest = true);
// What TScanResult::HeadersDigest holds for these header lines.
std::string HeadersDigest(const std::vector<std::string>& headerLines);

// A check's totals: "N Checked, N OK'd, N Eaten".
std::string TotalsText(std::int64_t checked, std::int64_t okd, std::int64_t eaten);

// "OK", "spammer", "unknown sender" or "check skipped".
std::string VerdictText(TVerdict::Kind kind);
// Why: "ENTRY in LINE" for a matched entry, "no valid address" for an unknown sender, else "".
std::string ReasonText(const TScanResult& result);
// What the user decided for one result: leave it to the verdict, keep it, or eat it.
enum class TMark { ByVerdict, Keep, Eat };

// The results "Eat marked" deletes: those judged spam and not kept, and those marked Eat;
// never one the check ate already.
// marks[i] belongs to results[i]; a missing mark leaves the verdict to decide.
std::vector<TScanResult> MarkedToEat(const std::vector<TScanResult>& results,
                                     const std::vector<TMark>& marks);

// The address in a From value ("Name <a@b>" or "a@b"), "" without one.
std::string SenderAddress(const std::string& from);

} // namespace screening
