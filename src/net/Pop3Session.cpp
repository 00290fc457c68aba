// The POP3 client's connection and replies: the transport's events, the reply lines and the
// handlers of each kind of reply.

#include "net/Pop3Internal.h"
#include "net/Pop3Prot.h"

#include "net/WSocket.h"

using pop3detail::Command;
using pop3detail::Shape;

namespace {

// The greeting and the answer to STLS are short lines; a server that sends more without a
// line end is not one to talk to.
constexpr std::size_t kMaxStlsLine = 4096;

} // namespace

void TCustomPop3Cli::WireTransport() {
    TTransport& t = channel_.Transport();
    t.OnLookupDone = [this](std::uint16_t e) { LookupDone(e); };
    t.OnConnected = [this](std::uint16_t e) { SessionConnected(e); };
    t.OnClosed = [this](std::uint16_t e) { SessionClosed(e); };
    t.OnTlsDone = [this](std::uint16_t e) { TlsDone(e); };
    channel_.OnLine = [this](const std::string& line) { ReceivedLine(line); };
    channel_.OnUnexpected = [this](const std::string&) { Display("< " + lastResponse_); };
    channel_.OnTrace = [this](const std::string& text) { Display(text); };
    channel_.OnLineTooLong = [this] {
        if (stlsStep_ != stlsNone)
            StlsFailed("the server's line before STLS is too long");
        else
            FailAndDrop("-ERR Reply line too long", kPop3NegativeReply);
    };
    channel_.OnTimedOut = [this] { TimedOut(); };
}

TCustomPop3Cli::~TCustomPop3Cli() {
    // The transport closes itself as it goes; nothing of that may reach a half-destroyed
    // client.
    TTransport& t = channel_.Transport();
    t.OnLookupDone = nullptr;
    t.OnConnected = nullptr;
    t.OnClosed = nullptr;
    t.OnTlsDone = nullptr;
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
    if (error != 0) return ConnectFailed(error, channel_.Transport().TlsError());
    if (security_ == secStls) {
        // Nothing counts as connected before the connection is secure.
        SetStlsStep(stlsGreeting);
        channel_.ExpectReply(
            [this](TPendingReply&, const std::string& line) { return StlsLine(line); });
        return;
    }
    AwaitGreeting();
    channel_.ExpectReply([this](TPendingReply&, const std::string&) { return GreetingLine(); });
}

void TCustomPop3Cli::AwaitGreeting() {
    connected_ = true;
    SetState(pop3WaitingBanner);
}

void TCustomPop3Cli::ConnectFailed(std::uint16_t error, const std::string& reason) {
    SetStlsStep(stlsNone);
    connectFailure_ = TLineFramer::OneLine(reason);
    lastResponse_ = connectFailure_.empty() ? Pop3WinsockFailure(error) : "-ERR " + connectFailure_;
    connected_ = false;
    TriggerRequestDone(error);
    channel_.Transport().Close();
    SetState(pop3Ready);
}

void TCustomPop3Cli::SessionClosed(std::uint16_t error) {
    if (stlsStep_ == stlsGreeting || stlsStep_ == stlsReply)
        return StlsFailed("the server closed the connection before STLS");
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
    SetProtocolState(pop3Disconnected);
}

void TCustomPop3Cli::ReceivedLine(const std::string& line) {
    // The lines before STLS reach no one; its greeting is handed on once the connection is
    // secure.
    if (stlsStep_ != stlsNone) return;
    lastResponse_ = line;
    Pop3Call(OnResponse, this, lastResponse_);
}

void TCustomPop3Cli::TimedOut() {
    lastResponse_ = Pop3WinsockFailure(wsaTimedOut);
    FailAndDrop(lastResponse_, wsaTimedOut);
}

void TCustomPop3Cli::FailAndDrop(const std::string& text, std::uint16_t error) {
    SetStlsStep(stlsNone);
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

// ---- STLS ----

void TCustomPop3Cli::SetStlsStep(TStlsStep s) {
    stlsStep_ = s;
    channel_.SetMaxLine(s == stlsNone ? MaxLineLength : kMaxStlsLine);
}

bool TCustomPop3Cli::StlsLine(const std::string& line) {
    // Bytes that came with either line were sent before the server could know what we
    // would say: nothing received before the handshake may count after it.
    channel_.DropReceived();
    if (stlsStep_ == stlsGreeting) {
        // A refusing server: its greeting ends the Connect as on a plain connection.
        if (!Pop3Positive(line)) return TakeGreeting(line);
        stlsGreeting_ = line;
        SetStlsStep(stlsReply);
        channel_.SendCommand("STLS");
        return false; // the answer comes to this handler too
    }
    if (line != "+OK" && line.rfind("+OK ", 0) != 0) {
        StlsFailed("the server refused STLS (" + line + ")");
        return true;
    }
    SetStlsStep(stlsHandshake);
    channel_.Transport().StartTls();
    return true;
}

void TCustomPop3Cli::StlsFailed(const std::string& reason) {
    channel_.DropReceived();
    ConnectFailed(kTlsFailure, "TLS error: " + reason);
}

// The greeting held since before STLS is acted on now, as it would be on a connection that
// was secure from the start.
void TCustomPop3Cli::TlsDone(std::uint16_t error) {
    if (stlsStep_ != stlsHandshake) return;
    if (error != 0) return ConnectFailed(error, channel_.Transport().TlsError());
    TakeGreeting(stlsGreeting_);
}

bool TCustomPop3Cli::TakeGreeting(const std::string& line) {
    SetStlsStep(stlsNone);
    AwaitGreeting();
    ReceivedLine(line);
    return GreetingLine();
}

// ---- replies ----

bool TCustomPop3Cli::GreetingLine() {
    Display("< " + lastResponse_);
    if (!Pop3Positive(lastResponse_)) {
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
    SetProtocolState(pop3WaitingUser);
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
    if (!Pop3Positive(lastResponse_)) {
        TakeErrorMessage(lastResponse_);
        TriggerRequestDone(kPop3NegativeReply);
        return true;
    }
    SetProtocolState(c.OnSuccess);
    switch (c.Reply) {
    case Shape::Status:
        break;
    case Shape::Stat: {
        std::optional<TPop3TwoNumbers> n = Pop3ParseStat(lastResponse_);
        msgCount_ = n ? n->First : 0;
        msgSize_ = n ? n->Second : 0;
        if (!n) {
            TakeErrorMessage("-ERR Invalid STAT reply");
            TriggerRequestDone(kPop3NegativeReply);
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
        TriggerRequestDone(kPop3NegativeReply);
        return true;
    }
    replyBytes_ += lastResponse_.size() + 2;
    if (replyBytes_ > maxReplySize_) {
        FailAndDrop("-ERR Reply too long", kPop3NegativeReply);
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
