// The messages of a check: each one's headers fetched and screened, and spam eaten.

#include "ScanSession.h"

#include "config/dataConfig.h"
#include "platform/Clock.h"

#include <QMetaObject>

#include <algorithm>
#include <exception>

namespace screening {

void TScanSession::FetchMessage() {
    view_.SetMailboxProgress("Message " + Num(currentMsg_) + " of " + Num(client_.MsgCount()));
    view_.SetConnectionStatus("Retrieving message " + Num(currentMsg_) + " of " +
                              Num(client_.MsgCount()));
    if (const TCachedHeader* cached = Cached(currentMsg_)) {
        SetState(FetchingHeaders);
        headerLines_ = cached->Lines;
        ++fromCache_;
        if (pipelined_) TopUp();
        // Posted, as a fetched reply is: a run of cached messages must not nest.
        QMetaObject::invokeMethod(
            &context_,
            [this, msg = currentMsg_] {
                if (state_ == FetchingHeaders && currentMsg_ == msg) ScreenMessage();
            },
            Qt::QueuedConnection);
        return;
    }
    if (!pipelined_) return Enter(FetchingHeaders);
    SetState(FetchingHeaders);
    TopUp();
    if (const auto it = fetched_.find(currentMsg_); it != fetched_.end() && it->second.Done)
        // Posted: a mailbox whose replies are all in must not nest one message in the next.
        QMetaObject::invokeMethod(
            &context_, [this] { DeliverTop(); }, Qt::QueuedConnection);
    else
        waitingTop_ = currentMsg_;
}

void TScanSession::NextMessage() {
    if (marked_) {
        // The marked message at hand was handled (eaten, or failed and shown).
        marked_->taken.push_back(currentMsg_);
        ++marked_->next;
        return NextMarked();
    }
    ++currentMsg_;
    if (currentMsg_ > client_.MsgCount())
        Enter(Quitting);
    else
        FetchMessage();
}

void TScanSession::TopDone(std::uint16_t error) {
    if (error != 0) return Fail("Error " + Num(error) + " retrieving msg " + Num(currentMsg_));
    if (marked_) return MarkedTopDone();
    CacheHeaders();
    ScreenMessage();
}

void TScanSession::ScreenMessage() {
    view_.SetConnectionStatus("Headers for message " + Num(currentMsg_) + " retrieved.");
    view_.SetActivity("Valid address check in progress");
    const ScreeningInput input = Input();
    const TVerdict sender = rules_.SenderVerdict(headerLines_, input);
    if (sender.kind == TVerdict::UnknownSender) {
        view_.SetActivity("Unknown user - Assuming Spammer");
        Log("Unknown user - assuming spam");
        RecordResult(sender);
        if (eatMode_) return Eat();
        return MessageDone();
    }
    if (sender.kind == TVerdict::Ok) {
        view_.SetActivity("Valid Addr: " + sender.entry);
        Log("Valid Address: " + sender.entry);
    }
    view_.SetActivity("Scan for known spammers in progress");
    if (input.LogLevel) Log("Scanning message for spammer match");
    const TVerdict verdict = rules_.SpammerVerdict(headerLines_, input, sender);
    RecordResult(verdict);
    if (verdict.Passed()) {
        view_.SetActivity("Message OK...Checking next message");
        if (input.LogLevel) Log("Message cleared - no spammer found");
        ++okCount_;
    } else if (eatMode_) {
        view_.SetActivity("Found Spammer - Eating Message");
        return Eat();
    } else {
        view_.SetActivity("Spammer Found");
    }
    MessageDone();
}

void TScanSession::Eat() {
    if (!config_.Quarantine) return Enter(Deleting);
    try {
        quarantine_ =
            std::make_unique<TQuarantineCopy>(QuarantinePath(config_.FilesName), platform::Now());
    } catch (const std::exception& e) {
        ShowError("Cannot keep msg " + Num(currentMsg_) + " in quarantine: " + e.what() +
                  " - not deleted");
        MessageDone();
        return;
    }
    headerReplyBound_ = client_.MaxReplySize();
    client_.SetMaxReplySize(std::max(headerReplyBound_, MaxQuarantinedMessage));
    view_.SetConnectionStatus("Copying message " + Num(currentMsg_) + " to quarantine");
    Enter(Quarantining);
}

// The whole message has arrived; only a copy safe on disk lets the DELE go out.
void TScanSession::RetrDone(std::uint16_t error) {
    if (error != 0) {
        EndRetr();
        return Fail("Error " + Num(error) + " copying msg " + Num(currentMsg_) +
                    " to quarantine - not deleted");
    }
    std::unique_ptr<TQuarantineCopy> copy = std::move(quarantine_);
    EndRetr();
    try {
        copy->Commit();
    } catch (const std::exception& e) {
        ShowError("Cannot keep msg " + Num(currentMsg_) + " in quarantine: " + e.what() +
                  " - not deleted");
        copy.reset();
        MessageDone();
        return;
    }
    Log("Kept in quarantine: " + copy->Summary());
    Enter(Deleting);
}

// The RETR is over: a copy not committed by now is cut back off the file.
void TScanSession::EndRetr() {
    quarantine_.reset();
    client_.SetMaxReplySize(headerReplyBound_);
}

void TScanSession::DeleDone(std::uint16_t error) {
    if (error != 0) return Fail("Error " + Num(error) + " deleting msg " + Num(currentMsg_));
    view_.SetConnectionStatus("Message " + Num(currentMsg_) + " deleted");
    ++eatenCount_;
    if (!results_.empty() && results_.back().Number == currentMsg_) results_.back().Eaten = true;
    if (cacheUsed_ && !uidls_[currentMsg_].empty()) deletedIds_.push_back(uidls_[currentMsg_]);
    MessageDone();
}

void TScanSession::RecordResult(const TVerdict& verdict) {
    const auto at = std::size_t(currentMsg_);
    results_.push_back(MakeScanResult(currentMsg_, at < uidls_.size() ? uidls_[at] : "",
                                      at < sizes_.size() ? sizes_[at] : -1, headerLines_, verdict,
                                      resultDigests_));
}

void TScanSession::MessageDone() {
    ++checkedCount_;
    headerLines_.clear();
    NextMessage();
}

} // namespace screening
