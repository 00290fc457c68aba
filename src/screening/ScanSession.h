#pragma once

#include "net/Pop3Prot.h"
#include "screening/HeaderCache.h"
#include "screening/HeaderRules.h"
#include "screening/Quarantine.h"
#include "screening/ScanResults.h"
#include "screening/ScanView.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TConfigData;
class TkelLog;

namespace screening {

// One check of the mailbox: connect, USER and PASS (or APOP, or AUTH, as the setting Auth
// says), STAT, TOP for every message, screening, DELE of spam in eat mode (with the setting
// Quarantine, a RETR into the quarantine file first), QUIT and the report. A state machine
// driven by the client's events: each state waits for the end of one request
// (Pop3ClientRequestDone), whose handler judges the reply and enters the next state; between
// requests the event loop runs freely.
// A server that lists PIPELINING gets the TOPs of the coming messages ahead of time, a window
// of them in flight; their replies wait until the screening reaches them, so the user sees
// (and the log holds) what a scan one request at a time shows.
// With the setting HeaderCache, the messages' ids and sizes are listed before the first TOP,
// and a message screened by an earlier check is screened again from its cached header lines
// (under the lists as they are now) instead of being fetched; the log and the view read the
// same as when it is fetched.
// The session installs its handlers on the client and removes them when it goes; the client,
// the log, the settings and the view are the owner's and must outlive it.
class TScanSession {
  public:
    // What the scan waits for: the end of the request its state sends.
    enum class TScanState {
        Idle,               // no scan
        Connecting,         // Connect
        LoggingInUser,      // USER
        LoggingInPass,      // PASS
        Authenticating,     // APOP, or AUTH, as the setting Auth says instead of USER and PASS
        ReadingStatus,      // STAT
        AskingCapabilities, // CAPA, when more than one message may pay for pipelining
        ListingUids,        // UIDL of all messages, with the setting HeaderCache
        ListingSizes,       // LIST of all messages, after a UIDL listing
        FetchingHeaders,    // the current message's TOP (sent now, or ahead when pipelined)
        Quarantining,       // RETR of the current message into the quarantine
        Deleting,           // DELE of the current message
        Quitting,           // QUIT
    };

    TScanSession(TCustomPop3Cli& client, TkelLog& log, const TConfigData& config, TScanView& view);
    ~TScanSession();
    TScanSession(const TScanSession&) = delete;
    TScanSession& operator=(const TScanSession&) = delete;

    // Starts a check (EatSpam false) or a check-and-eat (true); does nothing while Busy or
    // while a scan runs.
    void StartScan(bool EatSpam);
    // Deletes the marked messages that are still on the server, each with its quarantine copy
    // (ScanEatMarked.cpp): found by UIDL, or by number and size with its header lines compared
    // (TOP); never another message. Does nothing while Busy or while a scan runs.
    void StartEatMarked(std::vector<TScanResult> marked);
    // Abandons the running check without QUIT: the server then deletes nothing, so nothing
    // counts as eaten. Ends like any check (OnScanEnd fires); does nothing when none runs.
    void Stop();

    // Set while a scan runs; the owner also sets it while the spammers-list update is open.
    bool Busy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }

    TScanState State() const { return state_; }
    bool EatMode() const { return eatMode_; }
    std::int32_t CurrentMsg() const { return currentMsg_; }
    std::int32_t CheckedCount() const { return checkedCount_; }
    std::int32_t OKCount() const { return okCount_; }
    std::int32_t EatenCount() const { return eatenCount_; }
    const std::vector<std::string>& HeaderLines() const { return headerLines_; }
    // Per message screened by the last check, in mailbox order (ScanResults.h).
    const std::vector<TScanResult>& Results() const { return results_; }
    // After "Eat marked": how many marked messages were no longer on the server.
    std::int32_t MarkedNotFound() const { return marked_ ? marked_->notFound : 0; }

    // How the last scan ended: whether it reached its report (a connect failure does not)
    // and how many errors it showed on the way.
    bool ReachedReport() const { return reachedReport_; }
    int ErrorCount() const { return errorCount_; }
    // Whether a server that lists PIPELINING gets its TOPs ahead of time (on by default).
    void SetPipeliningAllowed(bool on) { pipeliningAllowed_ = on; }
    // Whether the results carry the header digest "Eat marked" needs (on by default); a front
    // end without it saves hashing every header.
    void SetResultDigests(bool on) { resultDigests_ = on; }
    // Fired on every entry into a state (also into the one it is in: the next message's
    // FetchingHeaders).
    std::function<void(TScanState)> OnStateChange;
    // Fired once at the end of every scan that started, after everything is shown.
    std::function<void()> OnScanEnd;

