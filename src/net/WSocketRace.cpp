// The addresses of Addr, and the connection race of a stream Connect over several of them
// (RFC 8305 in its simple form): the first attempt runs on the socket's handle; each further one
// starts when the attempts before have all failed, or when the last one started has not connected
// within the delay. The first attempt to connect becomes the handle and the others are closed.

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

#include "net/HostLookup.h"
#include "platform/ErrorReport.h"
#include "platform/Trim.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

// Every address Addr (or the list) stands for, in order, with the port as now set; the
// first is the address record. Numeric text in any form the classic parsers accept (the
// broadcast address included) is taken as it is; a host name is asked of the name service,
// waiting for it, unless it was resolved since Addr was set.
void TCustomWSocket::ResolveAddr() {
    const std::string text = platform::Trimmed(FAddrStr);
    if (!FAddrResolved) {
        FCandidates.clear();
        for (const std::string& each : FAddrList.empty() ? std::vector{text} : FAddrList) {
            const std::string host = platform::Trimmed(each);
            if (const std::optional<TSockAddr> numeric = NumericAddr(host)) {
                FCandidates.push_back(*numeric);
                continue;
            }
            for (const std::string& found : ResolveHostNow(host))
                if (const std::optional<TSockAddr> a = NumericAddr(found))
                    FCandidates.push_back(*a);
        }
        if (FCandidates.empty())
            throw ESocketException("SetAddr: Cannot convert host address '" + text + "'");
        FAddrResolved = true;
    }
    for (TSockAddr& a : FCandidates)
        a.SetPort(FPortNumber);
    FSin = FCandidates.front();
}

// A socket for the address, with the options of the first attempt, connecting: 0 with H set,
// or the error that ended it at once.
int TCustomWSocket::OpenAttempt(size_t Index, TSocketHandle& H) {
    const TSockAddr& to = FCandidates[Index];
    const int h = socket(to.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, FProto);
    if (h < 0) return LastNetError();
    const int on = 1;
    setsockopt(h, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(h, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (FLingerOnOff != wsLingerNoSet) {
        const bool lingers = FLingerOnOff == wsLingerOn && FLingerTimeout > 0;
        const linger value{lingers ? 1 : 0, FLingerTimeout & 0xFFFF};
        setsockopt(h, SOL_SOCKET, SO_LINGER, &value, sizeof value);
    }
    if (::connect(h, to.Raw(), to.Len) < 0) {
        const int err = LastNetError();
        if (err != wsaWouldBlock && err != wsaInProgress) {
            ::close(h);
            return err;
        }
    }
    H = h;
    return 0;
}

// Starts the next address that does not fail at once: on the handle when no attempt is
// left, else beside the one there. False when every address has been tried.
bool TCustomWSocket::StartNextAttempt(bool AsPrimary) {
    while (FNextCandidate < FCandidates.size()) {
        const size_t index = FNextCandidate++;
        TSocketHandle h = INVALID_SOCKET;
        if (const int err = OpenAttempt(index, h)) {
            NoteFailure(index, err);
            continue;
        }
        if (AsPrimary) {
            MakePrimary(h, index);
        } else {
            TAttempt attempt{h, nullptr, index};
            attempt.Notifier.reset(new QSocketNotifier(h, QSocketNotifier::Write));
            connect(attempt.Notifier.get(), &QSocketNotifier::activated, this,
                    [this, h] { platform::Guarded([this, h] { RacerReady(h); }); });
            FRacers.push_back(std::move(attempt));
        }
        if (FNextCandidate < FCandidates.size()) FRaceTimer->start();
        return true;
    }
    return false;
}

void TCustomWSocket::MakePrimary(TSocketHandle H, size_t Index) {
    AdoptHandle(H); // closes the handle before it
    FPrimaryIndex = Index;
    FSin = FCandidates[Index];
    UpdateNotifiers();
}

// The attempt on the handle failed: an attempt still running takes its place, else the next
// address; with none left the failure is the connect event's outcome.
void TCustomWSocket::PrimaryFailed(uint64_t Serial, int Error) {
    if (!StillCurrent(Serial) || FState != wsConnecting) return;
    NoteFailure(FPrimaryIndex, Error);
    if (!FRacers.empty()) {
        TAttempt next = std::move(FRacers.front());
        FRacers.erase(FRacers.begin());
        next.Notifier.reset();
        MakePrimary(next.Handle, next.Index);
        StartNextAttempt(false);
        return;
    }
    if (StartNextAttempt(true)) return;
    HandleNetworkEvent(Serial, kEventConnect, FRaceError);
}

void TCustomWSocket::RacerReady(TSocketHandle H) {
    const auto it = std::find_if(FRacers.begin(), FRacers.end(),
                                 [H](const TAttempt& a) { return a.Handle == H; });
    if (it == FRacers.end()) return;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(H, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    TAttempt attempt = std::move(*it);
    FRacers.erase(it);
    attempt.Notifier.reset();
    if (const int code = WinsockErrorFromErrno(err)) {
        ::close(H);
        NoteFailure(attempt.Index, code);
        StartNextAttempt(false);
        return;
    }
    MakePrimary(H, attempt.Index);
    HandleNetworkEvent(FSerial, kEventConnect | kEventWrite, 0);
}

// What is reported when every address failed: the error of the last one tried.
void TCustomWSocket::NoteFailure(size_t Index, int Error) {
    if (FRaceError != 0 && Index < FRaceErrorIndex) return;
    FRaceError = Error;
    FRaceErrorIndex = Index;
}

void TCustomWSocket::EndRace() {
    FRaceTimer->stop();
    for (TAttempt& attempt : FRacers) {
        attempt.Notifier.reset();
        ::close(attempt.Handle);
    }
    FRacers.clear();
}
