#include "MessagePump.h"

#include <QCoreApplication>
#include <chrono>

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(5);
Clock::time_point lastPump;
} // namespace

void ProcessMessages() {
    lastPump = Clock::now();
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

void ProcessMessagesSliced() {
    if (Clock::now() - lastPump >= kSlice) ProcessMessages();
}

} // namespace platform
