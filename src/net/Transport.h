#pragma once

// What a command/response connection needs of the network: a name lookup, a connection to
// the address found, bytes both ways and the end. TSocketTransport is the real one; tests
// drive the clients through an in-process one instead.

#include "net/TlsWSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TTransport {
  public:
    virtual ~TTransport() = default;

    // Each event fires later, from the event loop (or from inside Abort or Close).
    std::function<void(std::uint16_t error)> OnLookupDone;
    std::function<void(std::uint16_t error)> OnConnected;
    std::function<void()> OnDataAvailable;
    std::function<void(std::uint16_t error)> OnClosed;

    // How the next connection is secured.
    virtual void Secure(TSecurity security, const std::string& host, const std::string& caFile) = 0;
    // Takes the port of the next connection; raises ESocketException when it cannot be
    // used, with LastError set.
    virtual void SetPort(const std::string& port) = 0;
    virtual void Lookup(const std::string& host) = 0;
    // Connects to the address looked up; raises ESocketException when that is refused at
    // once, with LastError set.
    virtual void Connect() = 0;
    // Bytes received: more than 0 when there were some.
    virtual int Receive(char* buffer, int size) = 0;
    virtual void Send(const std::string& bytes) = 0;
    // Ends the connection in order: OnClosed follows.
    virtual void Close() = 0;
    // Cancels a lookup and drops the connection at once.
    virtual void Abort() = 0;
    virtual bool Closed() const = 0;
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
    void Connect() override;
    int Receive(char* buffer, int size) override;
    void Send(const std::string& bytes) override;
    void Close() override;
    void Abort() override;
    bool Closed() const override;
    int LastError() const override;
    std::string TlsError() const override;

    // The socket underneath, for owners and harnesses that need more of the connection
    // (its addresses, its state).
    TTlsWSocket& Socket() { return *socket_; }
    const TTlsWSocket& Socket() const { return *socket_; }

  private:
    std::unique_ptr<TTlsWSocket> socket_;
    std::string port_;
};
