// The blocking operations of TFtpClient: start the request, then run the event loop until
// the client is ready again or the server has been silent for Timeout seconds.

#include "net/FtpCli.h"

#include <QPointer>

bool TFtpClient::ConnectSync() {
    return Sync(&TCustomFtpCli::Connect);
}
bool TFtpClient::CwdSync() {
    return Sync(&TCustomFtpCli::Cwd);
}
bool TFtpClient::SizeSync() {
    return Sync(&TCustomFtpCli::Size);
}
bool TFtpClient::TypeBinarySync() {
    return Sync(&TCustomFtpCli::TypeBinary);
}
bool TFtpClient::GetSync() {
    return Sync(&TCustomFtpCli::Get);
}
bool TFtpClient::QuitSync() {
    return Sync(&TCustomFtpCli::Quit);
}

// Abort ends at once and cannot fail; whatever it cut short has its own result.
bool TFtpClient::AbortSync() {
    try {
        Abort();
    } catch (const std::exception&) {
        return false;
    }
    return State() == ftpStReady;
}

bool TFtpClient::Sync(void (TCustomFtpCli::*Op)()) {
    try {
        (this->*Op)();
    } catch (const std::exception&) {
        return false;
    }
    return WaitUntilReady();
}

bool TFtpClient::WaitUntilReady() {
    // The deadline lives on the stack: a handler run by the wait may destroy the client.
    TFtpDeadline deadline;
    deadline.Arm(FTimeout, FWaitLimit);
    QPointer<TFtpClient> self(this);
    FDeadline = &deadline;
    const bool ready = deadline.Wait([&] { return !self || State() == ftpStReady; });
    if (!self) return false;
    FDeadline = nullptr;
    if (ready) return RequestResult() == 0;
    GiveUpAfterTimeout();
    return false;
}

void TFtpClient::SetWaitLimit(std::optional<TFtpDeadline::Clock::time_point> End) {
    FWaitLimit = End;
    if (FDeadline) FDeadline->SetCap(End);
}

void TFtpClient::TransferProgressed() {
    if (FDeadline) FDeadline->Extend();
}
