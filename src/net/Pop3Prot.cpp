#include "net/Pop3Prot.h"

#include "net/WSocket.h"
#include "net/WinsockErrors.h"
#include "platform/ErrorReport.h"
#include "platform/MessagePump.h"
#include "platform/Trim.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMetaObject>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr std::uint16_t kNegativeReply = 500;
constexpr std::uint16_t kConnectionClosed = 10004;
constexpr std::uint16_t kLoginAborted = 426;
constexpr std::uint16_t kTimedOut = 10060;
// Keeps the time-out's milliseconds within the timer's range (about 23 days).
constexpr std::int32_t kMaxTimeoutSeconds = 2000000;
// Read size per socket event; a reply line may still grow to MaxLineLength over many reads.
constexpr std::size_t kReadChunk = 64 * 1024;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Decimal digits up to the first non-digit. Numbers past the 32-bit range stop at its
// maximum instead of wrapping.
std::int32_t ReadNumber(std::string_view s, std::size_t& i) {
    std::int64_t value = 0;
    constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
    for (; i < s.size() && IsDigit(s[i]); ++i)
        value = std::min(max, value * 10 + (s[i] - '0'));
    return static_cast<std::int32_t>(value);
}

void SkipBlanks(std::string_view s, std::size_t& i) {
    while (i < s.size() && IsBlank(s[i]))
        ++i;
}

// Removes control characters and blanks at both ends.
std::string WinsockFailure(std::uint16_t error) {
    return "-ERR " + WinsockErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

// Calls an event's handler through a copy: a handler may replace or clear itself, which
// must not destroy the code that is running.
template <class Handler, class... Args> void Call(const Handler& handler, Args&&... args) {
    if (!handler) return;
    const Handler copy = handler;
    copy(std::forward<Args>(args)...);
}

unsigned Bit(int step) {
    return 1u << step;
}

} // namespace

TPop3TwoNumbers Pop3ParseTwoNumbers(std::string_view line) {
    TPop3TwoNumbers result;
    std::size_t i = line.find_first_of("0123456789");
    if (i == std::string_view::npos) return result;
    result.First = ReadNumber(line, i);
    SkipBlanks(line, i);
    result.Second = ReadNumber(line, i);
    return result;
}

TPop3NumberAndId Pop3ParseNumberAndId(std::string_view line) {
    TPop3NumberAndId result;
    std::size_t i = line.find_first_of("0123456789");
    if (i == std::string_view::npos) return result;
    result.Number = ReadNumber(line, i);
    SkipBlanks(line, i);
    std::size_t start = i;
    while (i < line.size() && line[i] >= '!' && line[i] <= '~')
        ++i;
    result.Id = std::string(line.substr(start, i - start));
    return result;
}

std::optional<TPop3TwoNumbers> Pop3ParseStat(std::string_view line) {
    if (line.empty() || line[0] != '+') return std::nullopt;
    std::size_t i = line.find_first_of(" \t");
    if (i == std::string_view::npos) return std::nullopt;
    SkipBlanks(line, i);
    const std::size_t start = i;
    std::int64_t count = 0;
    for (; i < line.size() && IsDigit(line[i]); ++i) {
        count = count * 10 + (line[i] - '0');
        if (count > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    if (i == start || (i < line.size() && !IsBlank(line[i]))) return std::nullopt;
    TPop3TwoNumbers result;
    result.First = static_cast<std::int32_t>(count);
    SkipBlanks(line, i);
    result.Second = ReadNumber(line, i);
    return result;
}

std::string Pop3ApopDigest(const std::string& timestamp, const std::string& password) {
    QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(timestamp + password),
                                                 QCryptographicHash::Md5);
    return digest.toHex().toUpper().toStdString();
}

TCustomPop3Cli::TCustomPop3Cli(QObject* owner)
    : QObject(owner), socket_(std::make_unique<TTlsWSocket>()), readBuf_(kReadChunk) {
    socket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { SessionClosed(e); };
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this,
            [this] { platform::Guarded([this] { TimedOut(); }); });
}

void TCustomPop3Cli::SetTimeout(std::int32_t seconds) {
    timeout_ = std::clamp(seconds, 0, kMaxTimeoutSeconds);
}

TCustomPop3Cli::~TCustomPop3Cli() {
    // The socket closes itself as it goes; nothing of that may reach a half-destroyed client.
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
}

// ---- preconditions ----

