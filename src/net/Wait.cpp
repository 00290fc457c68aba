#include "net/Wait.h"

#include "platform/ErrorReport.h"
#include "platform/ModalWait.h"

#include <QPointer>

#include <limits>

namespace {

// The leading decimal digits after any leading blanks; 0 when there are none.
int32_t LeadingCount(const std::string& Text) {
    size_t i = Text.find_first_not_of(' ');
    int64_t value = 0;
    for (; i < Text.size() && Text[i] >= '0' && Text[i] <= '9'; ++i)
        value =
            std::min<int64_t>(value * 10 + (Text[i] - '0'), std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(value);
}

// How long one pass of the wait loop may block. The countdown's own timer and every event
// end a pass sooner; the bound only keeps OnWaiting coming when nothing else happens.
constexpr int kPassMs = 100;

} // namespace

TCustomWait::TCustomWait(QObject* Owner) : QObject(Owner) {
    connect(&FTimer, &QTimer::timeout, this, [this] { platform::Guarded([this] { Tick(); }); });
}

void TCustomWait::SetInterval(uint16_t Value) {
    FInterval = Value;
    SetRunning(FRunning);
}

// The timer runs only while the countdown does and has a period.
void TCustomWait::SetRunning(bool Value) {
    FRunning = Value;
    if (FRunning && FInterval > 0)
        FTimer.start(FInterval);
    else
        FTimer.stop();
}

void TCustomWait::Start() {
    FStartValue = LeadingCount(FCaption);
    if (FStartValue == 0) {
        FStartValue = 15;
        FCaption = "15";
    }
    SetRunning(true);
    if (auto handler = OnWaitStart) handler(this);
}

void TCustomWait::Tick() {
    const int32_t count = LeadingCount(FCaption);
    QPointer<TCustomWait> self(this);
    if (auto handler = OnWait) handler(this, count - 1);
    // A handler that stopped the countdown (or destroyed it) has ended this tick.
    if (!self || !FRunning) return;
    if (count >= 2) {
        FCaption = std::to_string(count - 1);
        return;
    }
    SetRunning(false);
    FModalResult = 2;
    RestoreCaption();
    if (auto handler = OnTimeout) handler(this);
}

void TCustomWait::Stop() {
    FModalResult = 1;
    SetRunning(false);
    RestoreCaption();
    if (auto handler = OnWaitStop) handler(this);
}

void TCustomWait::RestoreCaption() {
    FCaption = std::to_string(FStartValue);
}

void TCustomWait::WaitForIt() {
    QPointer<TCustomWait> self(this);
    platform::ScopedInputBlock block;
    FModalResult = 0;
    Start();
    // Any handler may destroy the countdown while it is waited on; the wait then ends.
    while (self && FRunning) {
        if (auto handler = OnWaiting) {
            handler(this);
            if (!self || !FRunning) break;
        }
        platform::WaitForMessages(kPassMs);
    }
}
