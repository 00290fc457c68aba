#pragma once

#include <chrono>
#include <functional>
#include <optional>

// The time limit of a blocking operation: silence, not length, ends it, so every sign of
// progress moves it forward. A cap may bound it as well: a moment it never passes, however
// busy the server keeps it.
class TFtpDeadline {
  public:
    using Clock = std::chrono::steady_clock;

    // Seconds of 0 or less: no silence limit.
    void Arm(int Seconds, std::optional<Clock::time_point> Cap = std::nullopt);
    void Extend();
    void SetCap(std::optional<Clock::time_point> Cap) { FCap = Cap; }
    bool Expired() const;
    // Runs the event loop until Done() holds (true), the limit passes or the application
    // quits (false). Sleeps between events: a wait on a silent server costs no CPU.
    bool Wait(const std::function<bool()>& Done);

  private:
    // The earlier of both limits, if any.
    std::optional<Clock::time_point> End() const;

    int FSeconds = 0;
    Clock::time_point FEnd;
    std::optional<Clock::time_point> FCap;
};