    // The largest message RETR may fetch into the quarantine. The copy goes to disk as it
    // arrives, so this bounds disk use, not memory: it lies well above what mail services
    // accept (their limits, encoding included, stay below about 150 MB), and a server that
    // never ends its reply is cut off here. A larger message is not deleted.
    static constexpr std::size_t MaxQuarantinedMessage = 256 * 1024 * 1024;
    // The pipelined window: commands in flight, and header bytes received ahead of the
    // screening together with those still to come (each reply in flight counted at the mean
    // size of those answered). Either bound stops further TOPs until the screening catches
    // up. A TOP goes out as each reply is taken, so the window stays full: at 256 commands (a
    // few KB on the wire) a mailbox of 1,000 takes four round trips, not thirty; headers of
    // 100 KB each keep about 40 in flight.
    static constexpr std::size_t PipelineCommands = 256;
    static constexpr std::size_t PipelineBytes = 4 * 1024 * 1024;

    // Handlers installed on the client.
    void Pop3ClientRequestDone(TCustomPop3Cli* Sender, TPop3Request RqType, std::uint16_t Error);
    void Pop3ClientMessageLine(TCustomPop3Cli* Sender);
    void Pop3ClientDisplay(TCustomPop3Cli* Sender, const std::string& Msg);

  private:
    using enum TScanState;

    // StartScan once no scan runs.
    void BeginScan(bool EatSpam);
    // The only writer of state_.
    void SetState(TScanState state);
    // Takes one step of building the searches in a turn of its own, then posts the next.
    void PostPreparation(int step);
    // Enters a state and sends its request.
    void Enter(TScanState state);
    // Sends the request of the current state; one that raises is shown as its failure.
    void Send();
    std::optional<TPop3Request> RequestOf(TScanState state) const;

    // One handler per state for the request that ends it.
    void HandleRequestDone(TPop3Request rqType, std::uint16_t error);
    void ConnectDone(std::uint16_t error);
    void UserDone(std::uint16_t error);
    void PassDone(std::uint16_t error);
    void AuthDone(std::uint16_t error);
    void StatDone(std::uint16_t error);
    void CapaDone(std::uint16_t error);
    void UidlDone(std::uint16_t error);
    void ListDone(std::uint16_t error);
    void TopDone(std::uint16_t error);
    void RetrDone(std::uint16_t error);
    void DeleDone(std::uint16_t error);
    void QuitDone(std::uint16_t error);
    // Shows the error of the current state's request and goes on from it.
    void Fail(const std::string& text);
    // What follows the failure of the current state's request, once the error is shown.
    void Failed(bool raised);

    void ShowError(const std::string& text);
    // The failure ending the check, in words, unless one was named already.
    void NameFailure(const std::string& text);
    // Why the current request failed: the server's -ERR line or the network error's words.
    std::string FailureReason() const;
    static std::string Num(long long n) { return std::to_string(n); }

    // The messages (ScanMessage.cpp).
    void FetchMessage();
    void NextMessage();
    void ScreenMessage();
    // Deletes the current message, after keeping a copy when the setting asks for one.
    void Eat();
    void EndRetr();
    void MessageDone();
    void RecordResult(const TVerdict& verdict);

    // "Eat marked" (ScanEatMarked.cpp).
    void BeginEatMarked();
    // The listings are in: look for the next marked message.
    void NextMarked();
    void MarkedTopDone();
    // Messages that may be the marked one at hand, best first; whether its headers must match.
    std::vector<std::int32_t> Candidates(const TScanResult& wanted, bool& compareHeaders) const;
    void TryCandidate();
    void FinishWithReport();
    void FinishWithoutQuit(const std::optional<std::string>& errorText);
    void CloseConnection();

    // The header cache (ScanCache.cpp).
    // Lists ids and sizes first when the setting asks for the cache, then fetches.
    void BeginMessages(bool serverCanPipeline);
    void TakeListLine(bool ids);
    // The current listing is usable: load the cache and keep what is still on the server.
    void UseCache();
    const TCachedHeader* Cached(std::int32_t msg) const;
    // The current message's headers arrived complete: they join the cache.
    void CacheHeaders();
    void SaveCache();
    std::string CacheAccount() const;

