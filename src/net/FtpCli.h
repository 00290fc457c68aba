#pragma once

// Event-driven FTP client (RFC 959, active mode) on two TWSocket connections: the control
// connection carries one command at a time, the data connection is opened by the server to
// the port announced with PORT. Every operation returns at once; its end arrives as one
// OnRequestDone, always posted to the event loop. Several commands chain into one
// multi-step request (connect and log in, download a file, ...). TFtpClient adds blocking
// forms of the operations the spammers-list update needs.

#include "net/CommandChannel.h"
#include "net/FtpCliDeadline.h"
#include "platform/Exception.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

class TWSocket;
class TCustomWSocket;

enum TFtpShareMode {
    ftpShareCompat,
    ftpShareExclusive,
    ftpShareDenyWrite,
    ftpShareDenyRead,
    ftpShareDenyNone
};

enum TFtpSessionState {
    ftpStNotConnected,
    ftpStReady,
    ftpStStepReady,
    ftpStResolving,
    ftpStConnected,
    ftpStAborting,
    ftpStAwaitingBanner,
    ftpStAwaitingReply
};

// The kind of a request: the single commands first, then the multi-step requests.
enum TFtpRequest {
    ftpRqOpen,
    ftpRqUser,
    ftpRqPass,
    ftpRqCwd,
    ftpRqPwd,
    ftpRqCDup,
    ftpRqTypeSet,
    ftpRqDataPort,
    ftpRqRest,
    ftpRqRetr,
    ftpRqList,
    ftpRqNlst,
    ftpRqStor,
    ftpRqAppe,
    ftpRqSyst,
    ftpRqSize,
    ftpRqMkd,
    ftpRqRmd,
    ftpRqDele,
    ftpRqRenFrom,
    ftpRqRenTo,
    ftpRqQuote,
    ftpRqQuit,
    ftpRqAbort,
    ftpRqConnect,
    ftpRqGet,
    ftpRqPut,
    ftpRqAppend,
    ftpRqDir,
    ftpRqLs,
    ftpRqRen,
    ftpRqResumeGet,
    ftpRqDownloadFile,
    ftpRqUploadFile,
    ftpRqAppendToFile,
    ftpRqListDirectory,
    ftpRqListNames,
    ftpRqQuerySystem,
    ftpRqQueryFileSize,
    ftpRqMakeDirectory,
    ftpRqRemoveDirectory,
    ftpRqDeleteFile,
    ftpRqRenameFile,
    ftpRqSendQuote,
    ftpRqResumeDownloadFile
};

class FtpException : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

class TCustomFtpCli;

using TFtpDisplay = std::function<void(TCustomFtpCli* Sender, const std::string& Msg)>;
using TFtpProgress = std::function<void(TCustomFtpCli* Sender, int32_t Count, bool& Abort)>;
using TFtpCommand = std::function<void(TCustomFtpCli* Sender, std::string& Cmd)>;
using TFtpRequestDone =
    std::function<void(TCustomFtpCli* Sender, TFtpRequest RqType, uint16_t Error)>;
using TFtpReadyToTransmit = std::function<void(TCustomFtpCli* Sender, bool& bCancel)>;
using TFtpNotify = std::function<void(TCustomFtpCli* Sender)>;
using TFtpSessionEvent = std::function<void(TCustomFtpCli* Sender, uint16_t Error)>;

// Reply parsing, pure functions over one reply line.
struct TFtpStatus {
    int Code = 0;              // the number at the start; 0 when the line has no digits
    bool Intermediate = false; // digits directly followed by '-': a multi-line reply goes on
};
TFtpStatus FtpReadStatus(std::string_view Line);
// The number after the code ("213 1234" gives 1234).
int32_t FtpParseSize(std::string_view Line);
// The quoted folder after the code ("257 \"/a \"\"b\"\"\" created" gives /a "b"); empty
// when the text after the code does not start with a double quote.
std::string FtpParseDirName(std::string_view Line);
// The transfer note: "! 10000 bytes received/sent in 2 seconds (5000 Bytes/sec)".
std::string FtpStatisticsText(int64_t Bytes, int64_t StartMs, int64_t EndMs);
// A block of a displayed download cut into lines at CR and LF, empty pieces dropped.
std::vector<std::string> FtpSplitDisplayLines(std::string_view Block);

class TCustomFtpCli : public QObject {
  public:
    explicit TCustomFtpCli(QObject* Owner = nullptr);
    ~TCustomFtpCli() override;
    TCustomFtpCli(const TCustomFtpCli&) = delete;
    TCustomFtpCli& operator=(const TCustomFtpCli&) = delete;

    // Single commands.
    void Open();
    void User();
    void Pass();
    void Cwd();
    void Pwd();
    void CDup();
    void TypeSet();
    void TypeBinary();
    void TypeAscii();
    void DataPort();
    void Rest();
    void Retr();
    void List();
    void Nlst();
    void Stor();
    void Appe();
    void Syst();
    void Size();
    void Mkd();
    void Rmd();
    void Dele();
    void RenFrom();
    void RenTo();
    void Quote();
    void Quit();
    void Abort();

