#pragma once

#include "platform/ScopedHandler.h"

#include <exception>
#include <functional>
#include <string>

namespace platform {

// Stands in for the toolkit's default error handler: an exception nobody caught is shown
// (message box in the GUI, a printed line in the CLI) and the program goes on.
using ErrorReporter = std::function<void(const std::string& message)>;

// Replaces the reporter; returns the previous one so tests can restore it.
ErrorReporter SetErrorReporter(ErrorReporter reporter);

// Puts a reporter in place for the life of the guard (tests catching what is reported).
using ScopedErrorReporter = ScopedHandler<ErrorReporter, SetErrorReporter>;

void ReportError(const std::string& message);

// Reports the exception currently being handled; call from inside a catch block.
void ReportCurrentException();

// Runs fn and hands any exception to the reporter. Every event-loop entry point goes through
// this, so no exception ever crosses the Qt event loop.
template <class Fn> void Guarded(Fn&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        ReportCurrentException();
    }
}

} // namespace platform
