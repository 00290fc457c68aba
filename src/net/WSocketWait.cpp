// The blocking operations of TCustomWSocket: Wait, ReadLine, Flush and WaitForClose. Each
// runs the event loop while it waits, blocking in it rather than polling, so a wait costs no
// CPU; any handler inside may close or destroy the socket, which ends the wait.

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

#include "platform/MessagePump.h"
#include "platform/ModalWait.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>

namespace {

// The longest line ReadLine stores; the byte that fills it ends the line.
constexpr size_t kMaxLine = 254;
// How long one pass of a wait loop may block when nothing happens.
constexpr int kPassMs = 100;

// Runs its action when the scope ends, however it ends.
template <class Fn> class AtExit {
  public:
    explicit AtExit(Fn fn) : fn_(std::move(fn)) {}
    ~AtExit() { fn_(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

  private:
    Fn fn_;
};

// The MultiThreaded wait: the thread's own events until Done holds or the deadline passes.
template <class Done>
void PumpUntil(const QPointer<TCustomWSocket>& Self, Done done, QDeadlineTimer Deadline) {
    while (Self && !done() && !Deadline.hasExpired()) {
        const qint64 left = Deadline.remainingTime();
        platform::WaitForMessages(left < 0 ? kPassMs
                                           : static_cast<int>(std::min<qint64>(left, kPassMs)));
    }
}

QDeadlineTimer SecondsFromNow(int Seconds) {
    return QDeadlineTimer(std::max<qint64>(Seconds, 0) * 1000);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Hooks of the event-driven side

void TCustomWSocket::ResetLineRead() {
    FLineRead = std::make_shared<TLineRead>();
}

void TCustomWSocket::StopWaitCtrl() {
    if (!FMultiThreaded && FWaitCtrl && FWaitCtrl->Running()) FWaitCtrl->Stop();
}

void TCustomWSocket::EndLineRead() {
    FLineRead->InProgress = false;
    StopWaitCtrl();
}

// A failed connection also ends a wait for one.
void TCustomWSocket::WaitStateReached(TSocketState NewState) {
    if (NewState == FWaitForState || (FWaitForState == wsConnected && NewState == wsClosed))
        StopWaitCtrl();
}

void TCustomWSocket::EndBlockingWaits() {
    FLineRead->InProgress = false;
    if (FCountDowns > 0) StopWaitCtrl();
}

// ---------------------------------------------------------------------------------------
// Line reading

// Takes the bytes that wait, one at a time, until the line is complete; stops short of the
// byte after it.
void TCustomWSocket::ReadLineStep() {
    const std::shared_ptr<TLineRead> line = FLineRead;
    QPointer<TCustomWSocket> self(this);
    while (line->InProgress) {
        if (FHSocket == INVALID_SOCKET) {
            EndLineRead();
            return;
        }
        int waiting = 0;
        if (FState == wsConnected && ioctl(FHSocket, FIONREAD, &waiting) < 0) {
            line->InProgress = false;
            SocketError("ioctlSocket", LastNetError());
            return;
        }
        if (waiting <= 0) {
            // The next readable event goes on with the line; it must not be held back.
            ReadStarts();
            return;
        }
        char c = 0;
        const int got = Receive(&c, 1);
        if (got == 1) {
            if (c != '\r' && c != '\n') line->Line += c;
            if (line->Line.size() >= kMaxLine) {
                if (auto handler = OnLineTooLong) handler(this);
                if (!self) return;
                c = '\n';
            }
            if (c == '\n') EndLineRead();
            continue;
        }
        const int err = got == 0 ? 0 : FLastError;
        if (err == wsaWouldBlock) return;
        if (err == 0 || err == wsaConnectionReset) {
            EndLineRead();
            if (self) Close();
            return;
        }
        SocketError("ReadLine", err);
        return;
    }
}

// Runs WaitCtrl for Timeout seconds, shown, until it is stopped or runs out.
void TCustomWSocket::CountDown(int Timeout) {
    QPointer<TCustomWSocket> self(this);
    QPointer<TWait> wait = FWaitCtrl;
    wait->SetCaption(std::to_string(Timeout));
    wait->SetVisible(true);
    ++FCountDowns;
    AtExit done([&] {
        if (self) --FCountDowns;
        if (wait) wait->SetVisible(false);
    });
    wait->WaitForIt();
}

bool TCustomWSocket::Wait(int Timeout, TSocketState State) {
    if (FState == State) return true;
    if (!FMultiThreaded && !FWaitCtrl) {
        SocketError("TWSocket.Wait", wsaNoData);
        return false;
    }
    QPointer<TCustomWSocket> self(this);
    const TSocketState outer = std::exchange(FWaitForState, State);
    AtExit restore([&] {
        if (self) FWaitForState = outer;
    });
    if (FMultiThreaded)
        PumpUntil(
            self, [&] { return FState == State; }, SecondsFromNow(Timeout));
    else
        CountDown(Timeout);
    return self && FState == State;
}

void TCustomWSocket::ReadLine(int Timeout, std::string& Buffer) {
    if (!FMultiThreaded && !FWaitCtrl) {
        RaiseOrReport("No wait object assigned");
        return;
    }
    if (!FLineRead->InProgress) {
        FLineRead->Line.clear();
        FLineRead->InProgress = true;
    }
    const std::shared_ptr<TLineRead> line = FLineRead;
    // A line read never outlives its ReadLine: after a time-out or an error the caller has
    // the part read so far, and what arrives later goes to the next reader instead of being
    // taken into a line nobody collects.
    AtExit end([&] { line->InProgress = false; });
    QPointer<TCustomWSocket> self(this);
    ReadLineStep();
    if (self && line->InProgress) {
        if (FMultiThreaded)
            PumpUntil(
                self, [&] { return !line->InProgress; }, SecondsFromNow(Timeout));
        else
            CountDown(Timeout);
    }
    Buffer = line->Line;
}

// ---------------------------------------------------------------------------------------
// Flush and WaitForClose

void TCustomWSocket::Flush() {
    QPointer<TCustomWSocket> self(this);
    const auto sending = [&] { return self && !FAllSent && FHSocket != INVALID_SOCKET; };
    if (FMultiThreaded) {
        while (sending()) {
            TryToSend();
            if (sending()) platform::WaitForMessages(kPassMs);
        }
        return;
    }
    if (!FWaitCtrl) {
        RaiseOrReport("No wait object assigned");
        return;
    }
    QPointer<TWait> wait = FWaitCtrl;
    wait->SetCaption(std::to_string(FFlushTimeout));
    wait->SetVisible(true);
    wait->Start();
    // A countdown that ran out stays at ModalResult 2, so the caller can tell a time-out
    // from a completed flush.
    AtExit done([&] {
        if (!wait) return;
        if (wait->Running()) wait->Stop();
        if (wait) wait->SetVisible(false);
    });
    while (sending() && wait && wait->Running()) {
        TryToSend();
        // Blocks until the platform takes more, the countdown ticks, or anything else.
        if (sending()) platform::WaitForMessages(kPassMs);
    }
}

void TCustomWSocket::WaitForClose() {
    QPointer<TCustomWSocket> self(this);
    const auto open = [&] { return self && FHSocket != INVALID_SOCKET && FState != wsClosed; };
    while (open()) {
        platform::WaitForMessages(kPassMs);
        if (!open()) return;
        int waiting = 0;
        if (ioctl(FHSocket, FIONREAD, &waiting) < 0) return;
        if (waiting > 0) {
            if (FLineRead->InProgress)
                ReadLineStep();
            else
                TriggerDataAvailable(0);
            if (!open()) return;
        }
        // Nothing waiting (would block) or the peer's orderly close (whose close event the
        // loop delivers) keep waiting; a failed connection ends it.
        char probe;
        if (recv(FHSocket, &probe, 1, MSG_PEEK) < 0 && LastNetError() != wsaWouldBlock) return;
        platform::ProcessMessages();
    }
}
