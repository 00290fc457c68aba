// The POP3 client's operations: the command table, the preconditions of each operation,
// sending a command, and the end of a request.

#include "net/Pop3Prot.h"

#include "net/Pop3Internal.h"
#include "net/WSocket.h"
#include "platform/Trim.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>

using pop3detail::Command;
using pop3detail::Shape;

namespace {

constexpr std::uint16_t kLoginAborted = 426;

// The command table.
constexpr Command kUser{pop3User, "USER", pop3WaitingPass, Shape::Status};
constexpr Command kPass{pop3Pass, "PASS", pop3Transaction, Shape::Status};
constexpr Command kRPop{pop3RPop, "RPOP", pop3Transaction, Shape::Status};
constexpr Command kAPop{pop3APop, "APOP", pop3Transaction, Shape::Status};
constexpr Command kQuit{pop3Quit, "QUIT", pop3Disconnected, Shape::Status};
constexpr Command kStat{pop3Stat, "STAT", pop3Transaction, Shape::Stat};
constexpr Command kListOne{pop3List, "LIST", pop3Transaction, Shape::Listed};
constexpr Command kListAll{pop3List, "LIST", pop3Transaction, Shape::Listing};
constexpr Command kUidlOne{pop3Uidl, "UIDL", pop3Transaction, Shape::Uidl};
constexpr Command kUidlAll{pop3Uidl, "UIDL", pop3Transaction, Shape::Uidls};
constexpr Command kRetr{pop3Retr, "RETR", pop3Transaction, Shape::Message};
constexpr Command kTop{pop3Top, "TOP", pop3Transaction, Shape::Message};
constexpr Command kDele{pop3Dele, "DELE", pop3Transaction, Shape::Status};
constexpr Command kNoop{pop3Noop, "NOOP", pop3Transaction, Shape::Status};
constexpr Command kLast{pop3Last, "LAST", pop3Transaction, Shape::Listed};
constexpr Command kRSet{pop3RSet, "RSET", pop3Transaction, Shape::Status};
constexpr Command kCapa{pop3Capa, "CAPA", pop3Transaction, Shape::Capabilities};

// The steps of Login, in order.
constexpr TPop3Request kLoginSteps[] = {pop3Connect, pop3User, pop3Pass};

} // namespace

TCustomPop3Cli::TCustomPop3Cli(QObject* owner)
    : TCustomPop3Cli(std::make_unique<TSocketTransport>(), owner) {}

TCustomPop3Cli::TCustomPop3Cli(std::unique_ptr<TTransport> transport, QObject* owner)
    : QObject(owner), channel_(*this, std::move(transport), MaxLineLength, true) {
    WireTransport();
}

// ---- preconditions ----

void TCustomPop3Cli::CheckReady() const {
    const bool pipelined = pipelining_ && !inFlight_.empty() && protocolState_ == pop3Transaction;
    if (state_ != pop3Ready && state_ != pop3InternalReady && !pipelined)
        throw Pop3Exception("POP3 component not ready");
}

void TCustomPop3Cli::CheckConnected() const {
    if (!connected_) throw Pop3Exception("POP3 component not connected");
}

void TCustomPop3Cli::RefuseInvalidNow(const std::string& text) {
    errorMessage_ = text;
    Display(text);
    throw Pop3Exception(text);
}

// USER, PASS and RPOP: refused once the session is past `latest`.
void TCustomPop3Cli::AuthCommand(TPop3ProtocolState latest, const Command& c,
                                 const std::string& argument) {
    if (protocolState_ > latest)
        RefuseInvalidNow("-ERR " + std::string(c.Word) + " command invalid now");
    CheckReady();
    CheckConnected();
    const std::string value = platform::Trimmed(argument);
    Pop3RefuseLineBreak(value, c.Rq == pop3User ? kPop3UserName : kPop3Password);
    ExecCommand(c, c.Word + (" " + value));
}

// The commands of the transaction state: refused outside it; the state stays as it is.
void TCustomPop3Cli::TransactionCommand(const Command& c, const std::string& arguments) {
    if (protocolState_ != pop3Transaction)
        RefuseInvalidNow("-ERR " + std::string(c.Word) + " command invalid now");
    CheckReady();
    CheckConnected();
    ExecCommand(c, c.Word + arguments);
}

// ---- operations ----

