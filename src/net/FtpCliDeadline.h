#pragma once

#include <chrono>
#include <functional>

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
