#pragma once

#include "net/Transport.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// An in-process transport that plays a transcript against the client on top of it, with no
// socket, port or thread:
//
//   fake->ServerSends("+OK ready").ClientSends("USER bob").ServerSends("+OK");
//
// Steps run in order: what the server sends is delivered, from the event loop, as soon as
// every step before it has run; a line the client sends must be the next step. A mismatch is
// reported with the number of the step that went wrong (see Failures), and Unplayed names
// the first step the conversation never reached.
class FakeTransport final : public TTransport {
  public:
    FakeTransport();
    ~FakeTransport() override;

    // ---- the transcript ----
    FakeTransport& ServerSends(const std::string& line); // the line and CR LF
    FakeTransport& ServerSendsRaw(const std::string& bytes);
    FakeTransport& ServerSendsBytewise(const std::string& bytes); // one read per byte
    FakeTransport& ClientSends(const std::string& line);
    // The client starts TLS here; the handshake succeeds unless FailTls names a reason.
    FakeTransport& ClientStartsTls();
    FakeTransport& ServerCloses();
    // The lookup of the next Open fails with this code (0: it succeeds).
    void FailLookup(std::uint16_t error) { lookupError_ = error; }
    void FailTls(const std::string& reason) { tlsError_ = "TLS error: " + reason; }

    // ---- what happened ----
    const std::vector<std::string>& Failures() const { return failures_; }
    // "" when every step ran, else the first one that did not.
    std::string Unplayed() const;
    const std::vector<std::string>& Sent() const { return sent_; }
    const std::string& LookedUp() const { return host_; }

    // ---- the transport ----
    void Secure(TSecurity, const std::string&, const std::string&) override {}
    void SetPort(const std::string& port) override { port_ = port; }
    void Lookup(const std::string& host) override;
    void CancelLookup() override {}
    void Connect() override;
    int Receive(char* buffer, int size) override;
    int ReceiveArrived(char* buffer, int size) override;
    void Send(const std::string& bytes) override;
    void StartTls() override;
    void Close() override;
    void Abort() override;
    bool Closed() const override { return !connected_; }
    bool Connected() const override { return connected_; }
    std::string PeerAddr() override { return "127.0.0.1"; }
    std::string LocalAddr() override { return "127.0.0.1"; }
    int LastError() const override { return 0; }
    std::string TlsError() const override { return tlsError_; }

  private:
    enum class Op { Send, SendBytewise, Expect, StartTls, Close };
    struct Step {
        Op op;
        std::string text;
    };
    FakeTransport& Add(Op op, const std::string& text);
    std::string Describe(std::size_t index) const;
    void Post(std::function<void()> fn);
    // Runs the server's steps up to the next line the client must send.
    void Play();
    void Deliver();
    void Drop();

    QObject context_; // posted events die with the transport
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    std::deque<std::string> chunks_; // bytes waiting to be read, one read each
    std::string partial_;            // what the client sent of its current line
    std::vector<std::string> sent_, failures_;
    std::string host_, port_, tlsError_;
    std::uint16_t lookupError_ = 0;
    bool connected_ = false;
    bool closing_ = false; // the server closes once everything sent is read
    unsigned generation_ = 0;
};

} // namespace testsupport
