// The pipelined part of the scan: TOPs sent ahead of the screening, their replies kept until
// the screening reaches them.

#include "ScanSession.h"

#include "config/dataConfig.h"

#include <QMetaObject>

#include <exception>

namespace screening {

// Enters FetchingHeaders for message 1, with its TOP and those of the next messages sent at
// once when the server can take them.
void TScanSession::StartPipelining(bool serverCan) {
    pipelined_ = serverCan;
    client_.SetPipelining(serverCan);
    nextTop_ = 1;
    currentMsg_ = 1;
    FetchMessage();
}

void TScanSession::StopPipelining() {
    pipelined_ = false;
    client_.SetPipelining(false);
    sent_.clear();
    fetched_.clear();
    fetchedBytes_ = 0;
    answeredBytes_ = 0;
    answeredTops_ = 0;
    nextTop_ = 0;
    tracingTop_ = 0;
    waitingTop_ = 0;
    stopSending_ = false;
}

void TScanSession::TopUp() {
    // What the replies in flight will bring, judged by those answered so far.
    const auto heldAndExpected = [this] {
        const std::size_t mean = answeredTops_ == 0 ? 0 : answeredBytes_ / answeredTops_;
        return fetchedBytes_ + sent_.size() * mean;
    };
    while (!stopSending_ && sent_.size() < PipelineCommands && heldAndExpected() < PipelineBytes &&
           nextTop_ <= client_.MsgCount()) {
        const std::int32_t msg = nextTop_++;
        if (Cached(msg)) continue; // screened from the cache, never fetched
        Fetched& fetched = fetched_[msg];
        client_.SetMsgNum(msg);
        client_.SetMsgLines(0);
        tracingTop_ = msg;
        try {
            client_.Top();
        } catch (const std::exception& e) {
            // Shown when the screening reaches it, as a scan one request at a time would.
            fetched.Done = true;
            fetched.Refused = e.what();
            stopSending_ = true;
        }
        tracingTop_ = 0;
        if (!fetched.Refused) sent_.push_back({pop3Top, msg});
    }
}

bool TScanSession::PipelinedDone(TPop3Request rqType, std::uint16_t error) {
    Sent sent{rqType, 0}; // message 0: none of ours
    if (!sent_.empty()) {
        sent = sent_.front();
        sent_.pop_front();
    }
    if (rqType != pop3Top || sent.Rq != pop3Top || sent.Msg == 0) {
        TopUp();
        return false;
    }
    const std::int32_t msg = sent.Msg;
    Fetched& fetched = fetched_[msg];
    fetched.Done = true;
    fetched.Error = error;
    for (const std::string& line : fetched.Lines)
        answeredBytes_ += line.size() + 2;
    ++answeredTops_;
    TopUp();
    if (waitingTop_ == msg) {
        waitingTop_ = 0;
        DeliverTop();
    }
    return true;
}

// The screening takes the current message's TOP reply.
void TScanSession::DeliverTop() {
    if (state_ != FetchingHeaders || !pipelined_) return;
    const auto it = fetched_.find(currentMsg_);
    if (it == fetched_.end()) return;
    Fetched fetched = std::move(it->second);
    fetched_.erase(it);
    for (const std::string& line : fetched.Lines)
        fetchedBytes_ -= line.size() + 2;
    for (const std::string& text : fetched.Trace)
        Log(text);
    if (fetched.Refused) {
        ShowError(*fetched.Refused);
        Failed(true);
    } else if (fetched.Error != 0) {
        TopDone(fetched.Error);
    } else {
        headerLines_ = std::move(fetched.Lines);
        TopUp(); // the bytes it held are free again
        TopDone(0);
    }
}

bool TScanSession::KeepHeaderLine(const std::string& line) {
    if (!pipelined_ || client_.ReplyRequest() != pop3Top) return false;
    const auto it = fetched_.find(client_.ReplyMsgNum());
    if (it != fetched_.end()) {
        it->second.Lines.push_back(line);
        fetchedBytes_ += line.size() + 2;
    }
    return true;
}

bool TScanSession::KeepTrace(const std::string& text) {
    if (!pipelined_) return false;
    std::int32_t msg = tracingTop_;
    if (msg == 0 && text.rfind("< ", 0) == 0 && client_.ReplyRequest() == pop3Top)
        msg = client_.ReplyMsgNum();
    const auto it = fetched_.find(msg);
    if (it == fetched_.end()) return false;
    it->second.Trace.push_back(text);
    return true;
}

} // namespace screening
