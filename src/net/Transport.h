#pragma once

// What a command/response connection needs of the network: a name lookup, a connection to
// the address found, bytes both ways and the end. TSocketTransport is the real one; tests
// drive the clients through an in-process one instead.

#include "net/Security.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TTlsWSocket;

class TTransport {
  public:
    virtual ~TTransport() = default;

    // Each event fires later, from the event loop (or from inside Abort or Close, and
    // OnTlsDone from inside StartTls when the handshake cannot even begin).
    std::function<void(std::uint16_t error)> OnLookupDone;
    std::function<void(std::uint16_t error)> OnConnected;
    std::function<void()> OnDataAvailable;
    std::function<void(std::uint16_t error)> OnClosed;
    // The handshake StartTls began has ended: 0 secure, else the connection is being closed
    // and TlsError says why.
    std::function<void(std::uint16_t error)> OnTlsDone;

    // How the next connection is secured: TLS from its first byte with secTls; otherwise it
    // stays plain until StartTls. The host and CA file check the server's certificate.
    virtual void Secure(TSecurity security, const std::string& host, const std::string& caFile) = 0;
    // Takes the port of the next connection; raises ESocketException when it cannot be
    // used, with LastError set.
    virtual void SetPort(const std::string& port) = 0;
    virtual void Lookup(const std::string& host) = 0;
    // Cancels a pending lookup, which then ends with 10004.
    virtual void CancelLookup() = 0;
    // Connects to the addresses looked up, racing them in their order; raises ESocketException when
    // that is refused at once, with LastError set.
    virtual void Connect() = 0;
    // Bytes received: more than 0 when there were some.
    virtual int Receive(char* buffer, int size) = 0;
    // Bytes that have already arrived, taken now without waiting for the event loop; 0 when
    // none wait. The end of the connection is left to OnClosed.
    virtual int ReceiveArrived(char* buffer, int size) = 0;
    virtual void Send(const std::string& bytes) = 0;
    // Secures the connection in use from here on (the client side of the handshake); every
    // plain byte must have been taken. OnTlsDone follows.
    virtual void StartTls() = 0;
    // Ends the connection in order: OnClosed follows.
    virtual void Close() = 0;
    // Cancels a lookup and drops the connection at once.
    virtual void Abort() = 0;
    virtual bool Closed() const = 0;
    virtual bool Connected() const = 0;
    // Addresses of the two ends of the connection: dotted IPv4 or IPv6 text.
    virtual std::string PeerAddr() = 0;
    virtual std::string LocalAddr() = 0;
    virtual int LastError() const = 0;
    // Why the last connection could not be secured; empty when that was not the cause.
    virtual std::string TlsError() const = 0;
};

class TSocketTransport final : public TTransport {
  public:
    TSocketTransport();
    ~TSocketTransport() override;

    void Secure(TSecurity security, const std::string& host, const std::string& caFile) override;
    void SetPort(const std::string& port) override;
    void Lookup(const std::string& host) override;
    void CancelLookup() override;
    void Connect() override;
    int Receive(char* buffer, int size) override;
    int ReceiveArrived(char* buffer, int size) override;
    void Send(const std::string& bytes) override;
    void StartTls() override;
    void Close() override;
    void Abort() override;
    bool Closed() const override;
    bool Connected() const override;
    std::string PeerAddr() override;
    std::string LocalAddr() override;
    int LastError() const override;
    std::string TlsError() const override;
    // Bytes that have arrived and wait to be read; 0 without a connection. For harnesses that
    // must know when the client has taken everything in.
    int UnreadBytes() const;

  private:
    std::unique_ptr<TTlsWSocket> socket_;
    std::string port_;
};
