#pragma once

// Event-driven POP3 client (RFC 1939) on the command/response engine (TCommandChannel).
// Every operation sends one command (Connect: lookup, connect, greeting) and returns at once;
// the outcome arrives later as one OnRequestDone, always posted to the event loop. The
// commands are rows of one table (Pop3Prot.cpp); each reply is handled by the kind of reply
// its row names.

#include "net/CommandChannel.h"
#include "net/Security.h"
#include "platform/Exception.h"

#include <QObject>
#include <cstdint>
#include <deque>
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
    pop3Capa = 16,
    pop3Auth = 17,
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

namespace pop3detail {

// What a positive reply carries besides its status line.
enum class Shape {
    Status,       // the status line only
    Stat,         // message count and mailbox size
    Listed,       // one "number size" (LIST n, LAST)
    Uidl,         // one "number id" (UIDL n)
    Listing,      // a multi-line "number size" list
    Uidls,        // a multi-line "number id" list
    Message,      // a multi-line message (RETR, TOP)
    Capabilities, // a multi-line list of capabilities (CAPA)
};

// A row of the command table: the request, its word, the session state a positive reply
// leads to, and what the reply holds.
struct Command {
    TPop3Request Rq;
    const char* Word;
    TPop3ProtocolState OnSuccess;
    Shape Reply;
};

} // namespace pop3detail

class TCustomPop3Cli : public QObject {
  public:
    explicit TCustomPop3Cli(QObject* owner = nullptr);
    // Talks through the given transport instead of a socket of its own.
    explicit TCustomPop3Cli(std::unique_ptr<TTransport> transport, QObject* owner = nullptr);
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
    // Asks the server what it can do (RFC 2449); the answer lands in Capabilities().
    void Capa();
    // Logs in by SASL (RFC 5034) with AuthMechanism, in the place of USER and PASS: the
    // initial response (built from UserName, PassWord — the access token for the OAuth
    // mechanisms —, Host and Port) goes on the AUTH line when the line fits, else after the
    // server's "+ ". A failure challenge is answered with an empty line, a further one with
    // "*"; the -ERR that follows ends the request with 500, and AuthStatus holds the status
    // the challenge named. The trace shows "****" in the place of the credentials.
    void Auth();
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
    // The SASL mechanism of Auth: "PLAIN", "XOAUTH2" or "OAUTHBEARER".
    const std::string& AuthMechanism() const { return authMechanism_; }
    void SetAuthMechanism(const std::string& v) { authMechanism_ = v; }
    // What the server's failure challenge in the last Auth of this connection said ("401",
    // "invalid_token"); empty when it said nothing.
    const std::string& AuthStatus() const { return authStatus_; }
    // The APOP timestamp of the last greeting ("<...>"), empty when it had none.
    const std::string& Timestamp() const { return timestamp_; }
    // Seconds a request may wait without receiving a byte before it fails with 10060 and the
    // connection is dropped; 0 waits for ever.
    std::int32_t Timeout() const { return channel_.Timeout(); }
    void SetTimeout(std::int32_t seconds) { channel_.SetTimeout(seconds); }
    std::size_t MaxReplySize() const { return maxReplySize_; }
    void SetMaxReplySize(std::size_t bytes) { maxReplySize_ = bytes; }
    // How Connect secures the connection: plain, TLS from the start, or STLS after the
    // greeting. With TLS the server's certificate must be trusted (the system's store plus
    // CAFile) and issued for Host; Connect fails otherwise, before anything is sent.
    TSecurity Security() const { return security_; }
    void SetSecurity(TSecurity v) { security_ = v; }
    const std::string& CAFile() const { return caFile_; }
    void SetCAFile(const std::string& v) { caFile_ = v; }
    // The capability lines of the last positive CAPA reply ("PIPELINING", "TOP", ...).
    const std::vector<std::string>& Capabilities() const { return capabilities_; }
    bool HasCapability(const std::string& name) const;
    // With pipelining on, the commands of the transaction state may be sent while others
    // still wait for their replies: each still ends in one OnRequestDone, in the order sent.
    // Only for servers that list PIPELINING among their capabilities.
    bool Pipelining() const { return pipelining_; }
    void SetPipelining(bool on) { pipelining_ = on; }
    // The command whose reply is being received, and the MsgNum it was sent with: with
    // pipelining, replies arrive for commands sent long before.
    TPop3Request ReplyRequest() const { return replyRequest_; }
    std::int32_t ReplyMsgNum() const { return replyMsgNum_; }
    // Why the last Connect failed, in plain words: the reason the connection could not be
    // secured, or the refusal of the port. Empty when there is no such reason.
    const std::string& ConnectFailure() const { return connectFailure_; }
    // Ends the connection in order now, instead of waiting for the server to end it.
    void CloseConnection();
    // The connection is completely closed (a secure one only after the closing handshake).
    bool ConnectionClosed() const { return channel_.Transport().Closed(); }

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
    using Command = pop3detail::Command;
    using Shape = pop3detail::Shape;
    // The stages of a reply handler.
    enum ReplyStage : int { rsStatus, rsBody };

