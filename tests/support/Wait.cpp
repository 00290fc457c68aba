#include "Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace testsupport {

namespace {
// Blocks in the event loop until some event arrives; the ticking timer guarantees one at
// least every few milliseconds so deadlines and outside changes are noticed.
void WaitForEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
} // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick;
    tick.start(10);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        WaitForEvents();
    }
    return true;
}

void RunEventLoopFor(int ms) {
    QDeadlineTimer deadline(ms);
    QTimer tick;
    tick.start(5);
    while (!deadline.hasExpired())
        WaitForEvents();
}

} // namespace testsupport
