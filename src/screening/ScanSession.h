#pragma once

#include "net/Pop3Prot.h"
#include "screening/HeaderRules.h"
#include "screening/Quarantine.h"
#include "screening/ScanView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TConfigData;
class TkelLog;

namespace screening {

// One check of the mailbox: connect, USER, PASS, STAT, TOP for every message, screening,
// DELE of spam in eat mode (with the setting Quarantine, a RETR into the quarantine file
// first), QUIT and the report. An event-driven chain: each request's end
// (Pop3ClientRequestDone) starts the next one; between requests the event loop runs freely.
// The session installs its handlers on the client and removes them when it goes; the client,
// the log, the settings and the view are the owner's and must outlive it.
class TScanSession {
  public:
    TScanSession(TCustomPop3Cli& client, TkelLog& log, const TConfigData& config, TScanView& view);
    ~TScanSession();
    TScanSession(const TScanSession&) = delete;
    TScanSession& operator=(const TScanSession&) = delete;

    // Starts a check (EatSpam false) or a check-and-eat (true); does nothing while Busy or
    // while a scan runs.
    void StartScan(bool EatSpam);

    // Set while a scan runs; the owner also sets it while the spammers-list update is open.
    bool Busy() const { return busy_; }
    void SetBusy(bool busy) { busy_ = busy; }

    bool EatMode() const { return eatMode_; }
    std::int32_t CurrentMsg() const { return currentMsg_; }
    std::int32_t CheckedCount() const { return checkedCount_; }
    std::int32_t OKCount() const { return okCount_; }
    std::int32_t EatenCount() const { return eatenCount_; }
    const std::vector<std::string>& HeaderLines() const { return headerLines_; }

    // How the last scan ended: whether it reached its report (a connect failure does not)
    // and how many errors it showed on the way.
    bool ReachedReport() const { return reachedReport_; }
    int ErrorCount() const { return errorCount_; }
    // Fired once at the end of every scan that started, after everything is shown.
    std::function<void()> OnScanEnd;

    // The largest message RETR may fetch into the quarantine. The copy goes to disk as it
    // arrives, so this bounds disk use, not memory: it lies well above what mail services
    // accept (their limits, encoding included, stay below about 150 MB), and a server that
    // never ends its reply is cut off here. A larger message is not deleted.
    static constexpr std::size_t MaxQuarantinedMessage = 256 * 1024 * 1024;

    // Handlers installed on the client.
    void Pop3ClientRequestDone(TCustomPop3Cli* Sender, TPop3Request RqType, std::uint16_t Error);
    void Pop3ClientMessageLine(TCustomPop3Cli* Sender);
    void Pop3ClientDisplay(TCustomPop3Cli* Sender, const std::string& Msg);

  private:
    void HandleRequestDone(TPop3Request rqType, std::uint16_t error);
    // Starts a request; an operation that raises is shown as that request's failure.
    void Start(TPop3Request rq);
    // What follows the failure of a request, once the error has been shown.
    void Failed(TPop3Request rq, bool raised);
    void ShowError(const std::string& text);
    void FetchMessage();
    void NextMessage();
    void ScreenMessage();
    // Deletes the current message, after keeping a copy when the setting asks for one.
    void Eat();
    void QuarantineFetched();
    void EndRetr();
    void MessageDone();
    void FinishWithReport();
    void FinishWithoutQuit(const std::optional<std::string>& errorText);
    void CloseConnection();
    void EnableCommands();
    void Log(const std::string& text);
    ScreeningInput Input() const;

    TCustomPop3Cli& client_;
    TkelLog& log_;
    const TConfigData& config_;
    TScanView& view_;
    THeaderRules rules_;

    bool busy_ = false;
    bool scanning_ = false; // a scan of ours is between StartScan and its end
    bool eatMode_ = false;
    std::int32_t currentMsg_ = 0;
    std::int32_t checkedCount_ = 0;
    std::int32_t okCount_ = 0;
    std::int32_t eatenCount_ = 0;
    std::vector<std::string> headerLines_;
    bool reachedReport_ = false;
    int errorCount_ = 0;
    bool quitSent_ = false;     // the last QUIT went to a connected server
    bool quitAnswered_ = false; // ... and it answered +OK: the deletions took effect

    // While a RETR runs: the copy its lines go to, and the client's reply bound to restore.
    std::unique_ptr<TQuarantineCopy> quarantine_;
    std::size_t headerReplyBound_ = 0;
};

} // namespace screening
