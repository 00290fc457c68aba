#pragma once

// TLS for a client connection of TWSocket, with OpenSSL on memory buffers: the platform
// socket still does all reading and writing and reports its events as before, and this layer
// turns its bytes into the plain text its owner sends and receives. The owner sees the same
// events and calls as on a plain connection: OnSessionConnected only once the connection is
// secure (or with an error when it cannot be), then the server's lines in plain text.

#include "net/WSocket.h"
#include "net/WinsockErrors.h"

#include <cstdint>
#include <memory>
#include <string>

// Ordinals are the values of the Security setting.
enum TSecurity : int {
    secNone = 0, // plain POP3
    secTls = 1,  // TLS from the first byte (POP3S)
    secStls = 2, // plain until the greeting, then STLS (RFC 2595) and TLS
};

// The code OnSessionConnected carries when the connection could not be secured; TlsError
// names the reason.
inline constexpr uint16_t kTlsFailure = wsaConnectionAborted;

struct ssl_st;
struct ssl_ctx_st;

class TTlsWSocket : public TWSocket {
  public:
    explicit TTlsWSocket(QObject* Owner = nullptr);
    ~TTlsWSocket() override;

    // Taken by the next Connect.
    TSecurity Security() const { return FSecurity; }
    void SetSecurity(TSecurity Value) { FSecurity = Value; }
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

    void Connect() override;
    void Close() override;
    void Abort() override;
    int Send(const void* Data, int Len) override;
    int Receive(void* Buffer, int BufferSize) override;

  protected:
    bool TriggerDataAvailable(uint16_t Error) override;
    void TriggerSessionConnected(uint16_t Error) override;
    void TriggerSessionClosed(uint16_t Error) override;
    void TriggerDataSent(uint16_t Error) override;

  private:
    enum TPhase {
        phPlain,     // no TLS on this connection: everything passes through
        phGreeting,  // STLS: waiting for the greeting
        phStlsReply, // STLS sent, waiting for its answer
        phHandshake,
        phSecure,
        phFailed, // the connection could not be secured and is being closed
    };

    struct SslDeleter {
        void operator()(ssl_st* S) const;
        void operator()(ssl_ctx_st* C) const;
    };

    void ResetTls();
    void TakeRaw(const char* Data, int Len);
    void ReadPreamble();
    void StartHandshake();
    void ContinueHandshake();
    void ReadDecrypted();
    void FlushOut();
    void OfferPlain(uint16_t Error);
    void Fail(const std::string& Reason);
    std::string SslFailure(int Result);
    size_t PlainWaiting() const { return FPlain.size() - FPlainStart; }

    TSecurity FSecurity = secNone;
    std::string FTlsHost;
    std::string FCAFile;
    std::string FTlsError;

    TPhase FPhase = phPlain;
    // Counts connections, so that code after an owner's handler can tell whether the
    // connection it worked on is still the current one.
    uint64_t FConnection = 0;
    std::unique_ptr<ssl_ctx_st, SslDeleter> FCtx;
    std::unique_ptr<ssl_st, SslDeleter> FSsl;
    std::string FPreamble; // STLS: plain bytes not yet split into lines
    std::string FPlain;    // plain text for the owner; FPlainStart is where it begins
    size_t FPlainStart = 0;
    bool FPeerDone = false; // the server sent its close alert, or broke the session
};