void TCustomPop3Cli::Connect() {
    CheckReady();
    if (connected_) throw Pop3Exception("POP3 component already connected");
    if (!combined_) requestType_ = pop3Connect;
    channel_.BeginRequest();
    channel_.DropReceived();
    channel_.ForgetReplies();
    timestamp_.clear();
    authStatus_.clear();
    connectFailure_.clear();
    SetStlsStep(stlsNone);
    SetState(pop3DnsLookup);
    TTransport& transport = channel_.Transport();
    transport.Secure(security_, host_, caFile_);
    try {
        // Taken now rather than once the name is found: a port that cannot be used fails
        // the Connect like any other connection failure, from the event loop.
        transport.SetPort(port_);
    } catch (const ESocketException&) {
        const int code = transport.LastError() != 0 ? transport.LastError() : wsaInvalidArgument;
        // Said in the scan's own words: the socket's text runs over two lines.
        connectFailure_ = TLineFramer::OneLine("Error " + std::to_string(code) +
                                               " attempting connection (invalid port '" +
                                               platform::Trimmed(port_) + "')");
        lastResponse_ = Pop3WinsockFailure(static_cast<std::uint16_t>(code));
        TriggerRequestDone(static_cast<std::uint16_t>(code));
        return;
    }
    transport.Lookup(host_);
}

void TCustomPop3Cli::Login() {
    if (connected_) throw Pop3Exception("pop3 component already connected");
    CheckReady();
    // Refused before the connection, not half-way through the login.
    Pop3RefuseLineBreak(platform::Trimmed(userName_), kPop3UserName);
    Pop3RefuseLineBreak(platform::Trimmed(passWord_), kPop3Password);
    requestType_ = pop3Login;
    loginStep_ = 0;
    combinedResult_ = 0;
    combined_ = true;
    lastResponse_.clear();
    errorMessage_.clear();
    NextLoginStep(0);
}

void TCustomPop3Cli::User() {
    AuthCommand(pop3WaitingUser, kUser, userName_);
}

void TCustomPop3Cli::Pass() {
    AuthCommand(pop3WaitingPass, kPass, passWord_);
}

void TCustomPop3Cli::RPop() {
    AuthCommand(pop3WaitingPass, kRPop, passWord_);
}

void TCustomPop3Cli::APop() {
    if (protocolState_ != pop3WaitingUser) RefuseInvalidNow("-ERR APOP command invalid now");
    if (timestamp_.empty()) RefuseInvalidNow("-ERR Server do not support APOP (no timestamp)");
    CheckReady();
    CheckConnected();
    const std::string user = platform::Trimmed(userName_);
    Pop3RefuseLineBreak(user, kPop3UserName); // the password goes as a digest
    ExecCommand(kAPop, "APOP " + user + " " + Pop3ApopDigest(timestamp_, passWord_));
}

void TCustomPop3Cli::Quit() {
    CheckReady();
    if (!connected_) {
        // Nothing to say goodbye to: done at once (still reported from the event loop).
        if (!combined_) requestType_ = pop3Quit;
        channel_.BeginRequest();
        TriggerRequestDone(0);
        return;
    }
    ExecCommand(kQuit, "QUIT");
}

void TCustomPop3Cli::Stat() {
    TransactionCommand(kStat, "");
}

// LIST and UIDL: about one message when MsgNum is set, else a multi-line reply on all.
void TCustomPop3Cli::List() {
    if (msgNum_ > 0)
        TransactionCommand(kListOne, " " + std::to_string(msgNum_));
    else
        TransactionCommand(kListAll, "");
}

void TCustomPop3Cli::Uidl() {
    if (msgNum_ > 0)
        TransactionCommand(kUidlOne, " " + std::to_string(msgNum_));
    else
        TransactionCommand(kUidlAll, "");
}

void TCustomPop3Cli::Retr() {
    TransactionCommand(kRetr, " " + std::to_string(msgNum_));
}

void TCustomPop3Cli::Top() {
    if (msgLines_ < 0) throw Pop3Exception("Invalid MsgLines for TOP command");
    TransactionCommand(kTop, " " + std::to_string(msgNum_) + " " + std::to_string(msgLines_));
}

void TCustomPop3Cli::Dele() {
    TransactionCommand(kDele, " " + std::to_string(msgNum_));
}

void TCustomPop3Cli::Noop() {
    TransactionCommand(kNoop, "");
}

void TCustomPop3Cli::Last() {
    TransactionCommand(kLast, "");
}

void TCustomPop3Cli::RSet() {
    TransactionCommand(kRSet, "");
}

void TCustomPop3Cli::Capa() {
    TransactionCommand(kCapa, "");
}

bool TCustomPop3Cli::HasCapability(const std::string& name) const {
    for (const std::string& line : capabilities_) {
        // A capability is its first word, in any case; arguments may follow.
        const std::string word = line.substr(0, line.find(' '));
        if (word.size() == name.size() &&
            std::equal(word.begin(), word.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            }))
            return true;
    }
    return false;
}

