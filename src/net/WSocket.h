#pragma once

// The program's one network transport: a non-blocking stream or datagram socket whose every
// network happening arrives as an event on the owning thread, through its event loop.

#include "net/SockAddr.h"
#include "net/Wait.h"
#include "net/WinsockErrors.h"
#include "platform/Exception.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/types.h>
#include <vector>

class QHostInfo;
class QSocketNotifier;
class QTimer;

// Ordinals are fixed: callers store and compare them by number.
enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// A platform socket handle (a file descriptor here).
using TSocketHandle = int;
inline constexpr TSocketHandle INVALID_SOCKET = -1;

class ESocketException : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

// One chunk of outgoing data: bytes [RdCount, WrCount) are still to be sent.
class TBuffer {
  public:
    // A size of 0 or less gives the usual Ethernet frame's worth, 1514 bytes.
    explicit TBuffer(int Size);

    int BufSize() const { return static_cast<int>(FBuf.size()); }
    // Keeps the stored bytes that still fit.
    void SetBufSize(int Size);
    int WrCount() const { return FWrCount; }
    int RdCount() const { return FRdCount; }

    // Copies as much as fits behind the stored bytes; returns the count copied (0 when full).
    int Write(const void* Data, int Len);
    // The unsent span; Len is 0 when nothing is left to send.
    const char* Peek(int& Len) const;
    // Marks N bytes as sent; once everything is sent the chunk is empty and can be refilled.
    void Remove(int N);

  private:
    std::vector<char> FBuf;
    int FWrCount = 0;
    int FRdCount = 0;
};

class TCustomWSocket;

// Every socket event receives the socket first; Error is 0 on success, else a WinSock number.
using TDataAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, uint16_t Error)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotify = std::function<void(TCustomWSocket* Sender)>;

class TCustomWSocket : public QObject {
    Q_OBJECT
  public:
    explicit TCustomWSocket(QObject* Owner = nullptr);
    ~TCustomWSocket() override;

    // Remote host (or, for Listen, the local one): dotted IPv4 address, IPv6 address or
    // host name. A name is resolved at Connect to all its addresses, tried as SetAddrList.
    const std::string& Addr() const { return FAddrStr; }
    void SetAddr(const std::string& Value);
    // Addresses (IPv4 or IPv6 text, as a lookup returned them) that a stream Connect tries in
    // this order, RFC 8305 style: the next starts when one fails or has not connected within
    // 250 ms, the first connected wins and the others are dropped; when all fail, the
    // outcome carries the error of the last address tried. Addr becomes the first; setting
    // Addr again drops the list.
    void SetAddrList(const std::vector<std::string>& List);
    // Port number or service name.
    const std::string& Port() const { return FPortStr; }
    void SetPort(const std::string& Value);
    // Protocol name or number; "tcp" by default, 17 or "udp" gives a datagram socket.
    const std::string& Proto() const { return FProtoStr; }
    void SetProto(const std::string& Value);

    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    TSocketHandle HSocket() const { return FHSocket; }
    // Size of the chunks new outgoing data is copied into, and sent from in one platform
    // call each; 1514 by default, 0 or less gives that too. Chunks already queued keep theirs.
    int BufSize() const { return FBufSize; }
    void SetBufSize(int Size) { FBufSize = Size > 0 ? Size : 1514; }
    int32_t ReadCount() const { return FReadCount; }
    // Bytes waiting in the platform's receive queue, asked now; -1 when that fails.
    int32_t RcvdCount();
    int32_t LastError() const { return FLastError; }
    // Whether everything given to Send has been handed to the platform.
    bool AllSent() const { return FAllSent; }

    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    int32_t FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(int32_t Value) { FFlushTimeout = Value; }
    TSocketSendFlags SendFlags() const { return FSendFlags; }
    void SetSendFlags(TSocketSendFlags Value);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
    int32_t LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(int32_t Value) { FLingerTimeout = Value; }
    // The countdown the blocking operations show and wait on unless MultiThreaded; cleared
    // by itself when that countdown is destroyed.
    TWait* WaitCtrl() const { return FWaitCtrl; }
    void SetWaitCtrl(TWait* Value) { FWaitCtrl = Value; }

    // Name lookups end in OnDnsLookupDone; a dotted address is answered before DnsLookup
    // returns. A second lookup replaces a pending one.
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void CancelDnsLookup();

