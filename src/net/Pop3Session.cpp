// The POP3 client's connection and replies: the transport's events, the reply lines and the
// handlers of each kind of reply.

#include "net/Pop3Internal.h"
#include "net/Pop3Prot.h"

#include "net/WSocket.h"

using pop3detail::Command;
using pop3detail::Shape;

namespace {

constexpr std::uint16_t kNegativeReply = 500;

bool Positive(const std::string& line) {
    return !line.empty() && line[0] == '+';
}

} // namespace

void TCustomPop3Cli::WireTransport() {
    TTransport& t = channel_.Transport();
    t.OnLookupDone = [this](std::uint16_t e) { LookupDone(e); };
    t.OnConnected = [this](std::uint16_t e) { SessionConnected(e); };
    t.OnClosed = [this](std::uint16_t e) { SessionClosed(e); };
    channel_.OnLine = [this](const std::string& line) { ReceivedLine(line); };
    channel_.OnUnexpected = [this](const std::string&) { Display("< " + lastResponse_); };
    channel_.OnTrace = [this](const std::string& text) { Display(text); };
    channel_.OnLineTooLong = [this] { FailAndDrop("-ERR Reply line too long", kNegativeReply); };
    channel_.OnTimedOut = [this] { TimedOut(); };
}

TCustomPop3Cli::~TCustomPop3Cli() {
    // The transport closes itself as it goes; nothing of that may reach a half-destroyed
    // client.
    TTransport& t = channel_.Transport();
    t.OnLookupDone = nullptr;
    t.OnConnected = nullptr;
    t.OnClosed = nullptr;
}

// ---- connection events ----

void TCustomPop3Cli::LookupDone(std::uint16_t error) {
    if (error != 0) {
        lastResponse_ = Pop3WinsockFailure(error);
        TakeErrorMessage(lastResponse_);
        TriggerRequestDone(error);
        return;
    }
    TTransport& t = channel_.Transport();
    try {
        SetState(pop3Connecting);
        t.Connect();
    } catch (const ESocketException&) {
        // The platform turned the connection down at once. The exception goes on to the
        // error handler; the request ends as a failed connection, so nobody waits for good.
        const int code = t.LastError() != 0 ? t.LastError() : wsaInvalidArgument;
        lastResponse_ = Pop3WinsockFailure(static_cast<std::uint16_t>(code));
        TriggerRequestDone(static_cast<std::uint16_t>(code));
        t.Abort();
        throw;
    }
}

void TCustomPop3Cli::SessionConnected(std::uint16_t error) {
    if (error != 0) {
        connectFailure_ = TLineFramer::OneLine(channel_.Transport().TlsError());
        lastResponse_ =
            connectFailure_.empty() ? Pop3WinsockFailure(error) : "-ERR " + connectFailure_;
        connected_ = false;
        TriggerRequestDone(error);
        channel_.Transport().Close();
        SetState(pop3Ready);
        return;
    }
    connected_ = true;
    SetState(pop3WaitingBanner);
    channel_.ExpectReply([this](TPendingReply&, const std::string&) { return GreetingLine(); });
}

void TCustomPop3Cli::SessionClosed(std::uint16_t error) {
    connected_ = false;
    {
        // An Abort from the handler leaves the outstanding request to be ended below.
        struct Reporting {
            bool& flag;
            ~Reporting() { flag = false; }
        } reporting{reportingClose_ = true};
        Pop3Call(OnSessionClosed, this, error);
    }
    channel_.ForgetReplies();
    if (!inFlight_.empty())
        FailInFlight(wsaInterrupted);
    else
        TriggerRequestDone(wsaInterrupted);
    protocolState_ = pop3Disconnected;
}

void TCustomPop3Cli::ReceivedLine(const std::string& line) {
    lastResponse_ = line;
    Pop3Call(OnResponse, this, lastResponse_);
}

void TCustomPop3Cli::TimedOut() {
    lastResponse_ = Pop3WinsockFailure(wsaTimedOut);
    FailAndDrop(lastResponse_, wsaTimedOut);
}

void TCustomPop3Cli::FailAndDrop(const std::string& text, std::uint16_t error) {
    channel_.DropReceived();
    channel_.ForgetReplies();
    if (!inFlight_.empty()) {
        TakeErrorMessage(text);
        FailInFlight(error);
    } else if (channel_.RequestRunning()) {
        TakeErrorMessage(text);
        TriggerRequestDone(error);
    }
    // Nothing sensible can follow in this session.
    channel_.Transport().Abort();
}

// ---- replies ----

