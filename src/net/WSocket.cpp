#include "net/WSocket.h"
#include "net/HostLookup.h"
#include "net/WinsockErrors.h"

#include "platform/ErrorReport.h"
#include "platform/Trim.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// RFC 8305's connection attempt delay.
constexpr int kNextAttemptDelayMs = 250;

// Blanks and control characters go from both ends.
bool StartsWithDigit(const std::string& s) {
    return !s.empty() && s[0] >= '0' && s[0] <= '9';
}

// Reads the leading decimal digits; false when the number does not fit in Limit.
bool LeadingNumber(const std::string& s, long Limit, long& Value) {
    Value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        Value = Value * 10 + (c - '0');
        if (Value > Limit) return false;
    }
    return true;
}

// A numeric address in its canonical text; none for a host name.
std::optional<std::string> NumericText(const std::string& Text) {
    const std::optional<TSockAddr> a = NumericAddr(Text);
    if (!a) return std::nullopt;
    return AddrText(a->Raw());
}

} // namespace

// ---------------------------------------------------------------------------------------
// TBuffer

TBuffer::TBuffer(int Size) {
    SetBufSize(Size);
}

void TBuffer::SetBufSize(int Size) {
    if (Size <= 0) Size = 1514;
    FBuf.resize(static_cast<size_t>(Size));
    FWrCount = std::min(FWrCount, Size);
    FRdCount = std::min(FRdCount, FWrCount);
}

int TBuffer::Write(const void* Data, int Len) {
    const int n = std::min(Len, BufSize() - FWrCount);
    if (n <= 0) return 0;
    std::memcpy(FBuf.data() + FWrCount, Data, static_cast<size_t>(n));
    FWrCount += n;
    return n;
}

const char* TBuffer::Peek(int& Len) const {
    Len = FWrCount - FRdCount;
    return Len > 0 ? FBuf.data() + FRdCount : nullptr;
}

void TBuffer::Remove(int N) {
    FRdCount += std::clamp(N, 0, FWrCount - FRdCount);
    if (FRdCount >= FWrCount) FRdCount = FWrCount = 0;
}

// ---------------------------------------------------------------------------------------
// Construction, properties

void TCustomWSocket::NotifierDeleter::operator()(QSocketNotifier* N) const {
    // Deferred: the notifier may be the one whose signal is running right now.
    N->setEnabled(false);
    N->disconnect();
    N->deleteLater();
}

TCustomWSocket::TCustomWSocket(QObject* Owner) : QObject(Owner), FRaceTimer(new QTimer(this)) {
    FRaceTimer->setSingleShot(true);
    FRaceTimer->setInterval(kNextAttemptDelayMs);
    connect(FRaceTimer, &QTimer::timeout, this, [this] {
        platform::Guarded([this] {
            if (FState == wsConnecting) StartNextAttempt(false);
        });
    });
    AssignDefaultValue();
}

TCustomWSocket::~TCustomWSocket() {
    FDestroying = true;
    EndBlockingWaits();
    // No events from here: the owner's handlers may belong to an object being destroyed.
    EndRace();
    CloseHandleAndNotifiers();
}

void TCustomWSocket::AssignDefaultValue() {
    FSin = AnyAddr(AF_INET);
    FAddrList.clear();
    FPortAssigned = false;
    FAddrAssigned = false;
    FAddrResolved = false;
    FProtoAssigned = true;
    FProto = IPPROTO_TCP;
    FProtoStr = "tcp";
    FType = SOCK_STREAM;
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FHSocket = INVALID_SOCKET;
    FState = wsClosed;
    FAllSent = true;
    FWritePending = false;
    FPaused = false;
    FReadHeld = false;
    FReadCount = 0;
    FCloseReported = false;
    FFlushTimeout = 60;
    FWaitForState = wsInvalidState;
    ResetLineRead();
}

void TCustomWSocket::SetAddr(const std::string& Value) {
    if (FAddrAssigned && Value == FAddrStr && FAddrList.empty()) return;
    FAddrStr = Value;
    FAddrList.clear();
    if (platform::Trimmed(Value).empty()) {
        FAddrAssigned = false;
        return;
    }
    if (FState != wsClosed) {
        RaiseOrReport("Cannot change Addr if not closed");
        return;
    }
    FAddrAssigned = true;
    FAddrResolved = false;
}