void TCustomPop3Cli::CheckReady() const {
    if (state_ != pop3Ready && state_ != pop3InternalReady)
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
void TCustomPop3Cli::AuthCommand(TPop3ProtocolState latest, TPop3Request rq,
                                 const std::string& word, const std::string& argument,
                                 TPop3ProtocolState onSuccess) {
    if (protocolState_ > latest) RefuseInvalidNow("-ERR " + word + " command invalid now");
    CheckReady();
    CheckConnected();
    ExecCommand(rq, word + " " + platform::Trimmed(argument), onSuccess, nullptr);
}

// The commands of the transaction state: refused outside it; the state stays as it is.
void TCustomPop3Cli::TransactionCommand(TPop3Request rq, const std::string& word,
                                        const std::string& arguments, Routine after) {
    if (protocolState_ != pop3Transaction)
        RefuseInvalidNow("-ERR " + word + " command invalid now");
    CheckReady();
    CheckConnected();
    ExecCommand(rq, word + arguments, pop3Transaction, after);
}

// LIST and UIDL: about one message when MsgNum is set, else a multi-line reply on all.
void TCustomPop3Cli::OneOrAll(TPop3Request rq, const std::string& word, Routine one, Routine all) {
    if (msgNum_ > 0)
        TransactionCommand(rq, word, " " + std::to_string(msgNum_), one);
    else
        TransactionCommand(rq, word, "", all);
}

// ---- operations ----

void TCustomPop3Cli::Connect() {
    CheckReady();
    if (connected_) throw Pop3Exception("POP3 component already connected");
    if (!combined_) requestType_ = pop3Connect;
    requestDone_ = false;
    ArmIdleTimer();
    DropReceived();
    timestamp_.clear();
    SetState(pop3DnsLookup);
    socket_->SetSecurity(security_);
    socket_->SetTlsHost(host_);
    socket_->SetCAFile(caFile_);
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { DnsLookupDone(e); };
    socket_->DnsLookup(host_);
}

void TCustomPop3Cli::Login() {
    if (connected_) throw Pop3Exception("pop3 component already connected");
    CheckReady();
    requestType_ = pop3Login;
    pendingSteps_ = Bit(stConnect) | Bit(stUser) | Bit(stPass);
    combinedResult_ = 0;
    combined_ = true;
    lastResponse_.clear();
    errorMessage_.clear();
    NextLoginStep(0);
}

void TCustomPop3Cli::User() {
    AuthCommand(pop3WaitingUser, pop3User, "USER", userName_, pop3WaitingPass);
}

void TCustomPop3Cli::Pass() {
    AuthCommand(pop3WaitingPass, pop3Pass, "PASS", passWord_, pop3Transaction);
}

void TCustomPop3Cli::RPop() {
    AuthCommand(pop3WaitingPass, pop3RPop, "RPOP", passWord_, pop3Transaction);
}

void TCustomPop3Cli::APop() {
    if (protocolState_ != pop3WaitingUser) RefuseInvalidNow("-ERR APOP command invalid now");
    if (timestamp_.empty()) RefuseInvalidNow("-ERR Server do not support APOP (no timestamp)");
    CheckReady();
    CheckConnected();
    ExecCommand(pop3APop,
                "APOP " + platform::Trimmed(userName_) + " " +
                    Pop3ApopDigest(timestamp_, passWord_),
                pop3Transaction, nullptr);
}

void TCustomPop3Cli::Quit() {
    CheckReady();
    if (!connected_) {
        // Nothing to say goodbye to: done at once (still reported from the event loop).
        if (!combined_) requestType_ = pop3Quit;
        requestDone_ = false;
        TriggerRequestDone(0);
        return;
    }
    ExecCommand(pop3Quit, "QUIT", pop3Disconnected, nullptr);
}

void TCustomPop3Cli::Stat() {
    TransactionCommand(pop3Stat, "STAT", "", &TCustomPop3Cli::AfterStat);
}

void TCustomPop3Cli::List() {
    OneOrAll(pop3List, "LIST", &TCustomPop3Cli::AfterListOne, &TCustomPop3Cli::AfterList);
}

void TCustomPop3Cli::Retr() {
    TransactionCommand(pop3Retr, "RETR", " " + std::to_string(msgNum_),
                       &TCustomPop3Cli::AfterMessage);
}

void TCustomPop3Cli::Top() {
    if (msgLines_ < 0) throw Pop3Exception("Invalid MsgLines for TOP command");
    TransactionCommand(pop3Top, "TOP",
                       " " + std::to_string(msgNum_) + " " + std::to_string(msgLines_),
                       &TCustomPop3Cli::AfterMessage);
}

void TCustomPop3Cli::Dele() {
    TransactionCommand(pop3Dele, "DELE", " " + std::to_string(msgNum_), nullptr);
}

void TCustomPop3Cli::Noop() {
    TransactionCommand(pop3Noop, "NOOP", "", nullptr);
}

void TCustomPop3Cli::Last() {
    TransactionCommand(pop3Last, "LAST", "", &TCustomPop3Cli::AfterListOne);
}

void TCustomPop3Cli::RSet() {
    TransactionCommand(pop3RSet, "RSET", "", nullptr);
}

void TCustomPop3Cli::Uidl() {
    OneOrAll(pop3Uidl, "UIDL", &TCustomPop3Cli::AfterUidlOne, &TCustomPop3Cli::AfterUidl);
}

void TCustomPop3Cli::Abort() {
    idleTimer_.stop();
    SetState(pop3Abort);
    socket_->Abort(); // cancels a pending lookup first
    SetState(pop3Ready);
    // Whatever could still finish has finished above, or will as soon as the close being
    // reported now is through; a request that nothing can finish any more (a Connect whose
    // lookup never started) is dropped so the next one starts clean.
    if (reportingClose_) return;
    requestDone_ = true;
    combined_ = false;
    pendingSteps_ = 0;
}

// ---- requests ----

void TCustomPop3Cli::SetState(TPop3State s) {
    if (state_ == s) return;
    state_ = s;
    Fire(&OnStateChange);
}

void TCustomPop3Cli::Fire(const TPop3Notify* event) {
    Call(*event, this);
}

void TCustomPop3Cli::Display(const std::string& msg) {
    Call(OnDisplay, this, msg);
}

void TCustomPop3Cli::TakeErrorMessage(const std::string& text) {
    if (errorMessage_.empty()) errorMessage_ = text;
}

void TCustomPop3Cli::ExecCommand(TPop3Request rq, const std::string& command,
                                 TPop3ProtocolState onSuccess, Routine after) {
    if (!combined_) requestType_ = rq;
    requestDone_ = false;
    ArmIdleTimer();
    next_ = &TCustomPop3Cli::StatusLine;
    nextProtocolState_ = onSuccess;
    after_ = after;
    SetState(pop3WaitingResponse);
    SendCommand(command);
}

void TCustomPop3Cli::SendCommand(const std::string& command) {
    Display("> " + command);
    // Whatever arrives before the command is out cannot be its reply.
    commandUnsent_ = true;
    platform::ProcessMessages();
    commandUnsent_ = false;
    // The connection may have gone while events were processed; its close has already ended
    // this request, and sending now could only fail.
    if (!connected_) return;
    DropReceived();
    socket_->SendStr(command + "\r\n");
}

void TCustomPop3Cli::ArmIdleTimer() {
    if (timeout_ > 0 && !requestDone_)
        idleTimer_.start(timeout_ * 1000);
    else
        idleTimer_.stop();
}

void TCustomPop3Cli::TriggerRequestDone(std::uint16_t error) {
    if (requestDone_) return;
    requestDone_ = true;
    idleTimer_.stop();
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
    // and may start the next request at once; dropped if this object is gone by then.
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            platform::Guarded([&] { Call(OnRequestDone, this, requestType_, error); });
        },
        Qt::QueuedConnection);
}

