#include "net/CommandChannel.h"

#include "net/WinsockErrors.h"
#include "platform/ErrorReport.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace {

// Read size per event; a line may still grow to the maximum over many reads.
constexpr std::size_t kReadChunk = 64 * 1024;
// Keeps the time-out's milliseconds within the timer's range (about 23 days).
constexpr std::int32_t kMaxTimeoutSeconds = 2000000;

} // namespace

TCommandChannel::TCommandChannel(QObject& owner, std::unique_ptr<TTransport> transport,
                                 std::size_t maxLine, bool loneLfEnds, TLineOrder order)
    : owner_(owner), transport_(std::move(transport)), framer_(maxLine, loneLfEnds),
      readBuf_(kReadChunk), order_(order) {
    transport_->OnDataAvailable = [this] { DataAvailable(); };
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &owner_, [this] {
        platform::Guarded([this] {
            if (running_ && OnTimedOut) OnTimedOut();
        });
    });
}

TCommandChannel::~TCommandChannel() {
    *alive_ = false;
    transport_->OnDataAvailable = nullptr;
}

void TCommandChannel::BeginRequest() {
    running_ = true;
    ArmTimer();
}

bool TCommandChannel::EndRequest() {
    if (!running_) return false;
    running_ = false;
    timer_.stop();
    return true;
}

void TCommandChannel::PostDone(std::function<void()> report) {
    QMetaObject::invokeMethod(
        &owner_, [report = std::move(report)] { platform::Guarded(report); }, Qt::QueuedConnection);
}

void TCommandChannel::SetTimeout(std::int32_t seconds) {
    timeout_ = std::clamp(seconds, 0, kMaxTimeoutSeconds);
}

void TCommandChannel::ArmTimer() {
    if (timeout_ > 0 && running_)
        timer_.start(timeout_ * 1000);
    else
        timer_.stop();
}

void TCommandChannel::ExpectReply(std::function<bool(TPendingReply&, const std::string&)> onLine) {
    auto reply = std::make_shared<TPendingReply>();
    reply->OnLine = std::move(onLine);
    pending_.push_back(std::move(reply));
}

void TCommandChannel::TraceCommand(const std::string& command) {
    if (OnTrace) OnTrace(TLineFramer::TraceCommand(command));
}

void TCommandChannel::SendCommand(const std::string& command) {
    transport_->Send(TLineFramer::Frame(command));
}

void TCommandChannel::DropReceived() {
    stop_ = true;
    framer_.Clear();
}

void TCommandChannel::DataAvailable() {
    if (order_ == loNested)
        NestedDataAvailable();
    else
        InTurnDataAvailable();
}

void TCommandChannel::DrainReceived() {
    held_ = true;
    std::string line;
    while (Read(true))
        while (framer_.NextLine(line))
            Dispatch(line);
    held_ = false;
    DropReceived();
}

// One read; false when nothing came.
bool TCommandChannel::Read(bool arrivedOnly) {
    const std::size_t room = framer_.Room(readBuf_.size());
    if (room == 0) return false; // full of lines still to be handled
    const int n = arrivedOnly ? transport_->ReceiveArrived(readBuf_.data(), static_cast<int>(room))
                              : transport_->Receive(readBuf_.data(), static_cast<int>(room));
    if (n <= 0) {
        if (order_ == loInTurn && !arrivedOnly &&
            !(n < 0 && transport_->LastError() == wsaWouldBlock))
            transport_->Close(); // the server went away
        return false;
    }
    if (timer_.isActive()) ArmTimer(); // a reply that trickles in is no time-out
    framer_.Append(readBuf_.data(), static_cast<std::size_t>(n));
    return true;
}

// Handlers called from here may start the next command, whose drain reads and handles lines
// before they return: all positions live in the framer, none in locals.
void TCommandChannel::NestedDataAvailable() {
    if (!Read()) return;
    stop_ = false;
    std::string line;
    while (!stop_ && framer_.NextLine(line))
        Dispatch(line);
    if (!stop_ && framer_.Overflowing() && OnLineTooLong) OnLineTooLong();
}

// A handler may destroy the channel's owner and unwind from here by an exception: nothing
// of the channel is touched then.
void TCommandChannel::InTurnDataAvailable() {
    if (dispatching_) {
        readPending_ = !Read();
        return;
    }
    const std::shared_ptr<bool> alive = alive_;
    struct Dispatching {
        const std::shared_ptr<bool>& alive;
        bool& flag;
        ~Dispatching() {
            if (*alive) flag = false;
        }
    } dispatching{alive, dispatching_ = true};
    bool more = Read();
    std::string line;
    while (more) {
        while (!transport_->Closed() && framer_.NextLine(line))
            Dispatch(line);
        if (!transport_->Closed() && framer_.Overflowing()) {
            framer_.Clear();
            if (OnLineTooLong) OnLineTooLong();
            return;
        }
        // A read during a handler found no room: now that there is, read what waits.
        more = readPending_ && !transport_->Closed();
        if (more) {
            readPending_ = false;
            more = Read();
        }
    }
}

void TCommandChannel::Dispatch(const std::string& line) {
    if (OnLine) OnLine(line);
    if (held_ || pending_.empty()) {
        if (OnUnexpected) OnUnexpected(line);
        return;
    }
    // Held here, so a handler that forgets the queue does not destroy itself.
    const std::shared_ptr<TPendingReply> reply = pending_.front();
    if (reply->OnLine(*reply, line) && !pending_.empty() && pending_.front() == reply)
        pending_.pop_front();
}
