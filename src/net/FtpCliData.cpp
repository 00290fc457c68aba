// The FTP client's data connection: PORT, REST, downloads (RETR, LIST, NLST) and uploads
// (STOR, APPE), with progress, user abort and the transfer statistics.

#include "net/FtpCliInternal.h"
#include "net/WinsockErrors.h"

#include "net/WSocket.h"
#include "platform/ErrorReport.h"
#include "platform/FileInfo.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr std::size_t kRecvBlock = 2048;
constexpr std::size_t kSendBlock = 1024;
// Platform reads per data event; a busy transfer then still lets other events run.
constexpr int kReadsPerEvent = 4;
constexpr uint16_t kLocalFailure = 426;

bool WriteAll(int Fd, const char* Data, std::size_t Len) {
    while (Len > 0) {
        const ssize_t n = ::write(Fd, Data, Len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Data += n;
        Len -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

// ---- PORT and REST ----

void TCustomFtpCli::DataPort() {
    Entry([&] {
        CheckReady();
        CheckConnected();
        CloseDataSocket();
        FData->OnDataAvailable = nullptr;
        FData->OnDataSent = nullptr;
        FData->OnSessionClosed = nullptr;
        FData->OnSessionAvailable = nullptr;
        // Over IPv6 the data connection comes to the control connection's own address, and
        // the server learns it from EPRT (RFC 2428): PORT carries IPv4 addresses only.
        const std::string peer = Control().PeerAddr();
        const bool ipv6 = peer.find(':') != std::string::npos;
        const std::string local = Control().LocalAddr();
        FData->SetProto("tcp");
        FData->SetAddr(ipv6 ? local : "0.0.0.0");
        FData->SetPort("0");
        FData->SetLingerOnOff(wsLingerOff);
        FData->Listen(); // a failure raises ESocketException
        TSockAddr data;
        int len = sizeof data.Storage;
        FData->GetSockName(data.Storage, len);
        const unsigned port = data.Port();
        std::string command;
        if (ipv6) {
            command = "EPRT |2|" + local + "|" + std::to_string(port) + "|";
        } else {
            std::string address = peer == "127.0.0.1" ? "127.0.0.1" : local;
            std::replace(address.begin(), address.end(), '.', ',');
            command = "PORT " + address + "," + std::to_string(port >> 8) + "," +
                      std::to_string(port & 255);
        }
        ExecCommand(ftpRqDataPort, stDataPort, command, {200, 227});
    });
}

void TCustomFtpCli::Rest() {
    Entry([&] {
        CheckReady();
        CheckConnected();
        const int64_t size = platform::FileSize(FLocalFileName).value_or(-1);
        FResumePos = static_cast<int32_t>(std::clamp<int64_t>(size, 0, INT32_MAX));
        if (FResumePos > 0) {
            ExecCommand(ftpRqRest, stRest, "REST " + std::to_string(FResumePos), {});
            return;
        }
        // Nothing to resume: done at once (still reported from the event loop).
        if (!FMulti) FRequestType = ftpRqRest;
        FRequestDone = false;
        FRequestResult = 0;
        FinishRequest(0);
    });
}

// ---- downloads ----

void TCustomFtpCli::Retr() {
    Entry([&] { StartDownload(ftpRqRetr, stRetr, "RETR"); });
}
void TCustomFtpCli::List() {
    Entry([&] { StartDownload(ftpRqList, stList, "LIST"); });
}
void TCustomFtpCli::Nlst() {
    Entry([&] { StartDownload(ftpRqNlst, stNlst, "NLST"); });
}

void TCustomFtpCli::StartDownload(TFtpRequest Rq, Step S, const char* Name) {
    if (!FConnected) throw FtpException(std::string(Name) + ": not connected");
    if (FLocalFileName.empty() && !FDisplayFileFlag) throw FtpException("LocalFileName empty");
    CheckStepFields(S);
    CheckReady();
    if (!FMulti) FRequestType = Rq;
    FDataCommand = Name;
    FUploading = false;
    FFinalReceived = FDataClosed = false;
    FRequestDone = false;
    FByteCount = 0;
    FDataCloseError = 0;
    FLocalFailure.clear();
    FData->OnSessionAvailable = [this](TCustomWSocket*, uint16_t E) {
        Entry([&] { DataSessionAvailable(E); });
    };
    if (!FDisplayFileFlag && !OpenDownloadFile()) {
        FLastResponse = "Unable to open local file " + FLocalFileName;
        FStatusCode = 550;
        TakeErrorMessage(FLastResponse);
        CloseDataSocket();
        FRequestResult = 550;
        FinishRequest(550);
        return;
    }
    std::string command = FDataCommand;
    if (!FHostFileName.empty()) command += " " + FHostFileName;
    ExecCommand(Rq, S, command, {}, &TCustomFtpCli::DownloadFirstReply);
}

bool TCustomFtpCli::OpenDownloadFile() {
    auto file = std::make_unique<LocalFile>();
    if (FResumePos > 0) {
        if (!file->Open(FLocalFileName, O_WRONLY, FShareMode) ||
            ::lseek(file->Fd, FResumePos, SEEK_SET) < 0)
            return false;
    } else {
        // Locked before it is emptied, so a file in use elsewhere is left alone.
        if (!file->Open(FLocalFileName, O_WRONLY | O_CREAT, FShareMode) ||
            ::ftruncate(file->Fd, 0) != 0)
            return false;
    }
    FLocalFile = std::move(file);
    return true;
}

void TCustomFtpCli::TransferFailed(int Code) {
    TakeErrorMessage(FLastResponse);
    CloseDataSocket();
    CloseLocalFile();
    FResumePos = 0;
    FRequestResult = Code > 0 ? Code : 500;
    FinishRequest(static_cast<uint16_t>(FRequestResult));
}

void TCustomFtpCli::DownloadFirstReply() {
    if (FStatusCode == 125 || FStatusCode == 150) {
        FNext = &TCustomFtpCli::DownloadFinalReply;
        return;
    }
    TransferFailed(FStatusCode);
}

void TCustomFtpCli::DownloadFinalReply() {
    if (FStatusCode == 125 || FStatusCode == 226 || FStatusCode == 250) {
        FFinalReceived = true;
        if (FDataClosed) TransferComplete();
        return;
    }
    CloseLocalFile();
    CloseDataSocket();
    Display("! RETR/LIST/NLST Failed");
    TransferFailed(FStatusCode);
}

void TCustomFtpCli::DataSessionAvailable(uint16_t) {
    const TSocketHandle h = FData->Accept();
    if (h == INVALID_SOCKET) return;
    // Only the server we talk to may deliver the data; anyone else who found the port is
    // turned away, and the transfer goes on waiting for the right connection.
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const std::string expected = Control().PeerAddr();
    auto* from = reinterpret_cast<sockaddr*>(&peer);
    if (::getpeername(h, from, &len) != 0 || AddrText(from) != expected) {
        ::close(h);
        Display("! Data connection from " + AddrText(from) + " refused");
        return;
    }
    FData->OnSessionAvailable = nullptr;
    FData->Close(); // the listener
    FData->SetLingerOnOff(wsLingerOff);
    FData->Dup(h);
    FData->OnSessionClosed = [this](TCustomWSocket*, uint16_t E) { Entry([&] { DataClosed(E); }); };
    if (FUploading) {
        // Whatever the server sends here is read and dropped.
        FData->OnDataAvailable = [](TCustomWSocket* S, uint16_t) {
            char scrap[256];
            S->Receive(scrap, sizeof scrap);
        };
        FData->OnDataSent = [this](TCustomWSocket*, uint16_t E) { Entry([&] { SendBlock(E); }); };
        FData->SetBufSize(static_cast<int>(FSendBlock.size()));
        FReadyForSending = true;
        // The first reply may have come first; then its go-ahead is already waiting here.
        if (FStartRequested) SendBlock(0);
    } else {
        FStartTime = ftpcli::TickCount();
        FData->OnDataAvailable = [this](TCustomWSocket*, uint16_t) {
            Entry([&] { DownloadData(); });
        };
    }
}

// The transfer advances in 2048-byte blocks, each after its progress event (which may
// abort it). The platform is asked for many blocks at once and the blocks it delivers
// together are written with one call before control returns: the same file and progress
// for a quarter of the system calls, which is what the transfer speed hangs on.
void TCustomFtpCli::DownloadData() {
    for (int read = 0; read < kReadsPerEvent; ++read) {
        if (!AskProgress()) return;
        const int n = FData->Receive(FRecvBlock.data(), static_cast<int>(FRecvBlock.size()));
        if (n < 0 && FData->LastError() != wsaWouldBlock && FData->State() == wsConnected) {
            Display("! Data: Receive error " + std::to_string(FData->LastError()));
            FLocalFailure = "426 Data: Receive error " + std::to_string(FData->LastError());
            FData->Shutdown(2);
            return;
        }
        if (n <= 0) return;
        std::size_t taken = 0;
        bool aborted = false;
        while (taken < std::size_t(n)) {
            // The blocks already allowed are written before an abort closes the file.
            if (taken > 0 && !ProgressAllows()) {
                aborted = true;
                break;
            }
            const std::size_t block = std::min<std::size_t>(kRecvBlock, std::size_t(n) - taken);
            if (FDisplayFileFlag) {
                for (const std::string& line :
                     FtpSplitDisplayLines({FRecvBlock.data() + taken, block}))
                    Fire(OnDisplayFile, this, line);
            }
            taken += block;
            FByteCount += static_cast<int64_t>(block);
        }
        if (!FDisplayFileFlag && taken > 0 &&
            (!FLocalFile || !WriteAll(FLocalFile->Fd, FRecvBlock.data(), taken))) {
            Display("! Error writing local file");
            FLocalFailure = "426 Error writing local file";
            FData->Shutdown(2);
            return;
        }
        if (aborted) return AbortTransfer();
        if (std::size_t(n) < FRecvBlock.size()) return; // nothing more waiting now
    }
}

void TCustomFtpCli::DataClosed(uint16_t Error) {
    CloseLocalFile();
    FDataClosed = true;
    FDataCloseError = Error;
    if (FFinalReceived) TransferComplete();
}

// Both the final reply and the close of the data connection are in.
void TCustomFtpCli::TransferComplete() {
    Display(FtpStatisticsText(FByteCount, FStartTime, ftpcli::TickCount()));
    FResumePos = 0;
    FRequestResult = FDataCloseError;
    // The server may have sent everything before our side failed or gave up: the local file
    // is still incomplete, which must not read as success.
    if (FRequestResult == 0 && !FLocalFailure.empty()) {
        FRequestResult = kLocalFailure;
        TakeErrorMessage(FLocalFailure);
    }
    FinishRequest(static_cast<uint16_t>(FRequestResult));
}

bool TCustomFtpCli::AskProgress() {
    if (ProgressAllows()) return true;
    AbortTransfer();
    return false;
}

bool TCustomFtpCli::ProgressAllows() {
    TransferProgressed();
    bool abort = false;
    Fire(OnProgress, this, static_cast<int32_t>(FByteCount + FResumePos), abort);
    return !abort;
}

void TCustomFtpCli::AbortTransfer() {
    Display("! Abort requested");
    FLocalFailure = "426 Abort requested";
    CloseDataSocket();
}

void TCustomFtpCli::CloseDataSocket() {
    if (FData->State() != wsClosed) FData->Close();
}

void TCustomFtpCli::CloseLocalFile() {
    FLocalFile.reset();
}

// ---- uploads ----

void TCustomFtpCli::Stor() {
    Entry([&] { StartUpload(ftpRqStor, stStor, "STOR "); });
}
void TCustomFtpCli::Appe() {
    Entry([&] { StartUpload(ftpRqAppe, stAppe, "APPE "); });
}

void TCustomFtpCli::StartUpload(TFtpRequest Rq, Step S, const char* Name) {
    if (!FConnected) throw FtpException("STOR/APPE: not connected");
    if (FLocalFileName.empty()) throw FtpException("LocalFileName empty");
    CheckStepFields(S);
    CheckReady();
    if (!FMulti) FRequestType = Rq;
    FUploading = true;
    FFinalReceived = FDataClosed = false;
    FStartRequested = false;
    FRequestDone = false;
    FByteCount = 0;
    FDataCloseError = 0;
    FLocalFailure.clear();
    bool cancel = false;
    Fire(OnReadyToTransmit, this, cancel);
    const auto refuse = [this](const std::string& Msg, bool CloseData) {
        FErrorMessage = Msg;
        FStatusCode = 426;
        Display("! " + Msg);
        if (CloseData) CloseDataSocket();
        FRequestResult = 426;
        FinishRequest(426);
    };
    if (cancel) return refuse("426 Transmit cancelled by application", false);
    FData->OnSessionAvailable = [this](TCustomWSocket*, uint16_t E) {
        Entry([&] { DataSessionAvailable(E); });
    };
    if (!OpenUploadFile()) return refuse("426 Unable to open local file " + FLocalFileName, true);
    ExecCommand(Rq, S, Name + FHostFileName, {}, &TCustomFtpCli::UploadFirstReply);
}

bool TCustomFtpCli::OpenUploadFile() {
    auto file = std::make_unique<LocalFile>();
    if (!file->Open(FLocalFileName, O_RDONLY, FShareMode)) return false;
    FEofReached = false;
    FReadyForSending = false;
    FAheadPos = FAheadLen = 0;
    if (FResumePos > 0 && ::lseek(file->Fd, FResumePos, SEEK_SET) < 0) return false;
    FLocalFile = std::move(file);
    return true;
}

void TCustomFtpCli::UploadFirstReply() {
    if (FStatusCode != 125 && FStatusCode != 150) return TransferFailed(FStatusCode);
    FNext = &TCustomFtpCli::UploadFinalReply;
    QMetaObject::invokeMethod(
        this, [this] { platform::Guarded([&] { Entry([&] { StartSending(); }); }); },
        Qt::QueuedConnection);
}

void TCustomFtpCli::StartSending() {
    if (FStartRequested || !FUploading || FRequestDone) return;
    FStartRequested = true;
    FStartTime = ftpcli::TickCount();
    SendBlock(0);
}

// The file goes out in blocks of at most 1024 bytes, each after its progress event (which
// may abort it). The blocks of one event go to the socket together, as one chunk sent in
// one platform call, and the next ones wait until the socket has sent them all: the queue
// never holds more than one batch, and the platform sees a few large writes instead of a
// hundred thousand small ones, which is what the transfer speed hangs on.
void TCustomFtpCli::SendBlock(uint16_t Error) {
    if (!FLocalFile) return;
    std::size_t len = 0;
    while (len + kSendBlock <= FSendBlock.size()) {
        if (!AskProgress()) return;
        if (Error != 0) {
            Display("! Error #" + std::to_string(Error) + " sending data");
            FLocalFailure = "426 Error #" + std::to_string(Error) + " sending data";
            CloseDataSocket();
            return;
        }
        if (FEofReached || !FReadyForSending) return;
        const ssize_t n = ReadUploadBlock(FSendBlock.data() + len);
        if (n < 0) {
            Display("! Error reading file");
            FLocalFailure = "426 Error reading file";
            // A reset, not an orderly close: the server must not take half a file for all.
            FData->Abort();
            return;
        }
        if (n == 0) {
            // What was gathered goes first; the close follows once the socket has sent it.
            if (len > 0) break;
            FEofReached = true;
            CloseDataSocket();
            return;
        }
        FByteCount += n;
        len += static_cast<std::size_t>(n);
    }
    FData->Send(FSendBlock.data(), static_cast<int>(len));
}

// The next block of at most 1024 bytes; the file itself is read ahead in larger pieces.
ssize_t TCustomFtpCli::ReadUploadBlock(char* To) {
    if (FAheadPos == FAheadLen) {
        ssize_t got;
        do
            got = ::read(FLocalFile->Fd, FReadAhead.data(), FReadAhead.size());
        while (got < 0 && errno == EINTR);
        if (got <= 0) return got;
        FAheadPos = 0;
        FAheadLen = static_cast<std::size_t>(got);
    }
    const std::size_t n = std::min<std::size_t>(kSendBlock, FAheadLen - FAheadPos);
    std::memcpy(To, FReadAhead.data() + FAheadPos, n);
    FAheadPos += n;
    return static_cast<ssize_t>(n);
}

void TCustomFtpCli::UploadFinalReply() {
    if (FStatusCode == 226 || FStatusCode == 250) {
        FFinalReceived = true;
        if (FDataClosed) TransferComplete();
        return;
    }
    CloseLocalFile();
    CloseDataSocket();
    Display("! STOR Failed");
    TransferFailed(FStatusCode);
}