void TCustomPop3Cli::Abort() {
    SetState(pop3Abort);
    SetStlsStep(stlsNone); // the close that follows is a close, not a refused STLS
    saslResponse_.clear();
    channel_.Transport().Abort(); // cancels a pending lookup first
    SetState(pop3Ready);
    // Whatever could still finish has finished above, or will as soon as the close being
    // reported now is through; a request that nothing can finish any more (a Connect whose
    // lookup never started) is dropped so the next one starts clean.
    if (reportingClose_) return;
    inFlight_.clear();
    channel_.EndRequest();
    channel_.ForgetReplies();
    combined_ = false;
    loginStep_ = 0;
}

void TCustomPop3Cli::CloseConnection() {
    channel_.Transport().Close();
}

// ---- requests ----

void TCustomPop3Cli::SetState(TPop3State s) {
    if (state_ == s) return;
    state_ = s;
    Pop3Call(OnStateChange, this);
}

// What is displayed or kept as the error goes into logs one line each; a server's reply may
// carry a lone CR.
void TCustomPop3Cli::Display(const std::string& msg) {
    Pop3Call(OnDisplay, this, TLineFramer::OneLine(msg));
}

void TCustomPop3Cli::TakeErrorMessage(const std::string& text) {
    if (errorMessage_.empty()) errorMessage_ = TLineFramer::OneLine(text);
}

void TCustomPop3Cli::ExecCommand(const Command& c, const std::string& line) {
    if (!combined_) requestType_ = c.Rq;
    if (pipelining_ && protocolState_ == pop3Transaction) {
        // No wait before sending: replies to the commands in flight may arrive any time and
        // must reach them.
        if (inFlight_.empty()) channel_.BeginRequest();
        SetState(pop3WaitingResponse);
        channel_.TraceCommand(line);
        inFlight_.push_back({c.Rq, msgNum_});
        channel_.ExpectReply(
            [this, &c](TPendingReply& reply, const std::string&) { return ReplyLine(reply, c); });
        Send(line);
        return;
    }
    channel_.BeginRequest();
    SetState(pop3WaitingResponse);
    SendCommand(line, c);
}

void TCustomPop3Cli::SendCommand(const std::string& line, const Command& c) {
    SendExpecting(line, line, [this, &c](TPendingReply& reply, const std::string&) {
        return ReplyLine(reply, c);
    });
}

void TCustomPop3Cli::SendExpecting(
    const std::string& line, const std::string& trace,
    std::function<bool(TPendingReply&, const std::string&)> onReply) {
    channel_.TraceCommand(trace);
    // Whatever arrived before the command is out cannot be its reply.
    channel_.DrainReceived();
    channel_.ExpectReply(std::move(onReply));
    Send(line);
}

// A failed send reaches the caller, and from there the log, on one line.
void TCustomPop3Cli::Send(const std::string& line) {
    try {
        channel_.SendCommand(line);
    } catch (const ESocketException& e) {
        throw ESocketException(TLineFramer::OneLine(e.what()));
    }
}

void TCustomPop3Cli::TriggerRequestDone(std::uint16_t error) {
    if (!inFlight_.empty()) return EndInFlight(error);
    if (!channel_.EndRequest()) return;
    if (combined_) {
        if (state_ != pop3Abort) SetState(pop3InternalReady);
        NextLoginStep(error);
        return;
    }
    FinishAndPost(error);
}

void TCustomPop3Cli::FinishAndPost(std::uint16_t error) {
    SetState(pop3Ready);
    combined_ = false;
    // Posted, so the handler runs after the operation that finished the request has returned
    // and may start the next request at once.
    const TPop3Request rq = requestType_;
    channel_.PostDone([this, rq, error] { Pop3Call(OnRequestDone, this, rq, error); });
}

void TCustomPop3Cli::EndInFlight(std::uint16_t error) {
    const TPop3Request rq = inFlight_.front().Rq;
    inFlight_.pop_front();
    if (inFlight_.empty()) {
        channel_.EndRequest();
        SetState(pop3Ready);
    }
    channel_.PostDone([this, rq, error] { Pop3Call(OnRequestDone, this, rq, error); });
}

void TCustomPop3Cli::FailInFlight(std::uint16_t error) {
    while (!inFlight_.empty())
        EndInFlight(error);
}

void TCustomPop3Cli::NextLoginStep(std::uint16_t error) {
    constexpr int steps = static_cast<int>(std::size(kLoginSteps));
    if (state_ == pop3Abort) {
        loginStep_ = steps;
        combinedResult_ = kLoginAborted;
        errorMessage_ = "426 Operation aborted.";
    } else if (error != 0) {
        combinedResult_ = error;
        loginStep_ = steps; // a failed step drops the rest
    }
    if (loginStep_ >= steps) return FinishAndPost(combinedResult_);
    switch (kLoginSteps[loginStep_++]) {
    case pop3Connect:
        return Connect();
    case pop3User:
        return User();
    default:
        return Pass();
    }
}