    virtual void Connect();
    virtual void Close();
    virtual void Abort();
    // 0 receive, 1 send, 2 both.
    virtual void Shutdown(int How);
    virtual int Listen();
    virtual TSocketHandle Accept();
    virtual void Dup(TSocketHandle NewHSocket);

    // Queues Len bytes and sends what the platform takes now; OnDataSent follows from the
    // event loop once the queue is empty. Result Len, 0 for nothing, -1 on error.
    virtual int Send(const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    // Result: byte count, 0 at end of stream (or for a BufferSize of 0), -1 on error
    // (LastError holds the code).
    virtual int Receive(void* Buffer, int BufferSize);
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);

    virtual int Pause();
    virtual int Resume();

    // Blocking operations. They run the event loop while they wait, so any event, this
    // socket's own included, may run inside them; a handler may even destroy the socket,
    // which ends the wait. Timeouts are in seconds.
    // Waits until State holds or Timeout passes; whether State holds now.
    virtual bool Wait(int Timeout, TSocketState State);
    // One text line without its CR LF, at most 254 characters (a longer line is cut there
    // and OnLineTooLong fires); after a time-out, or when the connection ends, the part
    // read so far. Never reads past the end of its line.
    virtual void ReadLine(int Timeout, std::string& Buffer);
    // Until all queued data has gone to the platform, the connection is gone, or (unless
    // MultiThreaded) FlushTimeout passes; a time-out leaves WaitCtrl's ModalResult at 2.
    virtual void Flush();
    // Until the connection is closed, delivering what arrives meanwhile.
    virtual void WaitForClose();

    // Peer address as dotted IPv4 or IPv6 text, or "error".
    virtual std::string GetPeerAddr();
    virtual int GetPeerName(sockaddr_in& Name, int& NameLen);
    // Local port in decimal, or "error".
    virtual std::string GetLocalPort();
    virtual int GetSockName(sockaddr_in& saddr, int& saddrlen);
    // The local address of either family.
    int GetSockName(sockaddr_storage& saddr, int& saddrlen);

    // Fires again while data waits, so each call should Receive; until the handler does,
    // no further read event comes (nor the close event, which follows the last data).
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TSocketNotify OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    // When set, errors are reported here instead of raised; LastError holds the code.
    TSocketNotify OnError;

  protected:
    virtual void AssignDefaultValue();
    virtual void BindSocket();
    virtual int RealSend(const char* Data, int Len);
    // Raises ESocketException with Msg; with OnError set, fires that instead and returns, so
    // the caller must still leave.
    virtual void RaiseOrReport(const std::string& Msg);

