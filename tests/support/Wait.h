#pragma once

#include <functional>

namespace testsupport {

// Runs the event loop until condition() holds or timeoutMs passes; returns the last
// value of condition(). No fixed sleeps: it wakes on every event.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Runs the event loop for the given time, for tests that check that nothing happens.
void RunEventLoopFor(int ms);

} // namespace testsupport
