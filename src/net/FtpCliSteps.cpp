// The FTP client's multi-step requests and the engine that chains their commands, the end
// of every request, and Abort.

#include "net/FtpCliInternal.h"

#include "net/WSocket.h"

using ftpcli::Bit;

// ---- multi-step requests ----

void TCustomFtpCli::Connect() {
    Entry([&] { StartMulti(ftpRqConnect, {stOpen, stUser, stPass}); });
}
void TCustomFtpCli::Get() {
    Entry([&] { StartMulti(ftpRqGet, {stDataPort, stRetr}); });
}
void TCustomFtpCli::Put() {
    Entry([&] { StartMulti(ftpRqPut, {stDataPort, stStor}); });
}
void TCustomFtpCli::Append() {
    Entry([&] { StartMulti(ftpRqAppend, {stDataPort, stAppe}); });
}
void TCustomFtpCli::Dir() {
    Entry([&] { StartMulti(ftpRqDir, {stDataPort, stList}); });
}
void TCustomFtpCli::Ls() {
    Entry([&] { StartMulti(ftpRqLs, {stDataPort, stNlst}); });
}
void TCustomFtpCli::Ren() {
    Entry([&] { StartMulti(ftpRqRen, {stRenFrom, stRenTo}); });
}
void TCustomFtpCli::ResumeGet() {
    Entry([&] { StartMulti(ftpRqResumeGet, {stDataPort, stRest, stRetr}); });
}
void TCustomFtpCli::DownloadFile() {
    Entry([&] {
        StartMulti(ftpRqDownloadFile,
                   {stOpen, stUser, stPass, stCwd, stTypeSet, stDataPort, stRetr, stQuit});
    });
}
void TCustomFtpCli::UploadFile() {
    Entry([&] {
        StartMulti(ftpRqUploadFile,
                   {stOpen, stUser, stPass, stCwd, stTypeSet, stDataPort, stStor, stQuit});
    });
}
void TCustomFtpCli::AppendToFile() {
    // Reported as an upload, as callers of the upload have always seen it.
    Entry([&] {
        StartMulti(ftpRqUploadFile,
                   {stOpen, stUser, stPass, stCwd, stTypeSet, stDataPort, stAppe, stQuit});
    });
}
void TCustomFtpCli::ListDirectory() {
    Entry([&] {
        StartMulti(ftpRqListDirectory, {stOpen, stUser, stPass, stCwd, stDataPort, stList, stQuit});
    });
}
void TCustomFtpCli::ListNames() {
    Entry([&] {
        StartMulti(ftpRqListNames, {stOpen, stUser, stPass, stCwd, stDataPort, stNlst, stQuit});
    });
}
void TCustomFtpCli::QuerySystem() {
    Entry([&] { StartMulti(ftpRqQuerySystem, {stOpen, stUser, stPass, stSyst, stQuit}); });
}
void TCustomFtpCli::QueryFileSize() {
    Entry([&] { StartMulti(ftpRqQueryFileSize, {stOpen, stUser, stPass, stCwd, stSize, stQuit}); });
}
void TCustomFtpCli::MakeDirectory() {
    Entry([&] { StartMulti(ftpRqMakeDirectory, {stOpen, stUser, stPass, stCwd, stMkd, stQuit}); });
}
void TCustomFtpCli::RemoveDirectory() {
    Entry([&] {
        StartMulti(ftpRqRemoveDirectory, {stOpen, stUser, stPass, stCwd, stRmd, stQuit});
    });
}
void TCustomFtpCli::DeleteFile() {
    Entry([&] { StartMulti(ftpRqDeleteFile, {stOpen, stUser, stPass, stCwd, stDele, stQuit}); });
}
void TCustomFtpCli::RenameFile() {
    Entry([&] {
        StartMulti(ftpRqRenameFile, {stOpen, stUser, stPass, stCwd, stRenFrom, stRenTo, stQuit});
    });
}
void TCustomFtpCli::SendQuote() {
    Entry([&] { StartMulti(ftpRqSendQuote, {stOpen, stUser, stPass, stCwd, stQuote, stQuit}); });
}
void TCustomFtpCli::ResumeDownloadFile() {
    Entry([&] {
        StartMulti(ftpRqResumeDownloadFile,
                   {stOpen, stUser, stPass, stCwd, stTypeSet, stDataPort, stRest, stRetr, stQuit});
    });
}

void TCustomFtpCli::StartMulti(TFtpRequest Rq, std::initializer_list<Step> Steps) {
    unsigned set = 0;
    for (Step s : Steps) {
        // Refused before anything is sent, not in the middle of the request.
        CheckStepFields(s);
        set |= Bit(s);
    }
    if (FConnected && (set & Bit(stOpen))) throw FtpException("FTP component already connected");
    CheckReady();
    FSavedResponse = FLastResponse;
    FSavedCode = -1;
    FRequestType = Rq;
    FMulti = true;
    FSteps = set;
    FRequestResult = 0;
    FOverallResult = 0;
    FLastStep = stNone;
    FLastResponse.clear();
    FErrorMessage.clear();
    NextStep(0);
}