    virtual bool TriggerDataAvailable(uint16_t Error);
    virtual void TriggerSessionAvailable(uint16_t Error);
    virtual void TriggerSessionConnected(uint16_t Error);
    virtual void TriggerSessionClosed(uint16_t Error);
    virtual void TriggerDataSent(uint16_t Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDnsLookupDone(uint16_t Error);
    virtual void TriggerError();

    void ChangeState(TSocketState NewState);
    // For a layer above the platform socket (TLS) that answers Receive from its own buffer.
    void SetLastError(int32_t Code) { FLastError = Code; }
    // Reports "Error N in function Fn" + CR LF + the text of N.
    void SocketError(const std::string& Fn, int ErrCode);

  private:
    enum : int {
        kEventRead = 1,
        kEventWrite = 2,
        kEventAccept = 8,
        kEventConnect = 16,
        kEventClose = 32
    };

    template <class LookupFn>
    bool ConvertSetting(const std::string& Value, std::string& Stored, bool& Assigned,
                        const std::string& Name, long Limit, const std::string& Failure,
                        LookupFn Lookup, long& Number);
    void ResolveAddr();
    // A connect that fails with this at once has ended: no event will follow on its handle.
    static bool TurnedDownAtOnce(int Error);
    void SetLingerOption();
    void InternalClose(bool Shut);
    void CloseHandleAndNotifiers();
    void AdoptHandle(TSocketHandle H);
    void UpdateNotifiers();
    void TryToSend();
    void DeleteBufferedData();
    void PostWriteEvent();
    bool BeginLookup(const std::string& Name);
    void StartLookup(const std::string& Query, bool Reverse);
    Q_SLOT void HostLookedUp(const QHostInfo& Info);
    void LookupAnswered(const QHostInfo& Info);
    void ApplyLinger(bool On, int Seconds);

    void OnReadReady();
    void OnWriteReady();
    void HandleNetworkEvent(uint64_t Serial, int Events, int Error);
    void ReceiveLoop(uint16_t Error);
    int DrainUnread();
    bool ReadStarts();
    int ReadResult(ssize_t Got);
    bool StillCurrent(uint64_t Serial) const;

    // The connection race over the addresses of SetAddrList (WSocketRace.cpp).
    int OpenAttempt(size_t Index, TSocketHandle& H);
    bool StartNextAttempt(bool AsPrimary);
    void MakePrimary(TSocketHandle H, size_t Index);
    void PrimaryFailed(uint64_t Serial, int Error);
    void RacerReady(TSocketHandle H);
    void NoteFailure(size_t Index, int Error);
    void EndRace();

    // The blocking operations' side.
    struct TLineRead {
        std::string Line;
        bool InProgress = false;
    };
    void ResetLineRead();
    void ReadLineStep();
    void EndLineRead();
    void StopWaitCtrl();
    void WaitStateReached(TSocketState NewState);
    void EndBlockingWaits();
    void CountDown(int Timeout);

    std::string FAddrStr, FPortStr, FProtoStr = "tcp";
    bool FAddrAssigned = false, FPortAssigned = false, FProtoAssigned = true;
    bool FAddrResolved = false;
    std::vector<std::string> FAddrList;
    // The address record: where the connection goes (or Listen binds, or Accept's peer).
    TSockAddr FSin;
    uint16_t FPortNumber = 0;
    int FProto = 6;
    int FType = 0;

    TSocketHandle FHSocket = INVALID_SOCKET;
    // Identifies the current handle, so events posted for an earlier one are dropped.
    uint64_t FSerial = 0;
    TSocketState FState = wsClosed;
    int32_t FReadCount = 0;
    int32_t FLastError = 0;
    bool FMultiThreaded = false;
    int32_t FFlushTimeout = 60;
    TSocketSendFlags FSendFlags = wsSendNormal;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int32_t FLingerTimeout = 0;

    std::deque<std::unique_ptr<TBuffer>> FBufList;
    int FBufSize = 1514;
    bool FAllSent = true;
    // A send could not finish: wait for the platform to report writable.
    bool FWritePending = false;
    // The connect outcome came back at once and is already on its way to the loop.
    bool FConnectPosted = false;
    // The handle whose posted write event has not been delivered yet (0: none).
    uint64_t FWriteEventSerial = 0;

    bool FDnsPending = false;
    int FDnsLookupId = 0;
    std::string FDnsQuery; // what the pending lookup asked, and whether by address
    bool FDnsReverse = false;
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;

    bool FPaused = false;
    bool FCloseReported = false;
    bool FDestroying = false;
    // A read or accept event holds the next one until Receive or Accept is called.
    bool FReadHeld = false;
    uint64_t FBytesTaken = 0; // bytes read, discarded ones included

    struct NotifierDeleter {
        void operator()(QSocketNotifier* N) const;
    };
    std::unique_ptr<QSocketNotifier, NotifierDeleter> FReadNotifier, FWriteNotifier;

    // A stream connect runs its first attempt on the handle; attempts started later that
    // are still connecting wait here, each watched for its outcome.
    struct TAttempt {
        TSocketHandle Handle;
        std::unique_ptr<QSocketNotifier, NotifierDeleter> Notifier;
        size_t Index;
    };
    std::vector<TSockAddr> FCandidates; // from Addr or SetAddrList, resolved
    size_t FNextCandidate = 0;          // the first not tried yet
    size_t FPrimaryIndex = 0;           // the one on the handle
    std::vector<TAttempt> FRacers;
    QTimer* FRaceTimer = nullptr; // starts the next attempt after the delay
    int FRaceError = 0;           // of the last address tried that failed
    size_t FRaceErrorIndex = 0;

    // Shared with the ReadLine that started it, so the part read survives a close (which
    // starts a fresh one) and even the socket's destruction.
    std::shared_ptr<TLineRead> FLineRead;
    TSocketState FWaitForState = wsInvalidState; // what Wait waits for; none while invalid
    QPointer<TWait> FWaitCtrl;
    int FCountDowns = 0; // blocking operations of this socket now inside WaitCtrl's wait
};

// The component as programs use it; all behaviour lives in TCustomWSocket.
class TWSocket : public TCustomWSocket {
    Q_OBJECT
  public:
    using TCustomWSocket::TCustomWSocket;
};
