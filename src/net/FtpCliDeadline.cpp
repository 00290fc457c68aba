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

void TFtpDeadline::Arm(int Seconds) {
    FSeconds = Seconds;
    Extend();
}

void TFtpDeadline::Extend() {
    if (FSeconds > 0) FEnd = Clock::now() + std::chrono::seconds(FSeconds);
}

bool TFtpDeadline::Expired() const {
    return FSeconds > 0 && Clock::now() >= FEnd;
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
        if (FSeconds > 0 && !wake.isActive()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - Clock::now());
            wake.start(static_cast<int>(std::max<long long>(1, left.count())));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
