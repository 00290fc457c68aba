#include "ScanSession.h"

#include "config/dataConfig.h"
#include "log/kelLog.h"
#include "net/WinsockErrors.h"
#include "platform/ErrorReport.h"
#include "signin/AccessToken.h"

#include <QMetaObject>

#include <exception>
#include <optional>

namespace screening {

namespace {
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
    client_.OnUidlLine = [this](TCustomPop3Cli*) { TakeListLine(true); };
    client_.OnListLine = [this](TCustomPop3Cli*) { TakeListLine(false); };
}

TScanSession::~TScanSession() {
    // The client may live on and still deliver a posted event; it must not reach us.
    client_.OnRequestDone = nullptr;
    client_.OnMessageLine = nullptr;
    client_.OnDisplay = nullptr;
    client_.OnUidlLine = nullptr;
    client_.OnListLine = nullptr;
    if (quarantine_) EndRetr(); // a copy cut short leaves the file as it was
}

void TScanSession::StartScan(bool EatSpam) {
    // Busy is shared with the spammers-list update, which clears it when its dialog closes,
    // even in the middle of a scan; a second start must not tear down the running one.
    if (busy_ || state_ != Idle) return;
    marked_.reset();
    BeginScan(EatSpam);
}

void TScanSession::BeginScan(bool EatSpam) {
    busy_ = true;
    results_.clear();
    SetState(Connecting);
    reachedReport_ = false;
    errorCount_ = 0;
    lastShown_.clear();
    failure_.clear();
    view_.SetFailure("");
    view_.SetMailboxProgress("");
    view_.SetTrayAnimation(true);
    view_.SetScanCommandsEnabled(false);
    view_.SetScanModeChecks(!EatSpam, EatSpam);
    eatMode_ = EatSpam;
    eatenCount_ = 0;
    okCount_ = 0;
    checkedCount_ = 0;
    quitAnswered_ = false;
    StopPipelining();
    uidls_.clear();
    sizes_.clear();
    cacheUsed_ = false;
    cache_.clear();
    cacheChanged_ = false;
    deletedIds_.clear();
    fromCache_ = 0;
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
    Send();
    // While the server is reached, the searches are built a step a turn (each step posts the
    // next: calls posted together run in one turn): for long lists that keeps the window
    // answering. A scan that ended meanwhile needs none.
    PostPreparation(0);
}

void TScanSession::Stop() {
    if (state_ == Idle) return;
    // Idle first: the abort's own event is then a late one and ignored.
    SetState(Idle);
    platform::Guarded([this] { client_.Abort(); });
    if (quarantine_) EndRetr();
    StopPipelining();
    eatenCount_ = 0;
    for (TScanResult& result : results_)
        result.Eaten = false; // still on the server
    CloseConnection();
    const char* const stopped = "Check stopped - nothing deleted";
    view_.SetConnectionStatus("Connection inactive");
    view_.SetStatusBar(stopped);
    Log(stopped);
    EnableCommands();
    headerLines_.clear();
    busy_ = false;
    if (OnScanEnd) OnScanEnd();
}

void TScanSession::PostPreparation(int step) {
    QMetaObject::invokeMethod(
        &context_,
        [this, step] {
            if (state_ == Idle) return;
            const ScreeningInput input = Input();
            const bool addressStep = step < THeaderRules::kPreparationSteps / 2;
            try {
                if (!addressStep || input.Unknown || input.Strict) rules_.Prepare(input, step);
            } catch (...) {
                // The first message builds it again, and its failure is shown there.
            }
            if (step + 1 < THeaderRules::kPreparationSteps) PostPreparation(step + 1);
        },
        Qt::QueuedConnection);
}

void TScanSession::SetState(TScanState state) {
    state_ = state;
    if (OnStateChange) OnStateChange(state);
}

void TScanSession::Enter(TScanState state) {
    SetState(state);
    Send();
}

std::optional<TPop3Request> TScanSession::RequestOf(TScanState state) const {
    switch (state) {
    case Connecting:
        return pop3Connect;
    case LoggingInUser:
        return pop3User;
    case LoggingInPass:
        return pop3Pass;
    case Authenticating:
        return config_.Auth == "apop" ? pop3APop : pop3Auth;
    case ReadingStatus:
        return pop3Stat;
    case AskingCapabilities:
        return pop3Capa;
    case ListingUids:
        return pop3Uidl;
    case ListingSizes:
        return pop3List;
    case FetchingHeaders:
        return pop3Top;
    case Quarantining:
        return pop3Retr;
    case Deleting:
        return pop3Dele;
    case Quitting:
        return pop3Quit;
    case Idle:
        break;
    }
    return std::nullopt;
}

void TScanSession::Send() {
    try {
        switch (state_) {
        case Connecting:
            client_.Connect();
            break;
        case LoggingInUser:
            client_.User();
            break;
        case LoggingInPass:
            client_.Pass();
            break;
        case Authenticating:
            if (config_.Auth == "apop")
                client_.APop();
            else
                client_.Auth();
            break;
        case ReadingStatus:
            client_.Stat();
            break;
        case AskingCapabilities:
            client_.Capa();
            break;
        case ListingUids:
        case ListingSizes:
            client_.SetMsgNum(0); // the whole mailbox
            if (state_ == ListingUids)
                client_.Uidl();
            else
                client_.List();
            break;
        case FetchingHeaders:
            client_.SetMsgNum(currentMsg_);
            client_.SetMsgLines(0);
            client_.Top();
            break;
        case Quarantining:
        case Deleting:
            // Set here: pipelined TOPs of later messages may have gone out since the screening.
            client_.SetMsgNum(currentMsg_);
            if (state_ == Quarantining)
                client_.Retr();
            else
                client_.Dele();
            break;
        case Quitting:
            stopSending_ = true;
            // Without a connection the client ends QUIT at once, and nothing was deleted.
            quitSent_ = client_.ProtocolState() != pop3Disconnected;
            client_.Quit();
            break;
        case Idle:
            return;
        }
        if (pipelined_) sent_.push_back({*RequestOf(state_), currentMsg_});
    } catch (const std::exception& e) {
        if (state_ == Quarantining) EndRetr();
        ShowError(e.what());
        Failed(true);
    }
}

void TScanSession::Pop3ClientRequestDone(TCustomPop3Cli*, TPop3Request RqType,
                                         std::uint16_t Error) {
    if (state_ == Idle) // a late event of an abandoned request
        return;
    try {
        HandleRequestDone(RqType, Error);
    } catch (...) {
        // Nothing of the scan should throw; if something does, show it and end the scan
        // rather than leave it Busy for good.
        platform::ReportCurrentException();
        ++errorCount_;
        platform::Guarded([this] { client_.Abort(); });
        if (state_ != Idle) FinishWithReport();
    }
}

void TScanSession::HandleRequestDone(TPop3Request rqType, std::uint16_t error) {
    lastError_ = error;
    if (pipelined_ && PipelinedDone(rqType, error)) return;
    if (rqType != RequestOf(state_)) return; // no request of the scan
    switch (state_) {
    case Connecting:
        return ConnectDone(error);
    case LoggingInUser:
        return UserDone(error);
    case LoggingInPass:
        return PassDone(error);
    case Authenticating:
        return AuthDone(error);
    case ReadingStatus:
        return StatDone(error);
    case AskingCapabilities:
        return CapaDone(error);
    case ListingUids:
        return UidlDone(error);
    case ListingSizes:
        return ListDone(error);
    case FetchingHeaders:
        return TopDone(error);
    case Quarantining:
        return RetrDone(error);
    case Deleting:
        return DeleDone(error);
    case Quitting:
        return QuitDone(error);
    case Idle:
        return;
    }
}

void TScanSession::ConnectDone(std::uint16_t error) {
    if (error != 0) {
        // A connection that could not be secured, or a port that cannot be used, says why in
        // plain words.
        const std::string& why = client_.ConnectFailure();
        const std::string text = "Error " + Num(error) + " attempting connection";
        NameFailure(!why.empty() ? why : text + " (" + FailureReason() + ")");
        FinishWithoutQuit(!why.empty() ? why : text);
        return;
    }
    headerLines_.clear();
    view_.SetConnectionStatus("Connection to server established");
    Log("Connection to mail server established");
    Enter(config_.Auth == "user" ? LoggingInUser : Authenticating);
}

void TScanSession::UserDone(std::uint16_t error) {
    if (error != 0) return Fail("Error " + Num(error) + " sending username");
    view_.SetConnectionStatus("User login in progress");
    Enter(LoggingInPass);
}

void TScanSession::PassDone(std::uint16_t error) {
    if (error != 0) return Fail("Error " + Num(error) + " during authentication");
    view_.SetConnectionStatus("Authenticated...login complete");
    Enter(ReadingStatus);
}

void TScanSession::AuthDone(std::uint16_t error) {
    if (error != 0) {
        // The status of a refused token tells an expired one from a wrong one.
        const std::string& status = client_.AuthStatus();
        if (config_.Auth == "xoauth2" || config_.Auth == "oauthbearer")
            signin::ForgetAccessToken(config_); // the next check gets a fresh one
        return Fail("Error " + Num(error) + " during authentication" +
                    (status.empty() ? "" : ": " + client_.LastResponse() + " (" + status + ")"));
    }
    view_.SetConnectionStatus("Authenticated...login complete");
    Enter(ReadingStatus);
}

void TScanSession::StatDone(std::uint16_t error) {
    if (error != 0) return Fail("Error " + Num(error) + " getting mailbox status");
    if (marked_) return BeginEatMarked();
    if (client_.MsgCount() < 1) {
        view_.SetActivity("No messages waiting on server.");
        cacheUsed_ = cacheChanged_ = config_.HeaderCache; // nothing left to keep
        Enter(Quitting);
    } else if (client_.MsgCount() > 1 && pipeliningAllowed_) {
        Enter(AskingCapabilities); // with more than one message, pipelining may pay
    } else {
        BeginMessages(false);
    }
}

void TScanSession::CapaDone(std::uint16_t error) {
    // No answer at all, or the connection gone: the TOPs would fare no better.
    if (error != 0 && error != kNegativeReply)
        return Fail("Error " + Num(error) + " getting server capabilities");
    // A server that cannot say what it can is asked one command at a time.
    BeginMessages(error == 0 && client_.HasCapability("PIPELINING"));
}

// The QUIT's own error is of no consequence, but only its +OK made the deletions take effect.
void TScanSession::QuitDone(std::uint16_t error) {
    if (error == 0) quitAnswered_ = quitSent_;
    FinishWithReport();
}

void TScanSession::Fail(const std::string& text) {
    ShowError(text);
    Failed(false);
}

void TScanSession::Failed(bool raised) {
    // A client that refused an operation, or whose connection is gone, will not do better
    // on the next message: such a failure goes straight to QUIT.
    const bool giveUp = raised || client_.ProtocolState() == pop3Disconnected;
    if (raised)
        NameFailure(lastShown_);
    else if (state_ == LoggingInUser || state_ == LoggingInPass || state_ == Authenticating)
        NameFailure("login failed: " + FailureReason());
    else if (giveUp || (state_ != FetchingHeaders && state_ != Quarantining && state_ != Deleting))
        NameFailure(lastShown_ + ": " + FailureReason());
    switch (state_) {
    case Connecting:
        platform::Guarded([this] { client_.Abort(); }); // it may be left mid-lookup
        FinishWithoutQuit(std::nullopt);
        break;
    case FetchingHeaders:
    case Quarantining:
    case Deleting:
        if (state_ != FetchingHeaders) ++checkedCount_; // its headers were fetched: it was checked
        headerLines_.clear();
        if (giveUp)
            Enter(Quitting);
        else
            NextMessage();
        break;
    case Quitting:
        if (raised) // leave the client ready for the next scan
            platform::Guarded([this] { client_.Abort(); });
        FinishWithReport();
        break;
    case LoggingInUser:
    case LoggingInPass:
    case Authenticating:
    case ReadingStatus:
    case AskingCapabilities:
    case ListingUids:
    case ListingSizes:
        Enter(Quitting);
        break;
    case Idle:
        break;
    }
}

void TScanSession::NameFailure(const std::string& text) {
    if (failure_.empty()) failure_ = text;
}

std::string TScanSession::FailureReason() const {
    if (lastError_ == kNegativeReply) return client_.LastResponse();
    const std::string plain = PlainReason(lastError_);
    return plain.empty() ? "error " + Num(lastError_) : plain;
}

void TScanSession::ShowError(const std::string& text) {
    ++errorCount_;
    lastShown_ = text;
    view_.SetConnectionStatus(text);
    Log(text);
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
        NameFailure(lastShown_);
        eatenCount_ = 0;
        for (TScanResult& result : results_)
            result.Eaten = false; // still on the server
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
    if (cacheUsed_) SaveCache();
    const std::string stats = TotalsText(checkedCount_, okCount_, eatenCount_);
    Log("Stats: " + stats);
    view_.SetStatusBar("Last Results - " + stats);
    view_.SetFailure(failure_);
    EnableCommands();
    headerLines_.clear();
    busy_ = false;
    SetState(Idle);
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
    SetState(Idle);
    view_.SetStatusBar("Last Results - unable to locate server");
    if (errorText) ShowError(*errorText);
    NameFailure(lastShown_);
    view_.SetFailure(failure_);
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
    // The client shows no credentials of AUTH; the log keeps none of any login, whatever it
    // is shown.
    if (Msg.find("> PASS") != std::string::npos) return Log("> PASS secret");
    if (Msg.rfind("> AUTH ", 0) == 0) {
        const std::size_t end = Msg.find(' ', 7);
        if (end != std::string::npos) return Log(Msg.substr(0, end) + " ****");
    }
    Log(Msg);
}

// A log that cannot be written is reported, but does not stop the scan half-way.
void TScanSession::Log(const std::string& text) {
    try {
        log_.AddLine("", "", config_.LinePrefix + text);
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