// Shared by SetPort and SetProto: stores the text and, while the socket is closed, converts
// it: a leading digit means a number up to Limit, anything else is asked of Lookup. True
// with Number set when there is a value to take; an empty text clears Assigned, and so does
// a text that does not convert, which is reported as Failure followed by the text and "'".
template <class LookupFn>
bool TCustomWSocket::ConvertSetting(const std::string& Value, std::string& Stored, bool& Assigned,
                                    const std::string& Name, long Limit, const std::string& Failure,
                                    LookupFn Lookup, long& Number) {
    if (Assigned && Value == Stored) return false;
    Stored = Value;
    if (FState != wsClosed) {
        RaiseOrReport("Cannot change " + Name + " if not closed");
        return false;
    }
    const std::string text = platform::Trimmed(Value);
    Assigned = false;
    if (text.empty()) return false;
    Number = 0;
    const bool found =
        StartsWithDigit(text) ? LeadingNumber(text, Limit, Number) : Lookup(text, Number);
    if (!found) {
        SocketError(Failure + text + "'", wsaNoData);
        return false;
    }
    Assigned = true;
    return true;
}

void TCustomWSocket::SetAddrList(const std::vector<std::string>& List) {
    if (List.empty()) return SetAddr("");
    SetAddr(List.front());
    if (FAddrAssigned) FAddrList = List;
}

void TCustomWSocket::SetPort(const std::string& Value) {
    long port = 0;
    const auto service = [this](const std::string& text, long& number) {
        const std::string proto = platform::Trimmed(FProtoStr);
        const servent* se = getservbyname(text.c_str(), proto.empty() ? nullptr : proto.c_str());
        if (se) number = ntohs(static_cast<uint16_t>(se->s_port));
        return se != nullptr;
    };
    if (ConvertSetting(Value, FPortStr, FPortAssigned, "Port", 65535,
                       "SetPort: Cannot convert port '", service, port))
        FPortNumber = static_cast<uint16_t>(port);
}