bool TCustomPop3Cli::GreetingLine() {
    Display("< " + lastResponse_);
    if (!Positive(lastResponse_)) {
        TakeErrorMessage(lastResponse_);
        channel_.DropReceived();
        channel_.Transport().Close(); // its close ends the request with 10004
        return true;
    }
    std::size_t open = lastResponse_.find('<');
    if (open != std::string::npos) {
        std::size_t close = lastResponse_.find('>', open);
        if (close != std::string::npos) timestamp_ = lastResponse_.substr(open, close - open + 1);
    }
    protocolState_ = pop3WaitingUser;
    SetState(pop3Connected);
    Pop3Call(OnSessionConnected, this, 0);
    TriggerRequestDone(0);
    return true;
}

bool TCustomPop3Cli::ReplyLine(TPendingReply& reply, const Command& c) {
    if (reply.Stage == rsStatus) {
        replyRequest_ = c.Rq;
        replyMsgNum_ = inFlight_.empty() ? msgNum_ : inFlight_.front().MsgNum;
        return StatusLine(reply, c);
    }
    return BodyLine(c);
}

bool TCustomPop3Cli::StatusLine(TPendingReply& reply, const Command& c) {
    Display("< " + lastResponse_);
    if (!Positive(lastResponse_)) {
        TakeErrorMessage(lastResponse_);
        TriggerRequestDone(kNegativeReply);
        return true;
    }
    protocolState_ = c.OnSuccess;
    switch (c.Reply) {
    case Shape::Status:
        break;
    case Shape::Stat: {
        std::optional<TPop3TwoNumbers> n = Pop3ParseStat(lastResponse_);
        msgCount_ = n ? n->First : 0;
        msgSize_ = n ? n->Second : 0;
        if (!n) {
            TakeErrorMessage("-ERR Invalid STAT reply");
            TriggerRequestDone(kNegativeReply);
            return true;
        }
        break;
    }
    case Shape::Listed:
    case Shape::Uidl:
        ParseBodyLine(c.Reply);
        break;
    case Shape::Capabilities:
        capabilities_.clear();
        [[fallthrough]];
    case Shape::Listing:
    case Shape::Uidls:
    case Shape::Message:
        replyBytes_ = 0;
        reply.Stage = rsBody;
        FireBody(c.Reply, beBegin);
        return false;
    }
    TriggerRequestDone(0);
    return true;
}

bool TCustomPop3Cli::BodyLine(const Command& c) {
    if (!connected_) {
        errorMessage_ = "-ERR Disconneced unexpectedly";
        Display(errorMessage_);
        TriggerRequestDone(kNegativeReply);
        return true;
    }
    replyBytes_ += lastResponse_.size() + 2;
    if (replyBytes_ > maxReplySize_) {
        FailAndDrop("-ERR Reply too long", kNegativeReply);
        return true;
    }
    if (lastResponse_ == ".") {
        FireBody(c.Reply, beEnd);
        lastResponse_.clear();
        TriggerRequestDone(0);
        return true;
    }
    if (lastResponse_.size() >= 2 && lastResponse_[0] == '.' && lastResponse_[1] == '.')
        lastResponse_.erase(0, 1);
    ParseBodyLine(c.Reply);
    FireBody(c.Reply, beLine);
    return false;
}

void TCustomPop3Cli::ParseBodyLine(Shape shape) {
    if (shape == Shape::Listed || shape == Shape::Listing) {
        TPop3TwoNumbers n = Pop3ParseTwoNumbers(lastResponse_);
        msgNum_ = n.First;
        msgSize_ = n.Second;
    } else if (shape == Shape::Uidl || shape == Shape::Uidls) {
        TPop3NumberAndId n = Pop3ParseNumberAndId(lastResponse_);
        msgNum_ = n.Number;
        msgUidl_ = n.Id;
    } else if (shape == Shape::Capabilities) {
        capabilities_.push_back(lastResponse_);
    }
}

void TCustomPop3Cli::FireBody(Shape shape, BodyEvent event) {
    if (shape == Shape::Capabilities) return; // no events of its own
    const TPop3Notify* events[3] = {&OnMessageBegin, &OnMessageLine, &OnMessageEnd};
    if (shape == Shape::Listing)
        events[0] = &OnListBegin, events[1] = &OnListLine, events[2] = &OnListEnd;
    if (shape == Shape::Uidls)
        events[0] = &OnUidlBegin, events[1] = &OnUidlLine, events[2] = &OnUidlEnd;
    Pop3Call(*events[event], this);
}
