#include "ScanResults.h"

#include "screening/EncodedWords.h"
#include "screening/Quarantine.h"

#include <QCryptographicHash>

namespace screening {

TScanResult MakeScanResult(std::int32_t number, const std::string& uidl, std::int64_t size,
                           const std::vector<std::string>& headerLines, const TVerdict& verdict,
                           bool withDigest) {
    TScanResult r;
    r.Number = number;
    r.Uidl = uidl;
    r.Size = size;
    r.From = DecodeHeaderText(HeaderValue(headerLines, "From"));
    r.Subject = DecodeHeaderText(HeaderValue(headerLines, "Subject"));
    r.Date = HeaderValue(headerLines, "Date");
    r.Verdict = verdict;
    if (verdict.headerLine >= 0 && std::size_t(verdict.headerLine) < headerLines.size())
        r.MatchedLine = headerLines[std::size_t(verdict.headerLine)];
    if (withDigest) r.HeadersDigest = HeadersDigest(headerLines);
    return r;
}

std::string HeadersDigest(const std::vector<std::string>& headerLines) {
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    for (const std::string& line : headerLines) {
        hash.addData(QByteArrayView(line.data(), qsizetype(line.size())));
        hash.addData("\n"); // ["ab"] and ["a", "b"] differ
    }
    return hash.result().toStdString();
}

std::string TotalsText(std::int64_t checked, std::int64_t okd, std::int64_t eaten) {
    return std::to_string(checked) + " Checked, " + std::to_string(okd) + " OK'd, " +
           std::to_string(eaten) + " Eaten";
}

std::string VerdictText(TVerdict::Kind kind) {
    switch (kind) {
    case TVerdict::Ok:
        return "OK";
    case TVerdict::Spammer:
        return "spammer";
    case TVerdict::UnknownSender:
        return "unknown sender";
    case TVerdict::CheckSkipped:
        break;
    }
    return "check skipped";
}

std::string ReasonText(const TScanResult& result) {
    if (result.Verdict.kind == TVerdict::UnknownSender) return "no valid address";
    if (result.Verdict.entry.empty()) return {};
    return result.Verdict.entry + " in " + result.MatchedLine;
}

std::vector<TScanResult> MarkedToEat(const std::vector<TScanResult>& results,
                                     const std::vector<TMark>& marks) {
    std::vector<TScanResult> eat;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TMark mark = i < marks.size() ? marks[i] : TMark::ByVerdict;
        if (results[i].Eaten) continue;
        if (mark == TMark::Eat || (mark == TMark::ByVerdict && !results[i].Verdict.Passed()))
            eat.push_back(results[i]);
    }
    return eat;
}

std::string SenderAddress(const std::string& from) {
    const std::size_t open = from.rfind('<');
    const std::size_t close = open == std::string::npos ? open : from.find('>', open);
    if (close != std::string::npos) {
        const std::string inside = from.substr(open + 1, close - open - 1);
        return inside.find('@') != std::string::npos ? inside : std::string();
    }
    for (std::size_t at = 0; at < from.size();) {
        const std::size_t end = std::min(from.find_first_of(" \t", at), from.size());
        const std::string word = from.substr(at, end - at);
        if (word.find('@') != std::string::npos) return word;
        at = end + 1;
    }
    return {};
}

} // namespace screening