void TCustomWSocket::SetProto(const std::string& Value) {
    long number = 0;
    const auto protocol = [](const std::string& text, long& found) {
        const protoent* pe = getprotobyname(text.c_str());
        if (pe) found = pe->p_proto;
        return pe != nullptr;
    };
    if (ConvertSetting(Value, FProtoStr, FProtoAssigned, "Proto", 255,
                       "SetProto: Cannot convert protocol '", protocol, number)) {
        FProto = static_cast<int>(number);
        FType = FProto == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
    if (Value != wsSendNormal && Value != wsSendUrgent) {
        RaiseOrReport("Invalid SendFlags");
        return;
    }
    FSendFlags = Value;
}

int32_t TCustomWSocket::RcvdCount() {
    int count = 0;
    if (FHSocket == INVALID_SOCKET) {
        SocketError("ioctlSocket", wsaNotSocket);
        return -1;
    }
    if (ioctl(FHSocket, FIONREAD, &count) < 0) {
        SocketError("ioctlSocket", LastNetError());
        return -1;
    }
    return count;
}

// ---------------------------------------------------------------------------------------
// Event triggers: each copies its handler first, since a handler may replace itself.

bool TCustomWSocket::TriggerDataAvailable(uint16_t Error) {
    if (!OnDataAvailable) return false;
    auto handler = OnDataAvailable;
    handler(this, Error);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(uint16_t Error) {
    if (auto handler = OnSessionAvailable) handler(this, Error);
}

void TCustomWSocket::TriggerSessionConnected(uint16_t Error) {
    if (auto handler = OnSessionConnected) handler(this, Error);
}

void TCustomWSocket::TriggerSessionClosed(uint16_t Error) {
    if (auto handler = OnSessionClosed) handler(this, Error);
}

void TCustomWSocket::TriggerDataSent(uint16_t Error) {
    if (auto handler = OnDataSent) handler(this, Error);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
    if (auto handler = OnChangeState) handler(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(uint16_t Error) {
    if (auto handler = OnDnsLookupDone) handler(this, Error);
}

void TCustomWSocket::TriggerError() {
    if (auto handler = OnError) handler(this);
}

// ---------------------------------------------------------------------------------------
// Reporting

void TCustomWSocket::ChangeState(TSocketState NewState) {
    const TSocketState old = FState;
    FState = NewState;
    // The race of a stream connect ends with its outcome, or with a close before it.
    if (NewState != wsConnecting && NewState != wsOpened) EndRace();
    UpdateNotifiers();
    QPointer<TCustomWSocket> self(this);
    TriggerChangeState(old, NewState);
    if (self) WaitStateReached(NewState);
}

void TCustomWSocket::SocketError(const std::string& Fn, int ErrCode) {
    const std::string msg = "Error " + std::to_string(ErrCode) + " in function " + Fn + "\r\n" +
                            WinsockErrorDesc(ErrCode);
    if (ErrCode == wsaConnectionReset || ErrCode == wsaNotConnected) {
        // The connection is gone: drop the handle now, without the close event.
        QPointer<TCustomWSocket> self(this);
        const bool hadHandle = FHSocket != INVALID_SOCKET;
        CloseHandleAndNotifiers();
        if (hadHandle || FState != wsClosed) ChangeState(wsClosed);
        if (!self) return;
    }
    FLastError = ErrCode;
    RaiseOrReport(msg);
}

void TCustomWSocket::RaiseOrReport(const std::string& Msg) {
    if (OnError)
        TriggerError();
    else
        throw ESocketException(Msg);
}

// ---------------------------------------------------------------------------------------
// Name lookups

// Common start of both lookups: an empty name is refused, and a pending lookup is replaced
// without an event. False when there is nothing to look up.
bool TCustomWSocket::BeginLookup(const std::string& Name) {
    if (Name.empty()) {
        RaiseOrReport("DNS lookup: invalid host name.");
        TriggerDnsLookupDone(wsaInvalidArgument);
        return false;
    }
    FDnsPending = false;
    FDnsResult.clear();
    FDnsResultList.clear();
    return true;
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    if (!BeginLookup(HostName)) return;
    if (const std::optional<std::string> numeric = NumericText(HostName)) {
        FDnsResult = *numeric;
        TriggerDnsLookupDone(0);
        return;
    }
    StartLookup(HostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
    if (!BeginLookup(HostAddr)) return;
    StartLookup(NumericText(HostAddr).value_or("255.255.255.255"), true);
}

// The answer always comes from the event loop, and never to a socket that is gone. A lookup
// that is cancelled or replaced is not aborted in the resolver (that leaks the callback
// there); its answer is recognised as stale and dropped. The answer goes to a slot named by
// its signature: a callback object handed to the resolver is never freed when its socket is
// destroyed before the answer.
void TCustomWSocket::StartLookup(const std::string& Query, bool Reverse) {
    FDnsQuery = Query;
    FDnsReverse = Reverse;
    FDnsLookupId =
        StartHostLookup(QString::fromStdString(Query), this, SLOT(HostLookedUp(QHostInfo)));
    FDnsPending = true;
}

void TCustomWSocket::HostLookedUp(const QHostInfo& Info) {
    platform::Guarded([&] { LookupAnswered(Info); });
}

void TCustomWSocket::LookupAnswered(const QHostInfo& Info) {
    if (!FDnsPending || Info.lookupId() != FDnsLookupId) return;
    FDnsPending = false;
    uint16_t error = 0;
    if (FDnsReverse) {
        // Without a name the platform answers with the address itself.
        const std::string name = Info.hostName().toStdString();
        if (Info.error() != QHostInfo::NoError || name.empty() || name == FDnsQuery) {
            error = wsaHostNotFound;
        } else {
            FDnsResult = name;
            FDnsResultList.push_back(name);
        }
    } else if (Info.error() == QHostInfo::HostNotFound) {
        error = wsaHostNotFound;
    } else if (Info.error() != QHostInfo::NoError) {
        error = wsaTryAgain;
    } else {
        // Both families, in the order the name service gave them (RFC 6724).
        for (const QHostAddress& address : Info.addresses())
            FDnsResultList.push_back(address.toString().toStdString());
        if (FDnsResultList.empty())
            error = wsaNoData;
        else
            FDnsResult = FDnsResultList.front();
    }
    TriggerDnsLookupDone(error);
}

void TCustomWSocket::CancelDnsLookup() {
    if (!FDnsPending) return;
    FDnsPending = false;
    if (!FDestroying) TriggerDnsLookupDone(wsaInterrupted);
}
