#pragma once

// Event-driven POP3 client (RFC 1939) on top of TWSocket. Every operation sends one
// command (Connect: lookup, connect, greeting) and returns at once; the outcome arrives
// later as one OnRequestDone, always posted to the event loop.

#include "net/TlsWSocket.h"
#include "platform/Exception.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Ordinals are fixed: callers compare them by number.
enum TPop3ProtocolState : int {
    pop3Disconnected = 0,
    pop3WaitingUser = 1,
    pop3WaitingPass = 2,
    pop3Transaction = 3,
};

// Internal progress of the component; changes fire OnStateChange.
enum TPop3State : int {
    pop3Ready = 0,
    pop3DnsLookup = 1,
    pop3Connecting = 2,
    pop3Connected = 3,
    pop3InternalReady = 4, // between the steps of Login
    pop3WaitingBanner = 5,
    pop3WaitingResponse = 6,
    pop3Abort = 7,
};

// The kind of request that ended, passed to OnRequestDone.
enum TPop3Request : int {
    pop3Connect = 0,
    pop3User = 1,
    pop3Pass = 2,
    pop3RPop = 3,
    pop3Quit = 4,
    pop3Stat = 5,
    pop3List = 6,
    pop3Retr = 7,
    pop3Top = 8,
    pop3Dele = 9,
    pop3Noop = 10,
    pop3Last = 11,
    pop3RSet = 12,
    pop3Uidl = 13,
    pop3APop = 14,
    pop3Login = 15,
};

class Pop3Exception : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

class TCustomPop3Cli;

using TPop3Display = std::function<void(TCustomPop3Cli* sender, const std::string& msg)>;
using TPop3Notify = std::function<void(TCustomPop3Cli* sender)>;
using TPop3RequestDone =
    std::function<void(TCustomPop3Cli* sender, TPop3Request rqType, std::uint16_t error)>;
using TPop3SessionEvent = std::function<void(TCustomPop3Cli* sender, std::uint16_t error)>;

// Reply parsers, pure functions over one reply line.
struct TPop3TwoNumbers {
    std::int32_t First = 0;
    std::int32_t Second = 0;
};
// "+OK 3 5120" gives 3 and 5120; "+OK 7" gives 7 and 0; no digit at all gives 0 and 0.
TPop3TwoNumbers Pop3ParseTwoNumbers(std::string_view line);
// A STAT reply: "+OK", blanks, the message count as plain decimal digits that fit in 32 bits,
// then optionally blanks and the mailbox size (capped at the 32-bit maximum) and any text.
// Anything else gives nothing: a count that cannot be trusted must not drive the scan.
std::optional<TPop3TwoNumbers> Pop3ParseStat(std::string_view line);

struct TPop3NumberAndId {
    std::int32_t Number = 0;
    std::string Id;
};
// "+OK 2 QhdPYR:00WBw1Ph7x7" gives 2 and the id (the run of characters "!".."~").
TPop3NumberAndId Pop3ParseNumberAndId(std::string_view line);

// APOP digest: MD5 of timestamp + password as 32 upper-case hexadecimal digits.
std::string Pop3ApopDigest(const std::string& timestamp, const std::string& password);

class TCustomPop3Cli : public QObject {
  public:
    explicit TCustomPop3Cli(QObject* owner = nullptr);
    ~TCustomPop3Cli() override;
    TCustomPop3Cli(const TCustomPop3Cli&) = delete;
    TCustomPop3Cli& operator=(const TCustomPop3Cli&) = delete;

    // A reply line may be this long (without CR LF); a longer one fails the request.
    static constexpr std::size_t MaxLineLength = 1024 * 1024;
    // A multi-line reply may hold this many bytes in all, by default; a longer one fails the
    // request and drops the connection (a server that never ends a reply would fill memory).
    static constexpr std::size_t DefaultMaxReplySize = 16 * 1024 * 1024;

