#include "net/FtpCliDeadline.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace {

// Set once the application has been asked to quit: blocking waits stop then.
bool quitting = false;

void WatchQuit() {
    static bool watching = false;
    if (watching || !QCoreApplication::instance()) return;
    watching = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     [] { quitting = true; });
}

} // namespace

void TFtpDeadline::Arm(int Seconds, std::optional<Clock::time_point> Cap) {
    FSeconds = Seconds;
    FCap = Cap;
    Extend();
}

void TFtpDeadline::Extend() {
    if (FSeconds > 0) FEnd = Clock::now() + std::chrono::seconds(FSeconds);
}

std::optional<TFtpDeadline::Clock::time_point> TFtpDeadline::End() const {
    if (FSeconds <= 0) return FCap;
    return FCap ? std::min(*FCap, FEnd) : FEnd;
}

bool TFtpDeadline::Expired() const {
    const std::optional<Clock::time_point> end = End();
    return end && Clock::now() >= *end;
}

bool TFtpDeadline::Wait(const std::function<bool()>& Done) {
    WatchQuit();
    QTimer wake;
    wake.setSingleShot(true);
    for (;;) {
        if (Done()) return true;
        if (quitting || Expired()) return false;
        // Armed for the limit as it stands; when it fires after the limit moved on, it is
        // armed again for the rest.
        if (const std::optional<Clock::time_point> end = End(); end && !wake.isActive()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*end - Clock::now());
            wake.start(static_cast<int>(std::max<long long>(1, left.count())));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