void TCustomPop3Cli::NextLoginStep(std::uint16_t error) {
    if (state_ == pop3Abort) {
        pendingSteps_ = 0;
        combinedResult_ = kLoginAborted;
        errorMessage_ = "426 Operation aborted.";
    } else if (error != 0) {
        combinedResult_ = error;
        // A failed step drops the rest, but a pending QUIT still says goodbye (the step that
        // just failed is no longer in the set, so a failed QUIT is not run again).
        pendingSteps_ &= Bit(stQuit);
    }
    for (int s = 0; s < stCount; ++s) {
        if (pendingSteps_ & Bit(s)) {
            pendingSteps_ &= ~Bit(s);
            RunStep(static_cast<Step>(s));
            return;
        }
    }
    FinishAndPost(combinedResult_);
}

void TCustomPop3Cli::RunStep(Step step) {
    switch (step) {
    case stConnect:
        return Connect();
    case stUser:
        return User();
    case stPass:
        return Pass();
    case stRPop:
        return RPop();
    case stDele:
        return Dele();
    case stNoop:
        return Noop();
    case stList:
        return List();
    case stRSet:
        return RSet();
    case stAPop:
        return APop();
    case stRetr:
        return Retr();
    case stTop:
        return Top();
    case stStat:
        return Stat();
    case stUidl:
        return Uidl();
    case stLast:
        return Last();
    case stQuit:
        return Quit();
    case stCount:
        break;
    }
}

// ---- socket events ----

