#include "ErrorReport.h"

#include <cstdio>
#include <utility>

namespace platform {

namespace {
void PrintToStderr(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

ErrorReporter& CurrentReporter() {
    static ErrorReporter reporter = PrintToStderr;
    return reporter;
}
} // namespace

ErrorReporter SetErrorReporter(ErrorReporter reporter) {
    return std::exchange(CurrentReporter(), reporter ? std::move(reporter) : PrintToStderr);
}

void ReportError(const std::string& message) {
    // A reporter that throws must not take the program down with it.
    try {
        CurrentReporter()(message);
    } catch (...) {
        PrintToStderr(message);
    }
}

void ReportCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("Unknown exception");
    }
}

} // namespace platform