    // Multi-step requests.
    void Connect();
    void Get();
    void Put();
    void Append();
    void Dir();
    void Ls();
    void Ren();
    void ResumeGet();
    void DownloadFile();
    void UploadFile();
    void AppendToFile();
    void ListDirectory();
    void ListNames();
    void QuerySystem();
    void QueryFileSize();
    void MakeDirectory();
    void RemoveDirectory();
    void DeleteFile();
    void RenameFile();
    void SendQuote();
    void ResumeDownloadFile();

    // Properties.
    bool Connected() const;
    const std::string& HostName() const { return FHostName; }
    void SetHostName(const std::string& V) { FHostName = V; }
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& V) { FPort = V; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& V) { FUserName = V; }
    const std::string& PassWord() const { return FPassWord; }
    void SetPassWord(const std::string& V) { FPassWord = V; }
    const std::string& HostDirName() const { return FHostDirName; }
    void SetHostDirName(const std::string& V) { FHostDirName = V; }
    const std::string& HostFileName() const { return FHostFileName; }
    void SetHostFileName(const std::string& V) { FHostFileName = V; }
    const std::string& LocalFileName() const { return FLocalFileName; }
    void SetLocalFileName(const std::string& V) { FLocalFileName = V; }
    bool DisplayFlag() const { return FDisplayFlag; }
    void SetDisplayFlag(bool V) { FDisplayFlag = V; }
    bool DisplayFileFlag() const { return FDisplayFileFlag; }
    void SetDisplayFileFlag(bool V) { FDisplayFileFlag = V; }
    bool Binary() const { return FBinary; }
    void SetBinary(bool V) { FBinary = V; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    TFtpShareMode ShareMode() const { return FShareMode; }
    void SetShareMode(TFtpShareMode V) { FShareMode = V; }

    const std::string& LastResponse() const { return FLastResponse; }
    int StatusCode() const { return FStatusCode; }
    int RequestResult() const { return FRequestResult; }
    int32_t RemoteFileSize() const { return FRemoteFileSize; }
    const std::string& RemoteDirName() const { return FRemoteDirName; }
    TFtpSessionState State() const { return FState; }
    TFtpRequest RequestType() const { return FRequestType; }

    // Events; each fires only when set.
    TFtpDisplay OnDisplay;
    TFtpDisplay OnDisplayFile;
    TFtpCommand OnCommand;
    TFtpNotify OnResponse;
    TFtpProgress OnProgress;
    TFtpSessionEvent OnSessionConnected;
    TFtpSessionEvent OnSessionClosed;
    TFtpRequestDone OnRequestDone;
    TFtpNotify OnStateChange;
    TFtpReadyToTransmit OnReadyToTransmit;

  protected:
    // Every progress event of a transfer passes here before OnProgress.
    virtual void TransferProgressed() {}
    // A blocking wait ran out: the request is abandoned as "426 Timeout".
    void GiveUpAfterTimeout();

  private:
    // An event handler may destroy the client. The shared record outlives it, so the code
    // that called the handler can tell, and unwinds to the outermost entry without touching
    // the object again.
    struct Life {
        bool Alive = true;
        int Depth = 0;
    };
    struct Destroyed {};
    template <class Fn> void Entry(Fn&& F);
    template <class Handler, class... Args> void Fire(const Handler& H, Args&&... A);

    // Steps of a multi-step request, in the fixed order they run.
    enum Step : int {
        stOpen,
        stUser,
        stPass,
        stCwd,
        stCDup,
        stTypeSet,
        stDataPort,
        stRest,
        stRetr,
        stStor,
        stAppe,
        stList,
        stNlst,
        stSyst,
        stMkd,
        stRmd,
        stRenFrom,
        stRenTo,
        stSize,
        stDele,
        stPwd,
        stQuote,
        stQuit,
        stNone
    };
    using ReplyHandler = void (TCustomFtpCli::*)();
    using Completion = void (TCustomFtpCli::*)();

    // Requests (FtpCli.cpp).
    void SetState(TFtpSessionState S);
    void CheckReady() const;
    void CheckConnected() const;
    void CheckStepFields(Step S) const;
    void ExecCommand(TFtpRequest Rq, Step S, const std::string& Cmd, std::vector<int> Accepted,
                     ReplyHandler Handler = nullptr, Completion After = nullptr);
    void SendCommand(const std::string& Cmd);
    void ReplyLine(const std::string& Line);
    void DefaultReply();
    void ParseResult(Step S);
    void FailWith(int Code, const std::string& Msg);
    void TakeErrorMessage(const std::string& Msg);
    void Display(const std::string& Msg);
    void QuitDone();

    // Connection and multi-step engine (FtpCliSteps.cpp).
    void StartMulti(TFtpRequest Rq, std::initializer_list<Step> Steps);
    void FinishRequest(uint16_t Error);
    void NextStep(uint16_t StepError);
    void StartStep(Step S);
    void PostDone(uint16_t Error, bool EndedMulti);
    void NetworkFailure(uint16_t Error);
    void ControlLookupDone(uint16_t Error);
    void ControlConnected(uint16_t Error);
    void ReplyLineTooLong();
    void ControlClosed(uint16_t Error);
    void CloseControl();
    void BannerLine();

    // Data transfers (FtpCliData.cpp).
    void StartDownload(TFtpRequest Rq, Step S, const char* Name);
    void StartUpload(TFtpRequest Rq, Step S, const char* Name);
    bool OpenDownloadFile();
    bool OpenUploadFile();
    void TransferFailed(int Code);
    void DownloadFirstReply();
    void DownloadFinalReply();
    void UploadFirstReply();
    void UploadFinalReply();
    void DataSessionAvailable(uint16_t Error);
    void DownloadData();
    void StartSending();
    void SendBlock(uint16_t Error);
    ssize_t ReadUploadBlock(char* To);
    void DataClosed(uint16_t Error);
    // Fires OnProgress; on an abort request the transfer is given up.
    bool AskProgress();
    bool ProgressAllows();
    void AbortTransfer();
    void TransferComplete();
    void CloseDataSocket();
    void CloseLocalFile();

    std::shared_ptr<Life> FLife = std::make_shared<Life>();
    // The control connection: reply lines end with CR LF, and one with its end fits the
    // 4 KB a reply line may take.
    TCommandChannel FChannel;
    TTransport& Control() { return FChannel.Transport(); }
    const TTransport& Control() const { return FChannel.Transport(); }
    std::unique_ptr<TWSocket> FData;

    std::string FHostName;
    std::string FPort = "ftp";
    std::string FUserName, FPassWord, FHostDirName, FHostFileName, FLocalFileName;
    bool FDisplayFlag = false;
    bool FDisplayFileFlag = false;
    bool FBinary = true;
    std::string FErrorMessage;
    TFtpShareMode FShareMode = ftpShareExclusive;

    std::string FLastResponse;
    int FStatusCode = 0;
    int FRequestResult = 0;
    int32_t FRemoteFileSize = 0;
    std::string FRemoteDirName;
    TFtpSessionState FState = ftpStReady;
    TFtpRequest FRequestType = ftpRqOpen;
    bool FConnected = false;
    bool FRequestDone = true;
    // We closed the control connection on purpose (QUIT answered, banner refused).
    bool FClosingControl = false;

    std::vector<int> FAccepted; // empty: any code below 500 succeeds
    ReplyHandler FNext = nullptr;
    Completion FAfter = nullptr;
    Step FCommandStep = stNone; // the command whose reply is awaited, for result parsing

    // Multi-step request.
    bool FMulti = false;
    unsigned FSteps = 0;
    Step FLastStep = stNone;
    uint16_t FOverallResult = 0;
    std::string FSavedResponse;
    int FSavedCode = -1;

    // Transfer state.
    struct LocalFile;
    std::unique_ptr<LocalFile> FLocalFile;
    int64_t FByteCount = 0;
    int32_t FResumePos = 0;
    int64_t FStartTime = 0;
    std::string FDataCommand;
    uint16_t FDataCloseError = 0;
    bool FFinalReceived = false;
    bool FDataClosed = false;
    bool FEofReached = false;
    bool FReadyForSending = false;
    bool FStartRequested = false; // the first reply allowed sending
    bool FUploading = false;
    // Set when our side failed or gave up: a transfer the server calls complete still fails.
    std::string FLocalFailure;
    std::vector<char> FRecvBlock;
    std::vector<char> FSendBlock;
    std::vector<char> FReadAhead; // the upload file, read ahead
    std::size_t FAheadPos = 0, FAheadLen = 0;
};

