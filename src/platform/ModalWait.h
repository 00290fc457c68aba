#pragma once

#include <functional>
#include <memory>

namespace platform {

// What a modal wait on the event loop needs from the platform: waiting for events without
// spinning, and keeping the user's input away from the application meanwhile.

// Runs the current thread's event loop once: handles what is pending, or blocks until
// something arrives or maxMs has passed. A wait loop built on this costs no CPU while idle.
void WaitForMessages(int maxMs);

// The audible signal for refused input. Without a handler (no desktop) it does nothing;
// the desktop program installs the system's beep.
using BeepHandler = std::function<void()>;
BeepHandler SetBeepHandler(BeepHandler handler);
void Beep();

// For its lifetime, key presses and mouse button presses and double clicks anywhere in the
// application are swallowed, each with a Beep. Blocks nest; the input handling that was in
// place before comes back when the block ends, also when an exception ends it.
class ScopedInputBlock {
  public:
    ScopedInputBlock();
    ~ScopedInputBlock();
    ScopedInputBlock(const ScopedInputBlock&) = delete;
    ScopedInputBlock& operator=(const ScopedInputBlock&) = delete;

  private:
    class Filter;
    std::unique_ptr<Filter> filter_;
};

} // namespace platform