// Runs after each step: takes in its outcome and starts the next step in the fixed order.
void TCustomFtpCli::NextStep(uint16_t StepError) {
    for (;;) {
        if (FState == ftpStAborting) {
            FSteps = 0;
            FOverallResult = 426;
            FErrorMessage = "426 Operation aborted.";
        } else if (StepError != 0) {
            FOverallResult = StepError;
            // A failed step drops the rest, but a pending QUIT still says goodbye.
            FSteps = FLastStep != stQuit && (FSteps & Bit(stQuit)) ? Bit(stQuit) : 0;
        }
        Step next = stNone;
        for (int s = stOpen; s < stNone && next == stNone; ++s) {
            if (!(FSteps & Bit(s))) continue;
            FSteps &= ~Bit(s);
            const bool skip = (s == stPass && FLastStep == stUser && FStatusCode != 331) ||
                              (s == stCwd && FHostDirName.empty()) ||
                              // Nothing to say goodbye to after a failed open.
                              (s == stQuit && !FConnected);
            if (!skip) next = static_cast<Step>(s);
        }
        if (next == stNone) {
            FMulti = false;
            FRequestResult = FOverallResult;
            PostDone(FOverallResult, true);
            return;
        }
        if (next == stRetr && !(FLastStep == stRest && FStatusCode == 350)) FResumePos = 0;
        if (next == stQuit) {
            // The request reports the reply of the step before QUIT.
            FSavedResponse = FLastResponse;
            FSavedCode = FStatusCode;
        }
        FLastStep = next;
        try {
            StartStep(next);
            return;
        } catch (const platform::Exception& e) {
            // A step that cannot start fails like a refused command, so the request still
            // ends (and says goodbye) instead of waiting for good.
            TakeErrorMessage(e.what());
            FRequestResult = 500;
            FRequestDone = true;
            if (FState != ftpStAborting) SetState(ftpStStepReady);
            StepError = 500;
        }
    }
}

void TCustomFtpCli::StartStep(Step S) {
    switch (S) {
    case stOpen:
        Open();
        break;
    case stUser:
        User();
        break;
    case stPass:
        Pass();
        break;
    case stCwd:
        Cwd();
        break;
    case stCDup:
        CDup();
        break;
    case stTypeSet:
        TypeSet();
        break;
    case stDataPort:
        DataPort();
        break;
    case stRest:
        Rest();
        break;
    case stRetr:
        Retr();
        break;
    case stStor:
        Stor();
        break;
    case stAppe:
        Appe();
        break;
    case stList:
        List();
        break;
    case stNlst:
        Nlst();
        break;
    case stSyst:
        Syst();
        break;
    case stMkd:
        Mkd();
        break;
    case stRmd:
        Rmd();
        break;
    case stRenFrom:
        RenFrom();
        break;
    case stRenTo:
        RenTo();
        break;
    case stSize:
        Size();
        break;
    case stDele:
        Dele();
        break;
    case stPwd:
        Pwd();
        break;
    case stQuote:
        Quote();
        break;
    case stQuit:
        Quit();
        break;
    case stNone:
        break;
    }
}

// ---- the end of a request ----

void TCustomFtpCli::FinishRequest(uint16_t Error) {
    if (FRequestDone) return;
    FRequestDone = true;
    if (FMulti) {
        if (FState != ftpStAborting) SetState(ftpStStepReady);
        NextStep(Error);
        return;
    }
    PostDone(Error, false);
}

void TCustomFtpCli::PostDone(uint16_t Error, bool EndedMulti) {
    FRequestDone = true;
    if (FState != ftpStAborting) SetState(ftpStReady);
    // A listener left by a multi-step request that failed before its transfer goes too.
    if (FData->State() == wsConnected || (EndedMulti && FData->State() != wsClosed))
        CloseDataSocket();
    if (EndedMulti && FSavedCode >= 0) {
        FLastResponse = FSavedResponse;
        FStatusCode = FSavedCode;
    }
    // Posted, so the handler runs after the call that ended the request has returned, and
    // may start the next request at once; dropped if the client is gone by then.
    const TFtpRequest rq = FRequestType;
    FChannel.PostDone([this, rq, Error] { Entry([&] { Fire(OnRequestDone, this, rq, Error); }); });
}

void TCustomFtpCli::Abort() {
    Entry([&] {
        SetState(ftpStAborting);
        Control().CancelLookup(); // a pending Open ends here, with the lookup
        CloseControl();
        CloseDataSocket();
        CloseLocalFile();
        FConnected = false;
        // Whatever was still waiting for a reply ends now.
        if (!FRequestDone) {
            if (!FMulti) {
                FRequestResult = 426;
                TakeErrorMessage("426 Operation aborted.");
            }
            FinishRequest(426);
        }
        SetState(ftpStReady);
    });
}

void TCustomFtpCli::GiveUpAfterTimeout() {
    Abort();
    FErrorMessage = "426 Timeout";
    FStatusCode = 426;
    FRequestResult = 426;
}
