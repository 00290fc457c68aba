#pragma once

// The command/response engine under the line-oriented clients: one connection through a
// TTransport, its reply lines framed with a maximum length, the command trace, the life of a
// request (its end always reported from the event loop, never from inside the call that
// ended it) and the inactivity time-out of a waiting request.
//
// The replies a client waits for form a queue: the first line received goes to the first
// reply expected, and each reply's handler says when its reply is complete. A client that
// sends one command at a time keeps one entry in it.

#include "net/LineFramer.h"
#include "net/Transport.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TPendingReply {
    // Called with each line of the reply in turn; true once the reply is complete.
    std::function<bool(TPendingReply& self, const std::string& line)> OnLine;
    int Stage = 0; // how far the handler is into its reply
};

class TCommandChannel {
  public:
    // How lines are handled when a handler reads (a drain) or lets the event loop run.
    enum TLineOrder {
        // A read during a handler handles its lines at once, nested in the handler.
        loNested,
        // A read during a handler only stores its bytes: their lines wait their turn. Lines
        // stop once the connection is closed, and a read that finds it gone closes it.
        loInTurn,
    };

    TCommandChannel(QObject& owner, std::unique_ptr<TTransport> transport, std::size_t maxLine,
                    bool loneLfEnds, TLineOrder order = loNested);
    ~TCommandChannel();
    TCommandChannel(const TCommandChannel&) = delete;
    TCommandChannel& operator=(const TCommandChannel&) = delete;

    TTransport& Transport() { return *transport_; }
    const TTransport& Transport() const { return *transport_; }

    // Every line received, before any reply handler sees it.
    std::function<void(const std::string& line)> OnLine;
    // A line that no expected reply takes.
    std::function<void(const std::string& line)> OnUnexpected;
    // A line grew past the maximum length: it can never end.
    std::function<void()> OnLineTooLong;
    // The running request received nothing for Timeout seconds.
    std::function<void()> OnTimedOut;
    // The trace of the conversation ("> " + each command sent).
    std::function<void(const std::string& text)> OnTrace;

    // ---- requests ----
    void BeginRequest();
    // Ends the running request; false when none was running.
    bool EndRequest();
    bool RequestRunning() const { return running_; }
    // Runs report from the event loop, once the current call has returned; dropped when the
    // owner is gone by then.
    void PostDone(std::function<void()> report);
    // Seconds without a byte received before a running request times out; 0 never.
    void SetTimeout(std::int32_t seconds);
    std::int32_t Timeout() const { return timeout_; }

    // ---- replies ----
    void ExpectReply(std::function<bool(TPendingReply&, const std::string&)> onLine);
    void ForgetReplies() { pending_.clear(); }

    // ---- sending and receiving ----
    void TraceCommand(const std::string& command);
    void SendCommand(const std::string& command);
    // Reads what the transport has and handles its lines (wired to the transport, unless the
    // owner wraps it).
    void DataAvailable();
    // Drops what was received and not handled yet; lines of it still to come are not handled.
    void DropReceived();
    // Takes what the transport already holds, without waiting: its complete lines answer
    // nothing expected, the rest is dropped. Before a command, so nothing that came before
    // it can pass for its reply.
    void DrainReceived();
    // The longest line taken from now on.
    void SetMaxLine(std::size_t maxLine) { framer_.SetMaxLine(maxLine); }

  private:
    void NestedDataAvailable();
    void InTurnDataAvailable();
    bool Read(bool arrivedOnly = false);
    void ArmTimer();
    void Dispatch(const std::string& line);

    QObject& owner_;
    std::unique_ptr<TTransport> transport_;
    TLineFramer framer_;
    std::vector<char> readBuf_;
    TLineOrder order_;
    bool stop_ = false;
    bool held_ = false;        // draining: no line answers anything expected
    bool dispatching_ = false; // in turn: lines are being handled
    bool readPending_ = false; // in turn: a read during a handler left bytes unread
    // Whether the channel still exists, for code that a handler's destroying it unwinds.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::deque<std::shared_ptr<TPendingReply>> pending_;
    bool running_ = false;
    std::int32_t timeout_ = 0;
    // Runs while a request waits; every byte received starts it again.
    QTimer timer_;
};