void TCustomPop3Cli::DnsLookupDone(std::uint16_t error) {
    if (error != 0) {
        lastResponse_ = WinsockFailure(error);
        TakeErrorMessage(lastResponse_);
        TriggerRequestDone(error);
        return;
    }
    try {
        socket_->SetAddr(socket_->DnsResult());
        socket_->SetProto("tcp");
        socket_->SetPort(port_);
        socket_->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
            SessionConnected(e);
        };
        socket_->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataAvailable(e); };
        SetState(pop3Connecting);
        socket_->Connect();
    } catch (const ESocketException&) {
        // The socket refused (a port it cannot convert, a connect the platform turned down
        // at once). Its exception goes on to the caller, or from a lookup answer to the error
        // handler; the request ends as a failed connection, so nobody waits for it for good.
        const int code = socket_->LastError() != 0 ? socket_->LastError() : 10022;
        lastResponse_ = WinsockFailure(static_cast<std::uint16_t>(code));
        TriggerRequestDone(static_cast<std::uint16_t>(code));
        socket_->Abort();
        throw;
    }
}

void TCustomPop3Cli::SessionConnected(std::uint16_t error) {
    if (error != 0) {
        const std::string& tls = socket_->TlsError();
        lastResponse_ = tls.empty() ? WinsockFailure(error) : "-ERR " + tls;
        connected_ = false;
        TriggerRequestDone(error);
        socket_->Close();
        SetState(pop3Ready);
        return;
    }
    connected_ = true;
    SetState(pop3WaitingBanner);
}

void TCustomPop3Cli::SessionClosed(std::uint16_t error) {
    connected_ = false;
    {
        // An Abort from the handler leaves the outstanding request to be ended below.
        struct Reporting {
            bool& flag;
            ~Reporting() { flag = false; }
        } reporting{reportingClose_ = true};
        Call(OnSessionClosed, this, error);
    }
    TriggerRequestDone(kConnectionClosed);
    protocolState_ = pop3Disconnected;
}

void TCustomPop3Cli::DataAvailable(std::uint16_t) {
    // Drop the lines already handled; what is left is at most one unfinished line.
    if (rcvStart_ > 0) {
        rcv_.erase(0, rcvStart_);
        scanFrom_ -= std::min(scanFrom_, rcvStart_);
        rcvStart_ = 0;
    }
    std::size_t room = MaxLineLength + 2 - rcv_.size();
    int n = socket_->Receive(readBuf_.data(), static_cast<int>(std::min(room, readBuf_.size())));
    if (n <= 0) return;
    if (idleTimer_.isActive()) ArmIdleTimer(); // a reply that trickles in is no time-out
    rcv_.append(readBuf_.data(), static_cast<std::size_t>(n));
    SplitLines();
}

// Handlers called from here may start the next command, which processes events and so may
// run DataAvailable again before they return: all positions live in members, none in locals.
void TCustomPop3Cli::SplitLines() {
    stopSplitting_ = false;
    while (!stopSplitting_) {
        // CR LF ends a line, and so does a lone LF, which some servers send.
        std::size_t end = rcv_.find('\n', std::max(scanFrom_, rcvStart_));
        if (end == std::string::npos) {
            scanFrom_ = rcv_.size();
            break;
        }
        const std::size_t lineEnd = end > rcvStart_ && rcv_[end - 1] == '\r' ? end - 1 : end;
        lastResponse_.assign(rcv_, rcvStart_, lineEnd - rcvStart_);
        rcvStart_ = scanFrom_ = end + 1;
        Call(OnResponse, this, lastResponse_);
        if (commandUnsent_) {
            Display("< " + lastResponse_);
        } else if (state_ == pop3WaitingBanner) {
            GreetingLine();
        } else if (state_ == pop3WaitingResponse) {
            if (!next_) throw Pop3Exception("Program error: FNext is nil");
            (this->*next_)();
        } else {
            Display("< " + lastResponse_);
        }
    }
    if (stopSplitting_) return;
    std::size_t unfinished = rcv_.size() - rcvStart_;
    bool crWaitsForLf = unfinished > 0 && rcv_.back() == '\r';
    if (unfinished > MaxLineLength + (crWaitsForLf ? 1 : 0)) LineTooLong();
}

void TCustomPop3Cli::DropReceived() {
    rcv_.clear();
    rcvStart_ = scanFrom_ = 0;
}

void TCustomPop3Cli::LineTooLong() {
    FailAndDrop("-ERR Reply line too long", kNegativeReply);
}

