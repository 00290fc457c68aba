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
        FChannel.DropReceived();
        FRequestResult = 0;
        FClosingControl = false;
        SetState(ftpStResolving);
        try {
            Control().Lookup(FHostName);
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
    TTransport& control = Control();
    try {
        control.SetPort(FPort);
        SetState(ftpStAwaitingBanner);
        control.Connect();
    } catch (const ESocketException&) {
        // A port that does not convert, a connect the platform turned down at once: the
        // request ends as a failed connection; the exception still goes to the caller.
        const int code = control.LastError() != 0 ? control.LastError() : wsaInvalidArgument;
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
    if (Control().Closed()) return;
    FClosingControl = true;
    Control().Close();
}

// No line end within the longest line: the reply can never complete.
void TCustomFtpCli::ReplyLineTooLong() {
    if (!FRequestDone) {
        FRequestResult = 500;
        TakeErrorMessage("500 Reply line too long");
    }
    Control().Close();
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
