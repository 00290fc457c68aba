// The FTP client's control connection: lookup, connect, banner, reply lines, close.

#include "net/FtpCliInternal.h"

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

void TCustomFtpCli::Open() {
    Entry([&] {
        CheckReady();
        if (FConnected) throw FtpException("FTP component already connected");
        if (!FMulti) FRequestType = ftpRqOpen;
        FRequestDone = false;
        FLines.Clear();
        FRequestResult = 0;
        FClosingControl = false;
        SetState(ftpStResolving);
        try {
            FControl->DnsLookup(FHostName);
        } catch (const ESocketException&) {
            // The socket refused the name before any lookup: nothing is pending any more.
            FRequestDone = true;
            SetState(ftpStReady);
            throw;
        }
    });
}

void TCustomFtpCli::NetworkFailure(uint16_t Error) {
    FLastResponse =
        "500 " + WinsockErrorDesc(Error) + " (Winsock error #" + std::to_string(Error) + ")";
    FStatusCode = 500;
    TakeErrorMessage(FLastResponse);
    FRequestResult = Error;
    FinishRequest(Error);
}

void TCustomFtpCli::ControlLookupDone(uint16_t Error) {
    if (Error != 0) return NetworkFailure(Error);
    try {
        FControl->SetAddr(FControl->DnsResult());
        FControl->SetProto("tcp");
        FControl->SetPort(FPort);
        SetState(ftpStAwaitingBanner);
        FControl->Connect();
    } catch (const ESocketException&) {
        // A port that does not convert, a connect the platform turned down at once: the
        // request ends as a failed connection; the exception still goes to the caller.
        const int code = FControl->LastError() != 0 ? FControl->LastError() : wsaInvalidArgument;
        ControlConnected(static_cast<uint16_t>(code));
        throw;
    }
}

void TCustomFtpCli::ControlConnected(uint16_t Error) {
    if (Error == 0) {
        FConnected = true;
        return;
    }
    FMulti = false;
    NetworkFailure(Error);
    CloseControl();
    SetState(ftpStReady);
}

void TCustomFtpCli::CloseControl() {
    if (FControl->State() == wsClosed) return;
    FClosingControl = true;
    FControl->Close();
}

void TCustomFtpCli::ControlDataAvailable() {
    // A handler that runs the event loop while a line is being handled may bring more data:
    // it is read here, but its lines wait their turn in the loop below.
    if (FDispatching) {
        FReadPending = !ReadControl();
        return;
    }
    const std::shared_ptr<Life> life = FLife;
    struct Dispatching {
        const std::shared_ptr<Life>& L;
        bool& Flag;
        ~Dispatching() {
            if (L->Alive) Flag = false;
        }
    } dispatching{life, FDispatching = true};
    bool more = ReadControl();
    while (more) {
        std::string line;
        while (FControl->State() != wsClosed && FLines.NextLine(line))
            ReplyLine(line);
        if (FControl->State() != wsClosed && FLines.Overflowing()) return ReplyLineTooLong();
        // A nested read found the buffer full: now that it has room, read what waits.
        more = FReadPending && FControl->State() != wsClosed;
        if (more) {
            FReadPending = false;
            more = ReadControl();
        }
    }
}

// One read into the reply buffer; false when nothing came or the connection ends.
bool TCustomFtpCli::ReadControl() {
    const std::size_t room = FLines.Room(FControlBuf.size());
    if (room == 0) return false; // full of lines still to be taken out
    const int n = FControl->Receive(FControlBuf.data(), static_cast<int>(room));
    if (n > 0) {
        FLines.Append(FControlBuf.data(), static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && FControl->LastError() == wsaWouldBlock) return false;
    FControl->Close(); // the server went away
    return false;
}

// No line end within the longest line: the reply can never complete.
void TCustomFtpCli::ReplyLineTooLong() {
    FLines.Clear();
    if (!FRequestDone) {
        FRequestResult = 500;
        TakeErrorMessage("500 Reply line too long");
    }
    FControl->Close();
}

void TCustomFtpCli::ControlClosed(uint16_t Error) {
    const bool onPurpose = FClosingControl;
    FClosingControl = false;
    const bool awaiting = FState == ftpStAwaitingReply || FState == ftpStAwaitingBanner;
    if (FConnected) {
        FConnected = false;
        if (FState != ftpStAborting) {
            SetState(ftpStNotConnected);
            Fire(OnSessionClosed, this, Error);
        }
    }
    if (FState == ftpStAborting) return;
    const bool wasDone = FRequestDone;
    SetState(ftpStStepReady);
    if (wasDone) return SetState(ftpStReady);
    // The server went away before it answered: that is no success.
    if (!onPurpose && awaiting && FRequestResult == 0) {
        FRequestResult = 426;
        TakeErrorMessage("426 Connection closed");
    }
    FinishRequest(static_cast<uint16_t>(FRequestResult));
}

void TCustomFtpCli::BannerLine() {
    if (FStatusCode != 220) {
        TakeErrorMessage(FLastResponse);
        FRequestResult = FStatusCode > 0 ? FStatusCode : 500;
        CloseControl(); // its close ends the request
        return;
    }
    SetState(ftpStConnected);
    Fire(OnSessionConnected, this, 0);
    FRequestResult = 0;
    FinishRequest(0);
}
