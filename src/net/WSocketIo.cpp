// Data transfer of TCustomWSocket: sending, receiving, and the mapping of the platform's
// readiness onto the connect/read/write/accept/close events.

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

#include "platform/ErrorReport.h"

#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {} // namespace

// ---------------------------------------------------------------------------------------
// Handle and notifiers

void TCustomWSocket::AdoptHandle(TSocketHandle H) {
    // A handle still held (a second Listen, or a Dup whose set-up failed) would otherwise
    // stay open for the life of the program.
    if (FHSocket != INVALID_SOCKET && FHSocket != H) CloseHandleAndNotifiers();
    FHSocket = H;
    ++FSerial;
    const int flags = fcntl(H, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(H, F_SETFL, flags | O_NONBLOCK);
    FReadHeld = false;
    FWritePending = false;
    FConnectPosted = false;
    FCloseReported = false; // a new connection, reported afresh
    FReadNotifier.reset(new QSocketNotifier(H, QSocketNotifier::Read));
    FWriteNotifier.reset(new QSocketNotifier(H, QSocketNotifier::Write));
    FReadNotifier->setEnabled(false);
    FWriteNotifier->setEnabled(false);
    connect(FReadNotifier.get(), &QSocketNotifier::activated, this,
            [this] { platform::Guarded([this] { OnReadReady(); }); });
    connect(FWriteNotifier.get(), &QSocketNotifier::activated, this,
            [this] { platform::Guarded([this] { OnWriteReady(); }); });
}

void TCustomWSocket::CloseHandleAndNotifiers() {
    // Notifiers go first: a notifier must never watch a closed descriptor.
    FReadNotifier.reset();
    FWriteNotifier.reset();
    if (FHSocket == INVALID_SOCKET) return;
    ::close(FHSocket);
    FHSocket = INVALID_SOCKET;
    ++FSerial;
}

// Readiness is watched only while an event can follow from it: reads and accepts on an open
// connection or listener, writes while connecting or while a send waits for room. An idle
// socket therefore never wakes the loop.
void TCustomWSocket::UpdateNotifiers() {
    if (!FReadNotifier) return;
    const bool live = FHSocket != INVALID_SOCKET && !FPaused;
    FReadNotifier->setEnabled(live && !FReadHeld &&
                              (FState == wsConnected || FState == wsListening));
    FWriteNotifier->setEnabled(live && ((FState == wsConnecting && !FConnectPosted) ||
                                        (FState == wsConnected && FWritePending)));
}

bool TCustomWSocket::StillCurrent(uint64_t Serial) const {
    return Serial == FSerial && FHSocket != INVALID_SOCKET;
}

void TCustomWSocket::OnReadReady() {
    if (FReadHeld) {
        // Reached from an event loop nested in a handler that has not read yet.
        UpdateNotifiers();
        return;
    }
    const uint64_t serial = FSerial;
    if (FState == wsListening && FType == SOCK_STREAM) {
        HandleNetworkEvent(serial, kEventAccept, 0);
        return;
    }
    if (FType == SOCK_DGRAM) {
        HandleNetworkEvent(serial, kEventRead, 0);
        return;
    }
    int waiting = 0;
    if (ioctl(FHSocket, FIONREAD, &waiting) == 0 && waiting > 0) {
        HandleNetworkEvent(serial, kEventRead, 0);
        return;
    }
    // Readable with nothing queued: the peer closed (0) or reset the connection (error).
    char probe;
    const ssize_t r = recv(FHSocket, &probe, 1, MSG_PEEK);
    const int err = r < 0 ? LastNetError() : 0;
    if (r > 0)
        HandleNetworkEvent(serial, kEventRead, 0);
    else if (err != wsaWouldBlock)
        HandleNetworkEvent(serial, kEventClose, err);
}

void TCustomWSocket::OnWriteReady() {
    const uint64_t serial = FSerial;
    if (FState == wsConnecting) {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(FHSocket, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
        const int code = WinsockErrorFromErrno(err);
        if (code != 0) return PrimaryFailed(serial, code);
        HandleNetworkEvent(serial, kEventConnect | kEventWrite, 0);
        return;
    }
    FWritePending = false;
    UpdateNotifiers();
    HandleNetworkEvent(serial, kEventWrite, 0);
}

// Sends made before the loop gets round to the first one share its event: one OnDataSent
// follows for all of them, once the queue is empty.
void TCustomWSocket::PostWriteEvent() {
    const uint64_t serial = FSerial;
    if (FWriteEventSerial == serial) return;
    FWriteEventSerial = serial;
    QMetaObject::invokeMethod(
        this,
        [this, serial] {
            if (FWriteEventSerial == serial) FWriteEventSerial = 0;
            platform::Guarded([this, serial] { HandleNetworkEvent(serial, kEventWrite, 0); });
        },
        Qt::QueuedConnection);
}

// One network event: its parts run in a fixed order, and any handler may close or destroy
// the socket, after which nothing more of the event is delivered.
void TCustomWSocket::HandleNetworkEvent(uint64_t Serial, int Events, int Error) {
    if (!StillCurrent(Serial) || FPaused) return;
    QPointer<TCustomWSocket> self(this);
    const auto gone = [&] { return !self || !StillCurrent(Serial); };
    const auto error = static_cast<uint16_t>(Error);

    if (Events & kEventConnect) {
        // A connection that failed has nothing to read, and its close follows the handler:
        // a handler that runs the event loop must not get read or close events first.
        if (Error != 0) FReadHeld = true;
        ChangeState(wsConnected);
        if (gone()) return;
        TriggerSessionConnected(error);
        if (gone()) return;
        if (Error != 0) {
            if (FState != wsClosed) Close();
            return;
        }
    }
    if (Events & kEventRead) {
        ReceiveLoop(error);
        if (gone()) return;
    }
    if (Events & kEventWrite) {
        TryToSend();
        if (gone()) return;
        if (FAllSent && OnDataSent) TriggerDataSent(error);
        if (gone()) return;
    }
    if (Events & kEventAccept) {
        // Like the platform this maps, no further accept event until Accept is called.
        FReadHeld = true;
        TriggerSessionAvailable(error);
        if (gone()) return;
    }
    if ((Events & kEventClose) && FState != wsConnecting) {
        // Whatever the peer sent before closing is offered first; a line read ends here.
        ReceiveLoop(error);
        if (gone()) return;
        if (FLineRead->InProgress) {
            EndLineRead();
            if (gone()) return;
        }
        if (OnSessionClosed && !FCloseReported) {
            FCloseReported = true;
            TriggerSessionClosed(error);
            if (gone()) return;
        }
        if (FState != wsClosed) Close();
        return;
    }
    UpdateNotifiers();
}

// ---------------------------------------------------------------------------------------
// Receiving

// Offers the waiting data to OnDataAvailable until none is left. As on the platform this
// maps, each read event holds the next one until the handler calls Receive: a handler that
// runs a nested event loop before reading is not re-entered, and one that reads nothing
// ends the loop without making this loop or the event loop spin.
void TCustomWSocket::ReceiveLoop(uint16_t Error) {
    QPointer<TCustomWSocket> self(this);
    const uint64_t serial = FSerial;
    for (;;) {
        FLastError = 0;
        const uint64_t taken = FBytesTaken;
        FReadHeld = true;
        // A line read takes every byte that waits until its line is complete; what follows
        // the line is left for the next reader.
        const bool lineStep = FLineRead->InProgress;
        try {
            if (lineStep) {
                ReadLineStep();
            } else if (!TriggerDataAvailable(Error) && DrainUnread() < 0 &&
                       FLastError == wsaWouldBlock) {
                FLastError = 0;
                break;
            }
        } catch (...) {
            // The handler's failure ends this event; it is shown, not lost.
            platform::ReportCurrentException();
            break;
        }
        if (!self || !StillCurrent(serial)) return;
        if (FLastError != 0 || lineStep) break;
        int waiting = 0;
        if (ioctl(FHSocket, FIONREAD, &waiting) < 0) {
            FLastError = LastNetError();
            break;
        }
        if (waiting <= 0) break;
        if (FReadHeld || FBytesTaken == taken) break;
    }
    if (self) UpdateNotifiers();
}

// Data nobody asked for is read and dropped, so the connection does not stall.
int TCustomWSocket::DrainUnread() {
    FReadHeld = false;
    char scrap[1024];
    const ssize_t r = recv(FHSocket, scrap, sizeof scrap, 0);
    if (r < 0)
        FLastError = LastNetError();
    else if (r > 0)
        FBytesTaken += static_cast<uint64_t>(r);
    return static_cast<int>(r);
}

// Common to Receive and ReceiveFrom: a read releases the read event it answers, and needs a
// handle. False, with LastError set, when there is none.
bool TCustomWSocket::ReadStarts() {
    if (FReadHeld) {
        FReadHeld = false;
        UpdateNotifiers();
    }
    if (FHSocket != INVALID_SOCKET) return true;
    FLastError = wsaNotSocket;
    return false;
}

// The result of a platform read: counted when it got bytes, the error kept when it failed.
int TCustomWSocket::ReadResult(ssize_t Got) {
    if (Got < 0) {
        FLastError = LastNetError();
        return -1;
    }
    FReadCount += static_cast<int32_t>(Got);
    FBytesTaken += static_cast<uint64_t>(Got);
    return static_cast<int>(Got);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
    if (!ReadStarts()) return -1;
    return ReadResult(recv(FHSocket, Buffer, static_cast<size_t>(std::max(BufferSize, 0)), 0));
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen) {
    if (!ReadStarts()) return -1;
    socklen_t len = static_cast<socklen_t>(std::max(FromLen, 0));
    const int got =
        ReadResult(recvfrom(FHSocket, Buffer, static_cast<size_t>(std::max(BufferSize, 0)), 0,
                            reinterpret_cast<sockaddr*>(&From), &len));
    if (got >= 0) FromLen = static_cast<int>(len);
    return got;
}

// ---------------------------------------------------------------------------------------
// Sending

int TCustomWSocket::Send(const void* Data, int Len) {
    if (FState != wsConnected) {
        SocketError("Send", wsaNotConnected);
        return -1;
    }
    if (Len <= 0) return 0;
    FAllSent = false;
    auto bytes = static_cast<const char*>(Data);
    int left = Len;
    if (!FBufList.empty()) {
        const int n = FBufList.back()->Write(bytes, left);
        bytes += n;
        left -= n;
    }
    while (left > 0) {
        FBufList.push_back(std::make_unique<TBuffer>(FBufSize));
        const int n = FBufList.back()->Write(bytes, left);
        bytes += n;
        left -= n;
    }
    QPointer<TCustomWSocket> self(this);
    TryToSend();
    // OnDataSent always comes from the event loop, never from inside Send.
    if (self && FAllSent) PostWriteEvent();
    return Len;
}

int TCustomWSocket::SendStr(const std::string& Str) {
    return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::RealSend(const char* Data, int Len) {
    const int flags = MSG_NOSIGNAL | (FSendFlags == wsSendUrgent ? MSG_OOB : 0);
    if (FType == SOCK_DGRAM)
        return static_cast<int>(
            sendto(FHSocket, Data, static_cast<size_t>(Len), flags, FSin.Raw(), FSin.Len));
    return static_cast<int>(send(FHSocket, Data, static_cast<size_t>(Len), flags));
}

void TCustomWSocket::TryToSend() {
    if (FHSocket == INVALID_SOCKET || FBufList.empty()) return;
    for (;;) {
        TBuffer& chunk = *FBufList.front();
        int len = 0;
        const char* data = chunk.Peek(len);
        if (len > 0) {
            const int sent = RealSend(data, len);
            if (sent > 0) {
                chunk.Remove(sent);
                if (sent == len) continue;
                FWritePending = true;
                break;
            }
            if (sent == 0) break;
            const int err = LastNetError();
            if (err == wsaWouldBlock) {
                FWritePending = true;
                break;
            }
            if (err == wsaInvalidArgument || err == wsaNotSocket || err == wsaConnectionReset ||
                err == wsaNotConnected) {
                QPointer<TCustomWSocket> self(this);
                FCloseReported = true;
                Close();
                if (self) TriggerSessionClosed(static_cast<uint16_t>(err));
                return;
            }
            SocketError("TryToSend failed", err);
            return;
        }
        if (FBufList.size() > 1) {
            FBufList.pop_front();
            continue;
        }
        FAllSent = true;
        break;
    }
    UpdateNotifiers();
}

void TCustomWSocket::DeleteBufferedData() {
    FBufList.clear();
    FWritePending = false;
}
