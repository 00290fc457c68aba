#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The one base of every exception class the program names; the message is the user's text.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// The runtime's input/output error (file not found, I/O error n).
class EInOutError : public Exception {
  public:
    EInOutError(const std::string& message, int errorCode)
        : Exception(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// Builds the I/O error for an errno value, worded the way users know it.
EInOutError InOutErrorFromErrno(int err);

} // namespace platform