    // The one place the state changes; fires OnStateChange.
    void SetState(TPop3State s);
    // The one place the protocol state changes.
    void SetProtocolState(TPop3ProtocolState s) { protocolState_ = s; }
    void CheckReady() const;
    void CheckConnected() const;
    void RefuseInvalidNow(const std::string& text);
    void AuthCommand(TPop3ProtocolState latest, const Command& c, const std::string& argument);
    void TransactionCommand(const Command& c, const std::string& arguments);
    void ExecCommand(const Command& c, const std::string& line);
    void SendCommand(const std::string& line, const Command& c);
    // Sends a line whose trace is `trace` (credentials never reach the trace) and expects its
    // reply.
    void SendExpecting(const std::string& line, const std::string& trace,
                       std::function<bool(TPendingReply&, const std::string&)> onReply);
    void Send(const std::string& line);
    void TriggerRequestDone(std::uint16_t error);
    void FinishAndPost(std::uint16_t error);
    // Pipelined commands: the oldest one ends; FailInFlight ends them all.
    void EndInFlight(std::uint16_t error);
    void FailInFlight(std::uint16_t error);
    void NextLoginStep(std::uint16_t error);
    void TakeErrorMessage(const std::string& text);
    void Display(const std::string& msg);

    // Connection events (Pop3Session.cpp).
    void WireTransport();
    void LookupDone(std::uint16_t error);
    void SessionConnected(std::uint16_t error);
    void AwaitGreeting();
    bool TakeGreeting(const std::string& line);
    // The connection could not be made or secured: the Connect ends with `error`, `reason`
    // becomes ConnectFailure, and the connection is closed.
    void ConnectFailed(std::uint16_t error, const std::string& reason);
    void SessionClosed(std::uint16_t error);
    void ReceivedLine(const std::string& line);
    // Ends the request with an error, aborts the connection and ignores what was received.
    void FailAndDrop(const std::string& text, std::uint16_t error);
    void TimedOut();

    // STLS (Pop3Session.cpp): the greeting and the answer to STLS, then the handshake.
    enum TStlsStep : int {
        stlsNone,      // no STLS under way
        stlsGreeting,  // connected in plain; the greeting decides whether STLS is sent
        stlsReply,     // STLS sent
        stlsHandshake, // the transport secures the connection
    };
    // The one place the step changes.
    void SetStlsStep(TStlsStep s);
    bool StlsLine(const std::string& line);
    void StlsFailed(const std::string& reason);
    void TlsDone(std::uint16_t error);

    // AUTH (Pop3Auth.cpp): the reply handler and how far the exchange is.
    enum TAuthStage : int {
        asSent,      // the AUTH line; the initial response went with it unless one is held
        asAnswered,  // the initial response went on a line of its own
        asRefused,   // a failure challenge was answered with an empty line
        asCancelled, // a further challenge was cancelled with "*"
    };
    bool AuthLine(TPendingReply& reply);
    void SendSaslLine(TPendingReply& reply, TAuthStage stage, const std::string& line,
                      const std::string& trace);

    // Replies (Pop3Session.cpp).
    bool GreetingLine();
    bool ReplyLine(TPendingReply& reply, const Command& c);
    bool StatusLine(TPendingReply& reply, const Command& c);
    bool BodyLine(const Command& c);
    void ParseBodyLine(Shape shape);
    enum BodyEvent { beBegin, beLine, beEnd };
    void FireBody(Shape shape, BodyEvent event);

    TCommandChannel channel_;

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
    std::string connectFailure_;
    std::string authMechanism_;
    std::string authStatus_;
    std::string saslResponse_; // held for the server's "+ " until the AUTH exchange ends
    bool saslInline_ = false;  // the response went on the AUTH line too
    TPop3ProtocolState protocolState_ = pop3Disconnected;
    TPop3State state_ = pop3Ready;
    TPop3Request requestType_ = pop3Connect;
    std::int32_t msgCount_ = 0;
    std::int32_t msgSize_ = 0;
    std::int32_t msgNum_ = 0;
    std::int32_t msgLines_ = 0;
    std::int32_t tag_ = 0;
    std::size_t maxReplySize_ = DefaultMaxReplySize;
    std::size_t replyBytes_ = 0; // of the multi-line reply being received

    std::vector<std::string> capabilities_;
    bool pipelining_ = false;
    // Pipelined commands sent and not yet answered, oldest first.
    struct InFlight {
        TPop3Request Rq;
        std::int32_t MsgNum;
    };
    std::deque<InFlight> inFlight_;
    TPop3Request replyRequest_ = pop3Connect;
    std::int32_t replyMsgNum_ = 0;

    // STLS: the step, and the greeting it holds until the connection is secure.
    TStlsStep stlsStep_ = stlsNone;
    std::string stlsGreeting_;

    bool connected_ = false;
    bool reportingClose_ = false; // OnSessionClosed runs; the request ends right after it

    // Login: Connect, User and Pass in turn, one report at the end.
    bool combined_ = false;
    int loginStep_ = 0;
    std::uint16_t combinedResult_ = 0;
};

// The component as the program uses it.
class TPop3Cli final : public TCustomPop3Cli {
  public:
    using TCustomPop3Cli::TCustomPop3Cli;
};