    // Pipelining (ScanPipeline.cpp).
    struct Fetched {
        bool Done = false;
        std::uint16_t Error = 0;
        std::optional<std::string> Refused; // the client refused to send the TOP
        std::vector<std::string> Lines;
        std::vector<std::string> Trace; // the log lines of its command and status line
    };
    void StartPipelining(bool serverCan);
    void StopPipelining();
    // Sends TOPs while the window has room.
    void TopUp();
    // A done of the pipelined conversation: true when it was a TOP, taken care of here.
    bool PipelinedDone(TPop3Request rqType, std::uint16_t error);
    void DeliverTop();
    // Where a line of the conversation goes while TOP replies arrive ahead of the screening:
    // true when it was kept for later.
    bool KeepHeaderLine(const std::string& line);
    bool KeepTrace(const std::string& text);
    void EnableCommands();
    void Log(const std::string& text);
    ScreeningInput Input() const;

    TCustomPop3Cli& client_;
    TkelLog& log_;
    const TConfigData& config_;
    TScanView& view_;
    THeaderRules rules_;

    // Every state: the scan as a whole.
    TScanState state_ = Idle;
    bool busy_ = false;
    bool eatMode_ = false;
    std::int32_t checkedCount_ = 0;
    std::int32_t okCount_ = 0;
    std::int32_t eatenCount_ = 0;
    bool reachedReport_ = false;
    int errorCount_ = 0;
    std::string lastShown_;       // the error shown last
    std::uint16_t lastError_ = 0; // the code of the request that ended last
    std::string failure_;         // what ended the check, for the view

    // FetchingHeaders, Quarantining, Deleting: the message at hand and its header lines, as
    // received.
    std::int32_t currentMsg_ = 0;
    std::vector<std::string> headerLines_;

    // Quarantining: the copy the RETR's lines go to, and the client's reply bound to restore.
    std::unique_ptr<TQuarantineCopy> quarantine_;
    std::size_t headerReplyBound_ = 0;

    // Quitting.
    bool quitSent_ = false;     // the last QUIT went to a connected server
    bool quitAnswered_ = false; // ... and it answered +OK: the deletions took effect

    // From AskingCapabilities to the end, on a server that can pipeline.
    bool pipeliningAllowed_ = true;
    bool pipelined_ = false;
    struct Sent {
        TPop3Request Rq;
        std::int32_t Msg;
    };
    std::deque<Sent> sent_;       // pipelined commands in flight, oldest first
    std::int32_t nextTop_ = 0;    // the next message whose TOP goes out
    std::int32_t tracingTop_ = 0; // a TOP being sent: its trace is kept with it
    std::int32_t waitingTop_ = 0; // the screening waits for this message's TOP
    std::map<std::int32_t, Fetched> fetched_;
    std::size_t fetchedBytes_ = 0;
    std::size_t answeredBytes_ = 0; // header bytes of the TOPs answered in this scan,
    std::size_t answeredTops_ = 0;  // and how many they were
    bool stopSending_ = false;
    // From ListingUids to the end, with the setting HeaderCache.
    bool canPipeline_ = false;            // the server listed PIPELINING
    std::vector<std::string> uidls_;      // by message number; empty: not listed
    std::vector<std::int64_t> sizes_;     // by message number; -1: not listed
    bool cacheUsed_ = false;              // the listings were complete and unambiguous
    THeaderCache cache_;                  // what this check will leave in the file
    bool cacheChanged_ = false;           // ... differs from what the file holds
    std::vector<std::string> deletedIds_; // gone with this session's QUIT
    std::int32_t fromCache_ = 0;
    // Every check: what it made of each message screened.
    std::vector<TScanResult> results_;
    bool resultDigests_ = true;
    // "Eat marked", from StartEatMarked to the next start.
    struct MarkedRun {
        std::vector<TScanResult> wanted;
        std::size_t next = 0;                 // the marked message looked for
        std::vector<std::int32_t> candidates; // ... numbers still to compare, best first
        bool compareHeaders = false;
        std::vector<std::int32_t> taken; // numbers found for earlier marked messages
        std::int32_t notFound = 0;
    };
    std::optional<MarkedRun> marked_;
    // Continuations posted by the session go when it goes.
    QObject context_;
};

} // namespace screening
