// "Eat marked": a check-and-eat of the messages the user marked in the last check's results,
// in a session of its own. The mailbox may have changed since: only a message that is surely
// the marked one is deleted.

#include "ScanSession.h"

#include <algorithm>

namespace screening {

void TScanSession::StartEatMarked(std::vector<TScanResult> marked) {
    if (busy_ || state_ != Idle) return;
    marked_.emplace();
    marked_->wanted = std::move(marked);
    BeginScan(true);
}

// After STAT: the ids and sizes tell the marked messages apart from the others.
void TScanSession::BeginEatMarked() {
    uidls_.assign(std::size_t(std::max(client_.MsgCount(), 0)) + 1, "");
    sizes_.assign(uidls_.size(), -1);
    if (client_.MsgCount() < 1) return NextMarked();
    Enter(ListingUids);
}

std::vector<std::int32_t> TScanSession::Candidates(const TScanResult& wanted,
                                                   bool& compareHeaders) const {
    const auto count = std::int32_t(uidls_.size()) - 1;
    const auto free = [&](std::int32_t n) {
        return std::find(marked_->taken.begin(), marked_->taken.end(), n) == marked_->taken.end();
    };
    const auto sizeFits = [&](std::int32_t n) {
        return wanted.Size < 0 || sizes_[std::size_t(n)] < 0 ||
               sizes_[std::size_t(n)] == wanted.Size;
    };
    std::vector<std::int32_t> found;
    const bool serverIds = std::any_of(uidls_.begin(), uidls_.end(),
                                       [](const std::string& id) { return !id.empty(); });
    // An id names one message for good: the message either is still there or is gone. An id
    // listed twice names neither.
    if (!wanted.Uidl.empty() && serverIds) {
        compareHeaders = false;
        for (std::int32_t n = 1; n <= count; ++n)
            if (uidls_[std::size_t(n)] == wanted.Uidl) found.push_back(n);
        if (found.size() != 1 || !free(found[0]) || !sizeFits(found[0])) found.clear();
        return found;
    }
    // Without ids, the headers must match: at the old number first, then, when the sizes are
    // known, at any number of the same size (earlier messages may have gone).
    compareHeaders = true;
    if (wanted.HeadersDigest.empty()) return found;
    if (wanted.Number >= 1 && wanted.Number <= count && free(wanted.Number) &&
        sizeFits(wanted.Number))
        found.push_back(wanted.Number);
    if (wanted.Size >= 0)
        for (std::int32_t n = 1; n <= count; ++n)
            if (n != wanted.Number && free(n) && sizes_[std::size_t(n)] == wanted.Size)
                found.push_back(n);
    return found;
}

void TScanSession::NextMarked() {
    headerLines_.clear();
    while (marked_->next < marked_->wanted.size()) {
        marked_->candidates = Candidates(marked_->wanted[marked_->next], marked_->compareHeaders);
        if (!marked_->candidates.empty()) return TryCandidate();
        ++marked_->notFound;
        ++marked_->next;
    }
    const std::string text = "Marked messages no longer found: " + Num(marked_->notFound);
    view_.SetActivity(text);
    Log(text);
    Enter(Quitting);
}

void TScanSession::TryCandidate() {
    currentMsg_ = marked_->candidates.front();
    marked_->candidates.erase(marked_->candidates.begin());
    view_.SetMailboxProgress("Marked message " + Num(std::int64_t(marked_->next) + 1) + " of " +
                             Num(std::int64_t(marked_->wanted.size())));
    if (marked_->compareHeaders) {
        headerLines_.clear();
        return Enter(FetchingHeaders);
    }
    results_.push_back(marked_->wanted[marked_->next]);
    results_.back().Number = currentMsg_;
    Eat();
}

void TScanSession::MarkedTopDone() {
    const TScanResult& wanted = marked_->wanted[marked_->next];
    if (HeadersDigest(headerLines_) == wanted.HeadersDigest) {
        results_.push_back(wanted);
        results_.back().Number = currentMsg_;
        return Eat();
    }
    headerLines_.clear();
    if (!marked_->candidates.empty()) return TryCandidate();
    ++marked_->notFound;
    ++marked_->next;
    NextMarked();
}

} // namespace screening