void TCustomPop3Cli::TimedOut() {
    if (requestDone_) return;
    lastResponse_ = WinsockFailure(kTimedOut);
    FailAndDrop(lastResponse_, kTimedOut);
}

void TCustomPop3Cli::FailAndDrop(const std::string& text, std::uint16_t error) {
    stopSplitting_ = true;
    DropReceived();
    if (!requestDone_) {
        TakeErrorMessage(text);
        TriggerRequestDone(error);
    }
    // Nothing sensible can follow in this session.
    socket_->Abort();
}

// ---- replies ----

void TCustomPop3Cli::GreetingLine() {
    Display("< " + lastResponse_);
    if (lastResponse_.empty() || lastResponse_[0] != '+') {
        TakeErrorMessage(lastResponse_);
        stopSplitting_ = true;
        DropReceived();
        socket_->Close(); // its close ends the request with 10004
        return;
    }
    std::size_t open = lastResponse_.find('<');
    if (open != std::string::npos) {
        std::size_t close = lastResponse_.find('>', open);
        if (close != std::string::npos) timestamp_ = lastResponse_.substr(open, close - open + 1);
    }
    protocolState_ = pop3WaitingUser;
    SetState(pop3Connected);
    Call(OnSessionConnected, this, 0);
    TriggerRequestDone(0);
}

void TCustomPop3Cli::StatusLine() {
    Display("< " + lastResponse_);
    bool positive = !lastResponse_.empty() && lastResponse_[0] == '+';
    if (!positive) {
        TakeErrorMessage(lastResponse_);
        TriggerRequestDone(kNegativeReply);
        return;
    }
    protocolState_ = nextProtocolState_;
    if (after_)
        (this->*after_)();
    else
        TriggerRequestDone(0);
}

void TCustomPop3Cli::AfterStat() {
    std::optional<TPop3TwoNumbers> n = Pop3ParseStat(lastResponse_);
    msgCount_ = n ? n->First : 0;
    msgSize_ = n ? n->Second : 0;
    if (!n) {
        TakeErrorMessage("-ERR Invalid STAT reply");
        TriggerRequestDone(kNegativeReply);
        return;
    }
    TriggerRequestDone(0);
}

void TCustomPop3Cli::AfterListOne() {
    ParseListLine();
    TriggerRequestDone(0);
}

void TCustomPop3Cli::AfterUidlOne() {
    ParseUidlLine();
    TriggerRequestDone(0);
}

void TCustomPop3Cli::AfterList() {
    StartMultiLine(&OnListBegin, &OnListLine, &OnListEnd, &TCustomPop3Cli::ParseListLine);
}

void TCustomPop3Cli::AfterUidl() {
    StartMultiLine(&OnUidlBegin, &OnUidlLine, &OnUidlEnd, &TCustomPop3Cli::ParseUidlLine);
}

void TCustomPop3Cli::AfterMessage() {
    StartMultiLine(&OnMessageBegin, &OnMessageLine, &OnMessageEnd, nullptr);
}

void TCustomPop3Cli::ParseListLine() {
    TPop3TwoNumbers n = Pop3ParseTwoNumbers(lastResponse_);
    msgNum_ = n.First;
    msgSize_ = n.Second;
}

void TCustomPop3Cli::ParseUidlLine() {
    TPop3NumberAndId n = Pop3ParseNumberAndId(lastResponse_);
    msgNum_ = n.Number;
    msgUidl_ = n.Id;
}

void TCustomPop3Cli::StartMultiLine(const TPop3Notify* begin, const TPop3Notify* line,
                                    const TPop3Notify* end, Routine parser) {
    multiLine_ = line;
    multiEnd_ = end;
    multiParser_ = parser;
    replyBytes_ = 0;
    Fire(begin);
    next_ = &TCustomPop3Cli::DataLine;
}

void TCustomPop3Cli::DataLine() {
    if (!connected_) {
        errorMessage_ = "-ERR Disconneced unexpectedly";
        Display(errorMessage_);
        TriggerRequestDone(kNegativeReply);
        return;
    }
    replyBytes_ += lastResponse_.size() + 2;
    if (replyBytes_ > maxReplySize_) {
        FailAndDrop("-ERR Reply too long", kNegativeReply);
        return;
    }
    if (lastResponse_ == ".") {
        Fire(multiEnd_);
        lastResponse_.clear();
        next_ = nullptr;
        TriggerRequestDone(0);
        return;
    }
    if (lastResponse_.size() >= 2 && lastResponse_[0] == '.' && lastResponse_[1] == '.')
        lastResponse_.erase(0, 1);
    if (multiParser_) (this->*multiParser_)();
    Fire(multiLine_);
}
