#pragma once

// TLS for a client connection of TWSocket, with OpenSSL on memory buffers: the platform
// socket still does all reading and writing and reports its events as before, and this layer
// turns its bytes into the plain text its owner sends and receives. TLS starts either with
// the connection (OnSessionConnected then comes only once the connection is secure, or with
// an error when it cannot be) or when the owner asks for it on a plain connection it already
// uses (OnTlsDone then tells how that went). The socket knows no protocol above it.

#include "net/Security.h"
#include "net/WSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

class TTlsWSocket : public TWSocket {
  public:
    explicit TTlsWSocket(QObject* Owner = nullptr);
    ~TTlsWSocket() override;

    // Taken by the next Connect: the handshake starts as soon as the connection is made.
    bool TlsFromStart() const { return FTlsFromStart; }
    void SetTlsFromStart(bool Value) { FTlsFromStart = Value; }
    // The name (or IP address) the server's certificate must be issued for.
    const std::string& TlsHost() const { return FTlsHost; }
    void SetTlsHost(const std::string& Value) { FTlsHost = Value; }
    // A PEM file of certificates trusted besides the system's; empty for none.
    const std::string& CAFile() const { return FCAFile; }
    void SetCAFile(const std::string& Value) { FCAFile = Value; }

    // Why the last connection could not be secured, in plain words ("TLS error: ..."); empty
    // when it was, or when it failed for another reason. Cleared by Connect.
    const std::string& TlsError() const { return FTlsError; }
    // The handshake of the current connection is complete.
    bool Secure() const { return FPhase == phSecure; }
    // Starts the handshake on the plain connection now; OnTlsDone follows. The owner must
    // have taken every plain byte it wants: whatever arrives from here on is TLS.
    void StartTls();
    // Fires once the handshake StartTls began has ended: 0 when the connection is secure,
    // kTlsFailure when it cannot be (TlsError says why; the connection is then closed).
    std::function<void(TCustomWSocket* Sender, uint16_t Error)> OnTlsDone;

    void Connect() override;
    void Close() override;
    void Abort() override;
    int Send(const void* Data, int Len) override;
    int Receive(void* Buffer, int BufferSize) override;
    // The plain text of what has already arrived, read now without waiting for the event
    // loop; 0 when nothing waits. The end of the connection and its errors are left to the
    // events that report them.
    int ReceiveArrived(void* Buffer, int BufferSize);

  protected:
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerSessionConnected(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t Error) override;
    void TriggerDataSent(uint16_t Error) override;

  private:
    enum TPhase {
        phPlain, // no TLS on this connection (yet): everything passes through
        phHandshake,
        phSecure,
        phFailed, // the connection could not be secured and is being closed
    };

    struct SslDeleter {
        void operator()(ssl_st* S) const;
        void operator()(ssl_ctx_st* C) const;
    };

    // The one place the phase changes.
    void SetPhase(TPhase Value) { FPhase = Value; }
    void ResetTls();
    void TakeRaw(const char* Data, int Len);
    void ClosePeerDoneLater();
    void StartHandshake();
    void ContinueHandshake();
    void ReadDecrypted();
    void FlushOut();
    void OfferPlain(uint16_t Error);
    void ReportHandshake(uint16_t Error);
    void Fail(const std::string& Reason);
    std::string SslFailure(int Result);
    size_t PlainWaiting() const { return FPlain.size() - FPlainStart; }

    bool FTlsFromStart = false;
    std::string FTlsHost;
    std::string FCAFile;
    std::string FTlsError;

    TPhase FPhase = phPlain;
    bool FStartedLater = false; // the handshake of this connection came from StartTls
    // Counts connections, so that code after an owner's handler can tell whether the
    // connection it worked on is still the current one.
    uint64_t FConnection = 0;
    std::unique_ptr<ssl_ctx_st, SslDeleter> FCtx;
    std::unique_ptr<ssl_st, SslDeleter> FSsl;
    std::string FPlain; // plain text for the owner; FPlainStart is where it begins
    size_t FPlainStart = 0;
    bool FPeerDone = false; // the server sent its close alert, or broke the session
};