    // Operations. Each raises Pop3Exception, sending nothing, when its preconditions fail.
    void Connect();
    void Login(); // Connect, User, Pass in turn; one OnRequestDone(pop3Login, ...) at the end
    void User();
    void Pass();
    void RPop();
    void APop();
    void Quit();
    void Stat();
    void List();
    void Retr();
    void Top();
    void Dele();
    void Noop();
    void Last();
    void RSet();
    void Uidl();
    void Abort();

    // Properties.
    const std::string& Host() const { return host_; }
    void SetHost(const std::string& v) { host_ = v; }
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& v) { port_ = v; }
    const std::string& UserName() const { return userName_; }
    void SetUserName(const std::string& v) { userName_ = v; }
    const std::string& PassWord() const { return passWord_; }
    void SetPassWord(const std::string& v) { passWord_ = v; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& LastResponse() const { return lastResponse_; }
    TPop3ProtocolState ProtocolState() const { return protocolState_; }
    TPop3State State() const { return state_; }
    std::int32_t MsgCount() const { return msgCount_; }
    std::int32_t MsgSize() const { return msgSize_; }
    std::int32_t MsgNum() const { return msgNum_; }
    void SetMsgNum(std::int32_t v) { msgNum_ = v; }
    std::int32_t MsgLines() const { return msgLines_; }
    void SetMsgLines(std::int32_t v) { msgLines_ = v; }
    const std::string& MsgUidl() const { return msgUidl_; }
    std::int32_t Tag() const { return tag_; }
    void SetTag(std::int32_t v) { tag_ = v; }
    // The APOP timestamp of the last greeting ("<...>"), empty when it had none.
    const std::string& Timestamp() const { return timestamp_; }
    // Seconds a request may wait without receiving a byte before it fails with 10060 and the
    // connection is dropped; 0 waits for ever.
    std::int32_t Timeout() const { return timeout_; }
    void SetTimeout(std::int32_t seconds);
    std::size_t MaxReplySize() const { return maxReplySize_; }
    void SetMaxReplySize(std::size_t bytes) { maxReplySize_ = bytes; }
    // How Connect secures the connection: plain, TLS from the start, or STLS after the
    // greeting. With TLS the server's certificate must be trusted (the system's store plus
    // CAFile) and issued for Host; Connect fails otherwise, before anything is sent.
    TSecurity Security() const { return security_; }
    void SetSecurity(TSecurity v) { security_ = v; }
    const std::string& CAFile() const { return caFile_; }
    void SetCAFile(const std::string& v) { caFile_ = v; }
    // The owned socket (the scan closes it after a failed Connect, and asks it why a
    // secure connection failed).
    TTlsWSocket* Socket() const { return socket_.get(); }

    // Events; each fires only when set.
    TPop3Display OnDisplay;  // "> " + command sent, "< " + status line received
    TPop3Display OnResponse; // every line received, as received
    TPop3Notify OnMessageBegin, OnMessageLine, OnMessageEnd;
    TPop3Notify OnListBegin, OnListLine, OnListEnd;
    TPop3Notify OnUidlBegin, OnUidlLine, OnUidlEnd;
    TPop3Notify OnStateChange;
    TPop3RequestDone OnRequestDone;
    TPop3SessionEvent OnSessionConnected, OnSessionClosed;

  private:
    using LineHandler = void (TCustomPop3Cli::*)();
    using Routine = void (TCustomPop3Cli::*)();

    // Steps of Login, in the fixed order they run.
    enum Step : int {
        stConnect,
        stUser,
        stPass,
        stRPop,
        stDele,
        stNoop,
        stList,
        stRSet,
        stAPop,
        stRetr,
        stTop,
        stStat,
        stUidl,
        stLast,
        stQuit,
        stCount
    };

    void SetState(TPop3State s);
    void CheckReady() const;
    void CheckConnected() const;
    void RefuseInvalidNow(const std::string& text);
    void AuthCommand(TPop3ProtocolState latest, TPop3Request rq, const std::string& word,
                     const std::string& argument, TPop3ProtocolState onSuccess);
    void TransactionCommand(TPop3Request rq, const std::string& word, const std::string& arguments,
                            Routine after);
    void OneOrAll(TPop3Request rq, const std::string& word, Routine one, Routine all);
    void ExecCommand(TPop3Request rq, const std::string& command, TPop3ProtocolState onSuccess,
                     Routine after);
    void SendCommand(const std::string& command);
    // (Re)starts the time-out of the waiting request; stops it when nothing waits.
    void ArmIdleTimer();
    void TriggerRequestDone(std::uint16_t error);
    void FinishAndPost(std::uint16_t error);
    void NextLoginStep(std::uint16_t error);
    void RunStep(Step step);
    void TakeErrorMessage(const std::string& text);
    void Display(const std::string& msg);

    // Socket handlers.
    void DnsLookupDone(std::uint16_t error);
    void SessionConnected(std::uint16_t error);
    void DataAvailable(std::uint16_t error);
    void SessionClosed(std::uint16_t error);
    void SplitLines();
    void DropReceived();
    void LineTooLong();
    // Ends the request with an error, aborts the connection and ignores what was received.
    void FailAndDrop(const std::string& text, std::uint16_t error);
    void TimedOut();

    // Reply handlers.
    void GreetingLine();
    void StatusLine();
    void DataLine();
    void StartMultiLine(const TPop3Notify* begin, const TPop3Notify* line, const TPop3Notify* end,
                        Routine parser);
    void AfterStat();
    void AfterListOne();
    void AfterUidlOne();
    void AfterList();
    void AfterUidl();
    void AfterMessage();
    void ParseListLine();
    void ParseUidlLine();
    void Fire(const TPop3Notify* event);

    std::unique_ptr<TTlsWSocket> socket_;

    std::string host_;
    std::string port_ = "pop3";
    TSecurity security_ = secNone;
    std::string caFile_;
    std::string userName_;
    std::string passWord_;
    std::string errorMessage_;
    std::string lastResponse_;
    std::string timestamp_;
    std::string msgUidl_;
    TPop3ProtocolState protocolState_ = pop3Disconnected;
    TPop3ProtocolState nextProtocolState_ = pop3Disconnected;
    TPop3State state_ = pop3Ready;
    TPop3Request requestType_ = pop3Connect;
    std::int32_t msgCount_ = 0;
    std::int32_t msgSize_ = 0;
    std::int32_t msgNum_ = 0;
    std::int32_t msgLines_ = 0;
    std::int32_t tag_ = 0;
    std::int32_t timeout_ = 0;
    std::size_t maxReplySize_ = DefaultMaxReplySize;
    std::size_t replyBytes_ = 0; // of the multi-line reply being received

    // Runs while a request waits; every byte received starts it again.
    QTimer idleTimer_;

    bool requestDone_ = true;
    bool connected_ = false;
    bool reportingClose_ = false; // OnSessionClosed runs; the request ends right after it
    // The command of the request is not written yet: lines arriving now answer nothing of ours.
    bool commandUnsent_ = false;

    // Received bytes; rcvStart_ is where the unsplit part begins, scanFrom_ where the search
    // for the next CR LF resumes (so a long line is not searched again on every read).
    std::string rcv_;
    std::size_t rcvStart_ = 0;
    std::size_t scanFrom_ = 0;
    std::vector<char> readBuf_;
    bool stopSplitting_ = false;

    LineHandler next_ = nullptr;
    Routine after_ = nullptr;
    const TPop3Notify* multiLine_ = nullptr;
    const TPop3Notify* multiEnd_ = nullptr;
    Routine multiParser_ = nullptr;

    // Login.
    bool combined_ = false;
    unsigned pendingSteps_ = 0;
    std::uint16_t combinedResult_ = 0;
};

// The component as the program uses it.
class TPop3Cli final : public TCustomPop3Cli {
  public:
    using TCustomPop3Cli::TCustomPop3Cli;
};
