#pragma once

#include <utility>

namespace platform {

// Installs a handler for the lifetime of the guard and puts the previous one back, also
// when a test fails half way.
template <class Handler, Handler (*Set)(Handler)> class ScopedHandler {
  public:
    explicit ScopedHandler(Handler handler) : previous_(Set(std::move(handler))) {}
    ~ScopedHandler() { Set(std::move(previous_)); }
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;

  private:
    Handler previous_;
};

} // namespace platform
