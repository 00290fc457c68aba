// Opening and closing connections of TCustomWSocket, and the address queries.

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

#include "platform/ErrorReport.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>

// ---------------------------------------------------------------------------------------
// Connecting

void TCustomWSocket::Connect() {
    if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
        RaiseOrReport("Connect: Socket already in use");
        return;
    }
    if (!FPortAssigned) {
        RaiseOrReport("Connect: No Port Specified");
        return;
    }
    if (!FAddrAssigned) {
        RaiseOrReport("Connect: No IP Address Specified");
        return;
    }
    if (!FProtoAssigned) {
        RaiseOrReport("Connect: No Protocol Specified");
        return;
    }
    ResolveAddr();
    DeleteBufferedData();
    FNextCandidate = 1;
    FPrimaryIndex = 0;
    FRaceError = 0;
    FRaceErrorIndex = 0;
    const int h = socket(FSin.Family(), FType | SOCK_CLOEXEC | SOCK_NONBLOCK, FProto);
    if (h < 0) {
        SocketError("Connect (socket)", LastNetError());
        return;
    }
    AdoptHandle(h);
    const uint64_t serial = FSerial;
    QPointer<TCustomWSocket> self(this);
    const auto gone = [&] { return !self || !StillCurrent(serial); };

    ChangeState(wsOpened);
    if (gone()) return;
    const int on = 1;
    if (FType == SOCK_DGRAM) {
        BindSocket();
        if (gone()) return;
        if (AddrText(FSin.Raw()) == "255.255.255.255" &&
            setsockopt(h, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
            SocketError("setsockopt(SO_BROADCAST)", LastNetError());
            if (gone()) return;
        }
        ChangeState(wsConnected);
        if (gone()) return;
        TriggerSessionConnected(0);
        return;
    }
    SetLingerOption();
    if (gone()) return;
    if (setsockopt(h, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) < 0) {
        SocketError("setsockopt(SO_KEEPALIVE)", LastNetError());
        if (gone()) return;
    }
    if (setsockopt(h, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
        SocketError("setsockopt(SO_REUSEADDR)", LastNetError());
        if (gone()) return;
    }
    if (::connect(h, FSin.Raw(), FSin.Len) < 0) {
        const int err = LastNetError();
        // Here a refusal can come back at once; the outcome still arrives from the event
        // loop, as it always does: the connect event, or the next address tried.
        if (TurnedDownAtOnce(err)) {
            FConnectPosted = true; // the descriptor has nothing more to say about it
            ChangeState(wsConnecting);
            if (gone()) return;
            QMetaObject::invokeMethod(
                this,
                [this, serial, err] { platform::Guarded([&] { PrimaryFailed(serial, err); }); },
                Qt::QueuedConnection);
            return;
        }
        if (err != wsaWouldBlock && err != wsaInProgress) {
            SocketError("Connect", err);
            return;
        }
    }
    ChangeState(wsConnecting);
    if (gone()) return;
    if (FNextCandidate < FCandidates.size()) FRaceTimer->start();
}

bool TCustomWSocket::TurnedDownAtOnce(int Error) {
    return Error == wsaConnectionRefused || Error == wsaTimedOut || Error == wsaConnectionReset ||
           Error == wsaNetUnreachable || Error == wsaHostUnreachable || Error == wsaAddrNotAvail;
}

void TCustomWSocket::BindSocket() {
    const TSockAddr local = AnyAddr(FSin.Family());
    if (bind(FHSocket, local.Raw(), local.Len) < 0) {
        FLastError = LastNetError();
        RaiseOrReport("winsock.bind failed, error #" + std::to_string(FLastError));
    }
}

// ---------------------------------------------------------------------------------------
// Listening and accepting

int TCustomWSocket::Listen() {
    if (!FPortAssigned) {
        SocketError("listen: port not assigned", wsaInvalidArgument);
        return -1;
    }
    if (!FProtoAssigned) {
        SocketError("listen: protocol not assigned", wsaInvalidArgument);
        return -1;
    }
    if (!FAddrAssigned) {
        SocketError("listen: address not assigned", wsaInvalidArgument);
        return -1;
    }
    ResolveAddr();
    DeleteBufferedData();
    // IPv4 or IPv6 as the address is.
    const int h = socket(FSin.Family(), FType | SOCK_CLOEXEC | SOCK_NONBLOCK, FProto);
    if (h < 0) {
        SocketError("socket", LastNetError());
        return -1;
    }
    AdoptHandle(h);
    if (bind(h, FSin.Raw(), FSin.Len) < 0) {
        const int err = LastNetError();
        // Nothing was opened as far as the state goes, so the handle is dropped quietly.
        CloseHandleAndNotifiers();
        SocketError("Bind", err);
        return -1;
    }
    const uint64_t serial = FSerial;
    QPointer<TCustomWSocket> self(this);
    const auto gone = [&] { return !self || !StillCurrent(serial); };
    ChangeState(wsBound);
    if (gone()) return -1;
    if (FType == SOCK_DGRAM) {
        ChangeState(wsListening);
        if (gone()) return -1;
        ChangeState(wsConnected);
        if (gone()) return -1;
        TriggerSessionConnected(0);
        return 0;
    }
    if (listen(h, 5) < 0) {
        SocketError("Listen", LastNetError());
        return -1;
    }
    ChangeState(wsListening);
    return 0;
}

TSocketHandle TCustomWSocket::Accept() {
    if (FState != wsListening) {
        SocketError("not a listening socket", wsaInvalidArgument);
        return -1;
    }
    if (FReadHeld) {
        FReadHeld = false;
        UpdateNotifiers();
    }
    TSockAddr peer;
    peer.Len = sizeof peer.Storage;
    const int h = accept4(FHSocket, peer.Raw(), &peer.Len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (h < 0) {
        SocketError("Accept", LastNetError());
        return -1;
    }
    FSin = peer;
    return h;
}

void TCustomWSocket::Dup(TSocketHandle NewHSocket) {
    if (NewHSocket == 0 || NewHSocket == INVALID_SOCKET) {
        SocketError("Dup", wsaInvalidArgument);
        return;
    }
    QPointer<TCustomWSocket> self(this);
    if (FState != wsClosed) {
        FReadNotifier.reset();
        FWriteNotifier.reset();
        if (FHSocket != INVALID_SOCKET && ::close(FHSocket) < 0) {
            SocketError("Dup (closesocket)", LastNetError());
            return;
        }
        FHSocket = INVALID_SOCKET;
        ChangeState(wsClosed);
        if (!self) return;
    }
    AdoptHandle(NewHSocket);
    const uint64_t serial = FSerial;
    SetLingerOption();
    if (!self || !StillCurrent(serial)) return;
    ChangeState(wsConnected);
}

// ---------------------------------------------------------------------------------------
// Closing

void TCustomWSocket::ApplyLinger(bool On, int Seconds) {
    const linger value{On ? 1 : 0, Seconds & 0xFFFF};
    if (setsockopt(FHSocket, SOL_SOCKET, SO_LINGER, &value, sizeof value) < 0)
        SocketError("setsockopt(SO_LINGER)", LastNetError());
}

void TCustomWSocket::SetLingerOption() {
    if (FLingerOnOff == wsLingerNoSet) return;
    if (FHSocket == INVALID_SOCKET) {
        RaiseOrReport("Cannot set linger option at this time");
        return;
    }
    // Lingering for zero seconds resets the connection on close here, throwing away what
    // the peer has not received yet; an orderly close must deliver it, so that setting
    // means no lingering. Abort asks for the reset itself.
    ApplyLinger(FLingerOnOff == wsLingerOn && FLingerTimeout > 0, FLingerTimeout);
}

void TCustomWSocket::Close() {
    InternalClose(true);
}

void TCustomWSocket::Abort() {
    QPointer<TCustomWSocket> self(this);
    CancelDnsLookup();
    if (!self) return;
    DeleteBufferedData();
    if (FState == wsConnected && FHSocket != INVALID_SOCKET) {
        // A hard close: unsent data is dropped and the peer sees a reset.
        FLingerOnOff = wsLingerOff;
        ApplyLinger(true, 0);
        if (!self) return;
    }
    InternalClose(false);
}

void TCustomWSocket::InternalClose(bool Shut) {
    QPointer<TCustomWSocket> self(this);
    if (FHSocket == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            if (!self) return;
            AssignDefaultValue();
        }
        return;
    }
    if (FState == wsClosed) return;
    if (Shut) ::shutdown(FHSocket, SHUT_RDWR);
    // The descriptor is released even when close reports an error, so it is never retried.
    FReadNotifier.reset();
    FWriteNotifier.reset();
    const int result = ::close(FHSocket);
    const int err = LastNetError();
    FHSocket = INVALID_SOCKET;
    ++FSerial;
    if (result < 0 && err != wsaInterrupted) {
        SocketError("Disconnect (closesocket)", err);
        return;
    }
    const uint64_t serial = FSerial;
    ChangeState(wsClosed);
    if (!self) return;
    if (!FDestroying && !FCloseReported && OnSessionClosed) {
        FCloseReported = true;
        TriggerSessionClosed(0);
        if (!self) return;
    }
    // A handler that already opened the next connection keeps it.
    if (FSerial == serial) AssignDefaultValue();
}

void TCustomWSocket::Shutdown(int How) {
    if (FHSocket != INVALID_SOCKET) ::shutdown(FHSocket, How);
}

int TCustomWSocket::Pause() {
    FPaused = true;
    UpdateNotifiers();
    return 0;
}

int TCustomWSocket::Resume() {
    FPaused = false;
    UpdateNotifiers();
    return 0;
}

// ---------------------------------------------------------------------------------------
// Addresses

std::string TCustomWSocket::GetPeerAddr() {
    TSockAddr peer;
    peer.Len = sizeof peer.Storage;
    if (FState != wsConnected || getpeername(FHSocket, peer.Raw(), &peer.Len) < 0) return "error";
    return AddrText(peer.Raw());
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name, int& NameLen) {
    if (FState != wsConnected) return -1;
    socklen_t len = static_cast<socklen_t>(std::max(NameLen, 0));
    if (getpeername(FHSocket, reinterpret_cast<sockaddr*>(&Name), &len) < 0) {
        SocketError("GetPeerName", LastNetError());
        return -1;
    }
    NameLen = static_cast<int>(len);
    return 0;
}

std::string TCustomWSocket::GetLocalPort() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
    TSockAddr local;
    local.Len = sizeof local.Storage;
    if (getsockname(FHSocket, local.Raw(), &local.Len) < 0) return "error";
    return std::to_string(local.Port());
}

int TCustomWSocket::GetSockName(sockaddr_in& saddr, int& saddrlen) {
    return GetSockName(reinterpret_cast<sockaddr_storage&>(saddr), saddrlen);
}

int TCustomWSocket::GetSockName(sockaddr_storage& saddr, int& saddrlen) {
    socklen_t len = static_cast<socklen_t>(std::max(saddrlen, 0));
    if (getsockname(FHSocket, reinterpret_cast<sockaddr*>(&saddr), &len) < 0) {
        FLastError = FHSocket == INVALID_SOCKET ? wsaNotSocket : LastNetError();
        return -1;
    }
    saddrlen = static_cast<int>(len);
    return 0;
}
