#include "ScanSession.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/WSocket.h"
#include "platform/Clock.h"
#include "platform/ErrorReport.h"

#include <QMetaObject>

#include <algorithm>
#include <exception>
#include <optional>

namespace screening {

namespace {
std::string Num(long long n) {
    return std::to_string(n);
}

// The client's error code for a request the server answered with -ERR.
constexpr std::uint16_t kNegativeReply = 500;

const char* const kAddressCheckSkipped =
    "Address checking skipped: the valid address list is empty";
} // namespace

TScanSession::TScanSession(TCustomPop3Cli& client, TkelLog& log, const TConfigData& config,
                           TScanView& view)
    : client_(client), log_(log), config_(config), view_(view),
      rules_(view, [this](const std::string& text) { Log(text); }) {
    client_.OnRequestDone = [this](TCustomPop3Cli* sender, TPop3Request rq, std::uint16_t error) {
        Pop3ClientRequestDone(sender, rq, error);
    };
    client_.OnMessageLine = [this](TCustomPop3Cli* sender) { Pop3ClientMessageLine(sender); };
    client_.OnDisplay = [this](TCustomPop3Cli* sender, const std::string& msg) {
        Pop3ClientDisplay(sender, msg);
    };
}

TScanSession::~TScanSession() {
    // The client may live on and still deliver a posted event; it must not reach us.
    client_.OnRequestDone = nullptr;
    client_.OnMessageLine = nullptr;
    client_.OnDisplay = nullptr;
    if (quarantine_) EndRetr(); // a copy cut short leaves the file as it was
}

void TScanSession::StartScan(bool EatSpam) {
    // Busy is shared with the spammers-list update, which clears it when its dialog closes,
    // even in the middle of a scan; a second start must not tear down the running one.
    if (busy_ || scanning_) return;
    busy_ = true;
    scanning_ = true;
    reachedReport_ = false;
    errorCount_ = 0;
    view_.SetTrayAnimation(true);
    view_.SetScanCommandsEnabled(false);
    view_.SetScanModeChecks(!EatSpam, EatSpam);
    eatMode_ = EatSpam;
    eatenCount_ = 0;
    okCount_ = 0;
    checkedCount_ = 0;
    quitAnswered_ = false;
    StopPipelining();
    view_.SetActivity("");
    if ((config_.Unknown || config_.Strict) && !HasUsableEntry(config_.GoodAddrList)) {
        // Checking against no addresses would call every message spam and, in eat mode,
        // empty the mailbox.
        view_.SetActivity(kAddressCheckSkipped);
        Log(kAddressCheckSkipped);
    }
    // The search leaves these out; the user should know why they never match.
    for (const std::string& entry : OverBroadEntries(config_.SpammerList, config_.NoCase)) {
        const std::string text = "Spammer entry ignored (it occurs in ordinary mail): " + entry;
        view_.SetActivity(text);
        Log(text);
    }
    view_.SetConnectionStatus("Connecting to mail server");
    Start(pop3Connect);
}

void TScanSession::Pop3ClientRequestDone(TCustomPop3Cli*, TPop3Request RqType,
                                         std::uint16_t Error) {
    if (!scanning_) // a late event of an abandoned request
        return;
    try {
        HandleRequestDone(RqType, Error);
    } catch (...) {
        // Nothing of the scan should throw; if something does, show it and end the scan
        // rather than leave it Busy for good.
        platform::ReportCurrentException();
        ++errorCount_;
        platform::Guarded([this] { client_.Abort(); });
        if (scanning_) FinishWithReport();
    }
}

void TScanSession::HandleRequestDone(TPop3Request rqType, std::uint16_t error) {
    if (pipelined_ && PipelinedDone(rqType, error)) return;
    if (rqType == pop3Capa && error != 0 && error != kNegativeReply) {
        // No answer at all, or the connection gone: the TOPs would fare no better.
        ShowError("Error " + Num(error) + " getting server capabilities");
        Failed(rqType, false);
        return;
    }
    if (rqType == pop3Capa) {
        // A server that cannot say what it can is asked one command at a time.
        StartPipelining(error == 0 && client_.HasCapability("PIPELINING"));
        return;
    }
    if (error != 0) {
        const std::string n = Num(error);
        switch (rqType) {
        case pop3Connect: {
            // A connection that could not be secured, or a port that cannot be used, says
            // why in plain words.
            const std::string& why = client_.ConnectFailure();
            FinishWithoutQuit(!why.empty() ? why : "Error " + n + " attempting connection");
            return;
        }
        case pop3User:
            ShowError("Error " + n + " sending username");
            break;
        case pop3Pass:
            ShowError("Error " + n + " during authentication");
            break;
        case pop3Stat:
            ShowError("Error " + n + " getting mailbox status");
            break;
        case pop3Top:
            ShowError("Error " + n + " retrieving msg " + Num(currentMsg_));
            break;
        case pop3Dele:
            ShowError("Error " + n + " deleting msg " + Num(currentMsg_));
            break;
        case pop3Retr:
            EndRetr();
            ShowError("Error " + n + " copying msg " + Num(currentMsg_) +
                      " to quarantine - not deleted");
            break;
        case pop3Quit:
            break; // its error is of no consequence
        default:
            return; // no request of the scan
        }
        Failed(rqType, false);
        return;
    }

    switch (rqType) {
    case pop3Connect:
        headerLines_.clear();
        view_.SetConnectionStatus("Connection to server established");
        Log("Connection to mail server established");
        Start(pop3User);
        break;
    case pop3User:
        view_.SetConnectionStatus("User login in progress");
        Start(pop3Pass);
        break;
    case pop3Pass:
        view_.SetConnectionStatus("Authenticated...login complete");
        Start(pop3Stat);
        break;
    case pop3Stat:
        if (client_.MsgCount() < 1) {
            view_.SetActivity("No messages waiting on server.");
            Start(pop3Quit);
        } else if (client_.MsgCount() > 1 && pipeliningAllowed_) {
            Start(pop3Capa); // with more than one message, pipelining may pay
        } else {
            currentMsg_ = 1;
            FetchMessage();
        }
        break;
    case pop3Top:
        ScreenMessage();
        break;
    case pop3Retr:
        QuarantineFetched();
        break;
    case pop3Dele:
        view_.SetConnectionStatus("Message " + Num(currentMsg_) + " deleted");
        ++eatenCount_;
        MessageDone();
        break;
    case pop3Quit:
        quitAnswered_ = quitSent_;
        FinishWithReport();
        break;
    default:
        break;
    }
}

void TScanSession::Failed(TPop3Request rq, bool raised) {
    // A client that refused an operation, or whose connection is gone, will not do better
    // on the next message: such a failure goes straight to QUIT.
    const bool giveUp = raised || client_.ProtocolState() == pop3Disconnected;
    switch (rq) {
    case pop3Connect:
        platform::Guarded([this] { client_.Abort(); }); // it may be left mid-lookup
        FinishWithoutQuit(std::nullopt);
        break;
    case pop3Top:
    case pop3Retr:
    case pop3Dele:
        if (rq != pop3Top) ++checkedCount_; // its headers were fetched: it was checked
        headerLines_.clear();
        if (giveUp)
            Start(pop3Quit);
        else
            NextMessage();
        break;
    case pop3Quit:
        if (raised) // leave the client ready for the next scan
            platform::Guarded([this] { client_.Abort(); });
        FinishWithReport(); // the QUIT's own error is of no consequence
        break;
    default: // USER, PASS, STAT, CAPA
        Start(pop3Quit);
        break;
    }
}

void TScanSession::Start(TPop3Request rq) {
    try {
        switch (rq) {
        case pop3Connect:
            client_.Connect();
            break;
        case pop3User:
            client_.User();
            break;
        case pop3Pass:
            client_.Pass();
            break;
        case pop3Stat:
            client_.Stat();
            break;
        case pop3Top:
            client_.Top();
            break;
        case pop3Retr:
            client_.SetMsgNum(currentMsg_);
            client_.Retr();
            break;
        case pop3Dele:
            // Set here: pipelined TOPs of later messages may have gone out since the screening.
            client_.SetMsgNum(currentMsg_);
            client_.Dele();
            break;
        case pop3Capa:
            client_.Capa();
            break;
        default:
            stopSending_ = true;
            // Without a connection the client ends QUIT at once, and nothing was deleted.
            quitSent_ = client_.ProtocolState() != pop3Disconnected;
            client_.Quit();
            break;
        }
        if (pipelined_) sent_.push_back({rq, currentMsg_});
    } catch (const std::exception& e) {
        if (rq == pop3Retr) EndRetr();
        ShowError(e.what());
        Failed(rq, true);
    }
}

void TScanSession::ShowError(const std::string& text) {
    ++errorCount_;
    view_.SetConnectionStatus(text);
    Log(text);
}

void TScanSession::FetchMessage() {
    view_.SetConnectionStatus("Retrieving message " + Num(currentMsg_) + " of " +
                              Num(client_.MsgCount()));
    if (pipelined_) {
        TopUp();
        if (const auto it = fetched_.find(currentMsg_); it != fetched_.end() && it->second.Done)
            // Posted: a mailbox whose replies are all in must not nest one message in the next.
            QMetaObject::invokeMethod(
                &context_, [this] { DeliverTop(); }, Qt::QueuedConnection);
        else
            waitingTop_ = currentMsg_;
        return;
    }
    client_.SetMsgNum(currentMsg_);
    client_.SetMsgLines(0);
    Start(pop3Top);
}

void TScanSession::NextMessage() {
    ++currentMsg_;
    if (currentMsg_ > client_.MsgCount())
        Start(pop3Quit);
    else
        FetchMessage();
}

void TScanSession::ScreenMessage() {
    view_.SetConnectionStatus("Headers for message " + Num(currentMsg_) + " retrieved.");
    view_.SetActivity("Valid address check in progress");
    const ScreeningInput input = Input();
    std::string address = rules_.ValidAddressCheck(headerLines_, input);
    if (address.empty()) {
        view_.SetActivity("Unknown user - Assuming Spammer");
        Log("Unknown user - assuming spam");
        if (eatMode_) {
            Eat();
            return;
        }
        MessageDone();
        return;
    }
    if (input.Unknown || input.Strict) {
        view_.SetActivity("Valid Addr: " + address);
        Log("Valid Address: " + address);
    }
    view_.SetActivity("Scan for known spammers in progress");
    if (config_.LogLevel) Log("Scanning message for spammer match");
    // Input() afresh: the address check lets the event loop run, and what runs there may
    // change the lists and their stamp.
    std::string spammer = rules_.SpammerCheck(headerLines_, Input());
    if (spammer.empty()) {
        view_.SetActivity("Message OK...Checking next message");
        if (config_.LogLevel) Log("Message cleared - no spammer found");
        ++okCount_;
    } else if (eatMode_) {
        view_.SetActivity("Found Spammer - Eating Message");
        Eat();
        return;
    } else {
        view_.SetActivity("Spammer Found");
    }
    MessageDone();
}

void TScanSession::Eat() {
    if (!config_.Quarantine) {
        Start(pop3Dele);
        return;
    }
    try {
        quarantine_ = std::make_unique<TQuarantineCopy>(QuarantinePath(), platform::Now());
    } catch (const std::exception& e) {
        ShowError("Cannot keep msg " + Num(currentMsg_) + " in quarantine: " + e.what() +
                  " - not deleted");
        MessageDone();
        return;
    }
    headerReplyBound_ = client_.MaxReplySize();
    client_.SetMaxReplySize(std::max(headerReplyBound_, MaxQuarantinedMessage));
    client_.SetMsgNum(currentMsg_);
    view_.SetConnectionStatus("Copying message " + Num(currentMsg_) + " to quarantine");
    Start(pop3Retr);
}

// The whole message has arrived; only a copy safe on disk lets the DELE go out.
void TScanSession::QuarantineFetched() {
    std::unique_ptr<TQuarantineCopy> copy = std::move(quarantine_);
    EndRetr();
    try {
        copy->Commit();
    } catch (const std::exception& e) {
        ShowError("Cannot keep msg " + Num(currentMsg_) + " in quarantine: " + e.what() +
                  " - not deleted");
        copy.reset();
        MessageDone();
        return;
    }
    Log("Kept in quarantine: " + copy->Summary());
    Start(pop3Dele);
}

// The RETR is over: a copy not committed by now is cut back off the file.
void TScanSession::EndRetr() {
    quarantine_.reset();
    client_.SetMaxReplySize(headerReplyBound_);
}

void TScanSession::MessageDone() {
    ++checkedCount_;
    headerLines_.clear();
    NextMessage();
}

void TScanSession::FinishWithReport() {
    // Deletions take effect only when the server answers QUIT; a session that ended any
    // other way deleted nothing.
    if (quarantine_) EndRetr();
    StopPipelining();
    const bool deletionsLost = eatenCount_ > 0 && !quitAnswered_;
    if (deletionsLost) {
        ShowError("QUIT not confirmed by the server - " + Num(eatenCount_) +
                  " deletions did not take effect");
        eatenCount_ = 0;
    }
    CloseConnection();
    view_.SetConnectionStatus("Connection inactive");
    if (!eatMode_)
        view_.SetActivity("Scanning Completed - Checked only");
    else if (deletionsLost)
        view_.SetActivity("Scanning Completed - Nothing deleted");
    else if (eatenCount_ > 0)
        view_.SetActivity("Scanning Completed - Mailbox Cleaned");
    else
        view_.SetActivity("Scanning Completed - No Spam found");
    const std::string stats =
        Num(checkedCount_) + " Checked, " + Num(okCount_) + " OK'd, " + Num(eatenCount_) + " Eaten";
    Log("Stats: " + stats);
    view_.SetStatusBar("Last Results - " + stats);
    EnableCommands();
    headerLines_.clear();
    busy_ = false;
    scanning_ = false;
    reachedReport_ = true;
    if (view_.HiddenToTray()) view_.HideToTray();
    if (OnScanEnd) OnScanEnd();
}

// The connect failed: no QUIT and no statistics. errorText is shown unless the error has
// been shown already.
void TScanSession::FinishWithoutQuit(const std::optional<std::string>& errorText) {
    if (quarantine_) EndRetr();
    StopPipelining();
    EnableCommands();
    busy_ = false;
    scanning_ = false;
    view_.SetStatusBar("Last Results - unable to locate server");
    if (errorText) ShowError(*errorText);
    CloseConnection();
    headerLines_.clear();
    if (OnScanEnd) OnScanEnd();
}

// A server closes after QUIT in its own time, and after a failed connect the socket may be
// half open: closing our side now lets the next check start at once instead of finding the
// client still connected.
void TScanSession::CloseConnection() {
    platform::Guarded([this] { client_.CloseConnection(); });
}

void TScanSession::EnableCommands() {
    view_.SetScanCommandsEnabled(true);
    view_.SetScanModeChecks(false, false);
    view_.SetTrayAnimation(false);
}

void TScanSession::Pop3ClientMessageLine(TCustomPop3Cli* Sender) {
    if (KeepHeaderLine(Sender->LastResponse())) return;
    if (quarantine_)
        quarantine_->AddLine(Sender->LastResponse());
    else
        headerLines_.push_back(Sender->LastResponse());
}

void TScanSession::Pop3ClientDisplay(TCustomPop3Cli*, const std::string& Msg) {
    if (!config_.LogLevel || KeepTrace(Msg)) return;
    Log(Msg.find("> PASS") != std::string::npos ? "> PASS secret" : Msg);
}

// A log that cannot be written is reported, but does not stop the scan half-way.
void TScanSession::Log(const std::string& text) {
    try {
        log_.AddLine("", "", text);
    } catch (...) {
        platform::ReportCurrentException();
    }
}

ScreeningInput TScanSession::Input() const {
    // An address list with nothing usable turns the address check off (see StartScan).
    const bool addresses = HasUsableEntry(config_.GoodAddrList);
    return {config_.GoodAddrList,        config_.SpammerList, config_.Unknown && addresses,
            config_.Strict && addresses, config_.NoCase,      config_.LogLevel,
            config_.ListsStamp()};
}

} // namespace screening
