// The FTP client's single commands: sending a command, reading its reply, and the parsing
// of replies.

#include "net/FtpCliInternal.h"

#include "net/WSocket.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace {

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// Decimal digits from I on; past the 32-bit range the value stays at its maximum.
int32_t ReadNumber(std::string_view S, std::size_t& I) {
    int64_t value = 0;
    constexpr int64_t max = std::numeric_limits<int32_t>::max();
    for (; I < S.size() && IsDigit(S[I]); ++I)
        value = std::min(max, value * 10 + (S[I] - '0'));
    return static_cast<int32_t>(value);
}

// Where the text after the reply code begins.
std::size_t AfterCode(std::string_view Line) {
    std::size_t i = 0;
    while (i < Line.size() &&
           (Line[i] == ' ' || Line[i] == '\t' || Line[i] == '\r' || Line[i] == '\n'))
        ++i;
    if (i < Line.size() && (Line[i] == '+' || Line[i] == '-')) ++i;
    while (i < Line.size() && IsDigit(Line[i]))
        ++i;
    return i;
}

} // namespace

int64_t ftpcli::TickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TFtpStatus FtpReadStatus(std::string_view Line) {
    TFtpStatus status;
    std::size_t i = 0;
    while (i < Line.size() &&
           (Line[i] == ' ' || Line[i] == '\t' || Line[i] == '\r' || Line[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < Line.size() && (Line[i] == '+' || Line[i] == '-')) negative = Line[i++] == '-';
    const std::size_t digits = i;
    status.Code = ReadNumber(Line, i) * (negative ? -1 : 1);
    status.Intermediate = i > digits && i < Line.size() && Line[i] == '-';
    return status;
}

int32_t FtpParseSize(std::string_view Line) {
    std::size_t i = AfterCode(Line);
    while (i < Line.size() && !IsDigit(Line[i]))
        ++i;
    return ReadNumber(Line, i);
}

std::string FtpParseDirName(std::string_view Line) {
    std::size_t i = AfterCode(Line);
    while (i < Line.size() && Line[i] == ' ')
        ++i;
    std::string name;
    if (i >= Line.size() || Line[i] != '"') return name;
    for (++i; i < Line.size(); ++i) {
        if (Line[i] != '"') {
            name += Line[i];
        } else if (i + 1 < Line.size() && Line[i + 1] == '"') {
            name += '"';
            ++i;
        } else {
            break;
        }
    }
    return name;
}

std::string FtpStatisticsText(int64_t Bytes, int64_t StartMs, int64_t EndMs) {
    const int64_t elapsed = EndMs - StartMs;
    std::string text = "! " + std::to_string(Bytes) + " bytes received/sent in " +
                       std::to_string(elapsed / 1000) + " seconds";
    if (elapsed != 0) {
        // Small counts first multiplied, so the rate keeps its precision; large ones first
        // divided, so the product stays in range.
        const int64_t rate = Bytes <= 32767 ? Bytes * 1000 / elapsed : Bytes / elapsed * 1000;
        text += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    return text;
}

std::vector<std::string> FtpSplitDisplayLines(std::string_view Block) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= Block.size(); ++i) {
        if (i < Block.size() && Block[i] != '\r' && Block[i] != '\n') continue;
        if (i > start) lines.emplace_back(Block.substr(start, i - start));
        start = i + 1;
    }
    return lines;
}

// ---- construction ----

TCustomFtpCli::TCustomFtpCli(QObject* Owner)
    : QObject(Owner),
      FChannel(*this, std::make_unique<TSocketTransport>(), 4094, false, TCommandChannel::loInTurn),
      FData(std::make_unique<TWSocket>()), FRecvBlock(64 * 1024), FSendBlock(32 * 1024),
      FReadAhead(64 * 1024) {
    TTransport& control = FChannel.Transport();
    control.OnLookupDone = [this](uint16_t E) { Entry([&] { ControlLookupDone(E); }); };
    control.OnConnected = [this](uint16_t E) { Entry([&] { ControlConnected(E); }); };
    control.OnDataAvailable = [this] { Entry([&] { FChannel.DataAvailable(); }); };
    control.OnClosed = [this](uint16_t E) { Entry([&] { ControlClosed(E); }); };
    FChannel.OnLine = [this](const std::string& Line) { ReplyLine(Line); };
    FChannel.OnTrace = [this](const std::string& Text) { Display(Text); };
    FChannel.OnLineTooLong = [this] { ReplyLineTooLong(); };
}

TCustomFtpCli::~TCustomFtpCli() {
    FLife->Alive = false;
    // The connections close themselves as they go; nothing of that may reach a
    // half-destroyed client.
    TTransport& control = Control();
    control.OnLookupDone = nullptr;
    control.OnConnected = nullptr;
    control.OnDataAvailable = nullptr;
    control.OnClosed = nullptr;
    FData->OnDnsLookupDone = nullptr;
    FData->OnSessionConnected = nullptr;
    FData->OnDataAvailable = nullptr;
    FData->OnSessionClosed = nullptr;
    FData->OnSessionAvailable = nullptr;
    FData->OnDataSent = nullptr;
}

bool TCustomFtpCli::Connected() const {
    return !Control().Closed();
}

// ---- single commands ----

void TCustomFtpCli::User() {
    Entry([&] {
        if (FUserName.empty()) throw FtpException("UserName emtpy");
        CheckStepFields(stUser);
        ExecCommand(ftpRqUser, stUser, "USER " + FUserName, {331, 230});
    });
}

void TCustomFtpCli::Pass() {
    Entry([&] {
        if (FPassWord.empty()) throw FtpException("Password emtpy");
        CheckStepFields(stPass);
        ExecCommand(ftpRqPass, stPass, "PASS " + FPassWord, {230});
    });
}

void TCustomFtpCli::Cwd() {
    Entry([&] {
        if (FHostDirName.empty()) throw FtpException("HostDirName emtpy");
        CheckStepFields(stCwd);
        ExecCommand(ftpRqCwd, stCwd, "CWD " + FHostDirName, {250, 257});
    });
}

void TCustomFtpCli::Pwd() {
    Entry([&] { ExecCommand(ftpRqPwd, stPwd, "PWD", {250, 257}); });
}

void TCustomFtpCli::CDup() {
    Entry([&] { ExecCommand(ftpRqCDup, stCDup, "CDUP", {250}); });
}

void TCustomFtpCli::TypeSet() {
    Entry([&] {
        ExecCommand(ftpRqTypeSet, stTypeSet, std::string("TYPE ") + (FBinary ? "I" : "A"), {200});
    });
}

void TCustomFtpCli::TypeBinary() {
    FBinary = true;
    TypeSet();
}

void TCustomFtpCli::TypeAscii() {
    FBinary = false;
    TypeSet();
}

void TCustomFtpCli::Syst() {
    Entry([&] { ExecCommand(ftpRqSyst, stSyst, "SYST", {215}); });
}

void TCustomFtpCli::Size() {
    Entry([&] {
        CheckStepFields(stSize);
        CheckReady();
        CheckConnected();
        FRemoteFileSize = 0;
        ExecCommand(ftpRqSize, stSize, "SIZE " + FHostFileName, {213});
    });
}

void TCustomFtpCli::Mkd() {
    Entry([&] {
        CheckStepFields(stMkd);
        ExecCommand(ftpRqMkd, stMkd, "MKD " + FHostFileName, {257});
    });
}

void TCustomFtpCli::Rmd() {
    Entry([&] {
        CheckStepFields(stRmd);
        ExecCommand(ftpRqRmd, stRmd, "RMD " + FHostFileName, {250, 257});
    });
}

void TCustomFtpCli::Dele() {
    Entry([&] {
        CheckStepFields(stDele);
        ExecCommand(ftpRqDele, stDele, "DELE " + FHostFileName, {250, 257});
    });
}

void TCustomFtpCli::RenFrom() {
    Entry([&] {
        CheckStepFields(stRenFrom);
        ExecCommand(ftpRqRenFrom, stRenFrom, "RNFR " + FHostFileName, {350});
    });
}

void TCustomFtpCli::RenTo() {
    Entry([&] {
        CheckStepFields(stRenTo);
        ExecCommand(ftpRqRenTo, stRenTo, "RNTO " + FLocalFileName, {250, 257});
    });
}

void TCustomFtpCli::Quote() {
    Entry([&] {
        CheckStepFields(stQuote);
        ExecCommand(ftpRqQuote, stQuote, FLocalFileName, {});
    });
}

void TCustomFtpCli::Quit() {
    Entry(
        [&] { ExecCommand(ftpRqQuit, stQuit, "QUIT", {221}, nullptr, &TCustomFtpCli::QuitDone); });
}

// ---- sending ----

void TCustomFtpCli::SetState(TFtpSessionState S) {
    if (FState == S) return;
    FState = S;
    Fire(OnStateChange, this);
}

void TCustomFtpCli::CheckReady() const {
    if (FState != ftpStReady && FState != ftpStStepReady)
        throw FtpException("FTP component not ready");
}

void TCustomFtpCli::CheckConnected() const {
    if (!FConnected) throw FtpException("FTP component not connected");
}

// A property that goes into a command line must not carry a line break: the server would
// take the rest as a second command.
void TCustomFtpCli::CheckStepFields(Step S) const {
    const auto refuse = [](const std::string& Value, const char* Name) {
        if (TLineFramer::HasLineBreak(Value))
            throw FtpException(std::string(Name) + " contains a line break");
    };
    switch (S) {
    case stUser:
        return refuse(FUserName, "UserName");
    case stPass:
        return refuse(FPassWord, "PassWord");
    case stCwd:
        return refuse(FHostDirName, "HostDirName");
    case stRetr:
    case stStor:
    case stAppe:
    case stList:
    case stNlst:
    case stMkd:
    case stRmd:
    case stRenFrom:
    case stSize:
    case stDele:
        return refuse(FHostFileName, "HostFileName");
    case stRenTo:
    case stQuote:
        return refuse(FLocalFileName, "LocalFileName");
    default:
        return;
    }
}

void TCustomFtpCli::ExecCommand(TFtpRequest Rq, Step S, const std::string& Cmd,
                                std::vector<int> Accepted, ReplyHandler Handler, Completion After) {
    CheckReady();
    CheckConnected();
    if (!FMulti) FRequestType = Rq;
    FCommandStep = S;
    FAccepted = std::move(Accepted);
    FRequestDone = false;
    FRequestResult = 0;
    FNext = Handler ? Handler : &TCustomFtpCli::DefaultReply;
    FAfter = After;
    SetState(ftpStAwaitingReply);
    SendCommand(Cmd);
}

void TCustomFtpCli::SendCommand(const std::string& Cmd) {
    std::string command = Cmd;
    Fire(OnCommand, this, command);
    FChannel.TraceCommand(command);
    if (Control().Connected()) FChannel.SendCommand(command);
}

// Both go into logs one line each; a reply line may carry a lone LF.
void TCustomFtpCli::Display(const std::string& Msg) {
    Fire(OnDisplay, this, TLineFramer::OneLine(Msg));
}

void TCustomFtpCli::TakeErrorMessage(const std::string& Msg) {
    if (FErrorMessage.empty()) FErrorMessage = TLineFramer::OneLine(Msg);
}

// ---- replies ----

void TCustomFtpCli::ReplyLine(const std::string& Line) {
    FLastResponse = Line;
    Fire(OnResponse, this);
    Display(TLineFramer::TraceReply(Line));
    if (FState != ftpStAwaitingBanner && FState != ftpStAwaitingReply) return;
    const TFtpStatus status = FtpReadStatus(Line);
    FStatusCode = status.Code;
    if (status.Intermediate) return;
    if (FState == ftpStAwaitingBanner)
        BannerLine();
    else
        (this->*FNext)();
}

// A refusal without a number must not read as success.
void TCustomFtpCli::FailWith(int Code, const std::string& Msg) {
    FRequestResult = Code > 0 ? Code : 500;
    TakeErrorMessage(Msg);
    FinishRequest(static_cast<uint16_t>(FRequestResult));
}

void TCustomFtpCli::DefaultReply() {
    const bool ok = FAccepted.empty() ? FStatusCode < 500
                                      : std::find(FAccepted.begin(), FAccepted.end(),
                                                  FStatusCode) != FAccepted.end();
    if (!ok) return FailWith(FStatusCode, FLastResponse);
    FRequestResult = 0;
    ParseResult(FCommandStep);
    if (FAfter)
        (this->*FAfter)();
    else
        FinishRequest(0);
}

void TCustomFtpCli::ParseResult(Step S) {
    if (S == stSize) {
        FRemoteFileSize = FtpParseSize(FLastResponse);
    } else if (S == stCwd || S == stMkd || S == stPwd || S == stCDup) {
        FRemoteDirName = FtpParseDirName(FLastResponse);
    }
}

void TCustomFtpCli::QuitDone() {
    // The close reported by the socket ends the request.
    CloseControl();
}
