#include "net/FtpCliChannel.h"

#include "net/WSocket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kWouldBlock = 10035;

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

TFtpLineChannel::ReadResult TFtpLineChannel::Read(TCustomWSocket& Socket) {
    if (FCount >= BufferSize) return rdOverflow;
    const int n = Socket.Receive(FBuf + FCount, static_cast<int>(BufferSize - FCount));
    if (n > 0) {
        FCount += static_cast<std::size_t>(n);
        return rdData;
    }
    if (n < 0 && Socket.LastError() == kWouldBlock) return rdNothing;
    return rdClosed;
}

bool TFtpLineChannel::NextLine(std::string& Line) {
    for (std::size_t i = 0; i + 1 < FCount; ++i) {
        if (FBuf[i] == '\r' && FBuf[i + 1] == '\n') {
            Line.assign(FBuf, i);
            std::memmove(FBuf, FBuf + i + 2, FCount - i - 2);
            FCount -= i + 2;
            return true;
        }
    }
    return false;
}

bool TFtpLineChannel::HasLine() const {
    for (std::size_t i = 0; i + 1 < FCount; ++i)
        if (FBuf[i] == '\r' && FBuf[i + 1] == '\n') return true;
    return false;
}

bool TFtpLineChannel::HasLineBreak(const std::string& Text) {
    return Text.find_first_of("\r\n") != std::string::npos;
}

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