// The client with the blocking operations of the spammers-list update. Each starts its
// request and runs the event loop until the client is ready again (true when the request
// succeeded) or Timeout seconds pass without progress (false, "426 Timeout").
class TFtpClient : public TCustomFtpCli {
  public:
    using TCustomFtpCli::TCustomFtpCli;

    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t V) { FTimeout = V; }
    // Kept with the component: the wait runs the thread's event loop either way, which here
    // holds the sockets' events and the application's alike.
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool V) { FMultiThreaded = V; }
    // A moment no blocking operation waits past, however busy the server keeps it; a wait
    // that reaches it ends as one that timed out. None: only Timeout applies. Moving it to
    // now ends a running wait at once.
    void SetWaitLimit(std::optional<TFtpDeadline::Clock::time_point> End);

    bool ConnectSync();
    bool CwdSync();
    bool SizeSync();
    bool TypeBinarySync();
    bool GetSync();
    bool QuitSync();
    bool AbortSync();

  protected:
    void TransferProgressed() override;

  private:
    bool Sync(void (TCustomFtpCli::*Op)());
    bool WaitUntilReady();

    int32_t FTimeout = 15;
    bool FMultiThreaded = false;
    std::optional<TFtpDeadline::Clock::time_point> FWaitLimit;
    TFtpDeadline* FDeadline = nullptr; // the running wait's, moved on by progress
};
