#pragma once

// The command/response plumbing of the FTP client, kept apart from the FTP logic so that it
// can serve other line-oriented clients: reply lines framed out of a fixed receive buffer,
// command lines checked and framed, the trace texts, and the silence time-out of the
// blocking operations.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

class TCustomWSocket;

class TFtpLineChannel {
  public:
    static constexpr std::size_t BufferSize = 4096;

    enum ReadResult {
        rdData,     // bytes were added (lines may be waiting)
        rdNothing,  // nothing to read now (would block)
        rdClosed,   // the peer closed or the read failed
        rdOverflow, // the buffer is full without a line end: the line can never complete
    };

    void Clear() { FCount = 0; }
    // Reads at most the free space of the buffer.
    ReadResult Read(TCustomWSocket& Socket);
    // Takes the next complete line (without its CR LF) out of the buffer.
    bool NextLine(std::string& Line);
    // Whether a complete line waits in the buffer.
    bool HasLine() const;

    // A command line with its CR LF.
    static std::string Frame(const std::string& Command) { return Command + "\r\n"; }
    // Whether a text would end the command line early and start another one.
    static bool HasLineBreak(const std::string& Text);
    static std::string TraceCommand(const std::string& Command) { return "> " + Command; }
    static std::string TraceReply(const std::string& Line) { return "< " + Line; }

  private:
    char FBuf[BufferSize];
    std::size_t FCount = 0;
};

// The time limit of a blocking operation: silence, not length, ends it, so every sign of
// progress moves it forward.
class TFtpDeadline {
  public:
    // Seconds of 0 or less: no limit.
    void Arm(int Seconds);
    void Extend();
    bool Expired() const;
    // Runs the event loop until Done() holds (true), the limit passes or the application
    // quits (false). Sleeps between events: a wait on a silent server costs no CPU.
    bool Wait(const std::function<bool()>& Done);

  private:
    using Clock = std::chrono::steady_clock;
    int FSeconds = 0;
    Clock::time_point FEnd;
};
