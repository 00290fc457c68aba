// The countdown the blocking socket operations wait on: its Caption rules, its results, and
// the user's input it keeps away from the application while it is waited on.

#include "net/Wait.h"
#include "platform/ModalWait.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <stdexcept>
#include <vector>

using testsupport::WaitUntil;

namespace {

// Records the type of every event it receives.
class Receiver : public QObject {
  public:
    std::vector<QEvent::Type> got;
    bool event(QEvent* e) override {
        got.push_back(e->type());
        return QObject::event(e);
    }
};

// Counts the beeps for its lifetime.
struct BeepCounter {
    int beeps = 0;
    platform::BeepHandler previous = platform::SetBeepHandler([this] { ++beeps; });
    ~BeepCounter() { platform::SetBeepHandler(previous); }
};

void SendEach(QObject& to, const std::vector<QEvent::Type>& types) {
    for (QEvent::Type t : types) {
        QEvent e(t);
        QCoreApplication::sendEvent(&to, &e);
    }
}

const std::vector<QEvent::Type> kInput = {QEvent::KeyPress, QEvent::Shortcut,
                                          QEvent::MouseButtonPress, QEvent::MouseButtonDblClick};
const std::vector<QEvent::Type> kOther = {QEvent::KeyRelease, QEvent::MouseButtonRelease,
                                          QEvent::User};

} // namespace

TEST(Countdown, CaptionGivesTheStartValueAndGetsItBack) {
    struct Case {
        const char* caption;
        const char* started; // Caption after Start
        const char* stopped; // Caption after Stop
    };
    const Case cases[] = {{"60", "60", "60"}, {"  7 s", "  7 s", "7"}, {"abc", "15", "15"},
                          {"0", "15", "15"},  {"", "15", "15"},        {"-5", "15", "15"}};
    for (const Case& c : cases) {
        TWait w;
        w.SetCaption(c.caption);
        w.Start();
        EXPECT_TRUE(w.Running()) << c.caption;
        EXPECT_EQ(w.Caption(), c.started) << c.caption;
        w.SetCaption("3"); // counted down meanwhile
        w.Stop();
        EXPECT_FALSE(w.Running());
        EXPECT_EQ(w.ModalResult(), 1);
        EXPECT_EQ(w.Caption(), c.stopped) << c.caption;
    }
}

TEST(Countdown, TicksDownToATimeOutOrStopsEarly) {
    TWait w;
    w.SetInterval(10);
    w.SetCaption("3");
    std::vector<int> counts, starts;
    std::vector<std::string> events;
    int waitingResult = -1;
    w.OnWait = [&](TCustomWait* s, int32_t n) {
        counts.push_back(n);
        events.push_back("tick " + s->Caption());
    };
    w.OnWaiting = [&](TCustomWait* s) { waitingResult = s->ModalResult(); };
    w.OnWaitStart = [&](TCustomWait*) { events.push_back("start"); };
    w.OnWaitStop = [&](TCustomWait*) { events.push_back("stop"); };
    w.OnTimeout = [&](TCustomWait* s) { events.push_back("timeout " + s->Caption()); };
    w.SetModalResult(1);
    w.WaitForIt();
    EXPECT_EQ(waitingResult, 0);
    EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(events,
              (std::vector<std::string>{"start", "tick 3", "tick 2", "tick 1", "timeout 3"}));
    EXPECT_EQ(w.ModalResult(), 2);
    EXPECT_FALSE(w.Running());

    // Stopped from a handler on its second tick.
    events.clear();
    w.SetCaption("5");
    w.OnWait = [&](TCustomWait* s, int32_t n) {
        if (n == 3) s->Stop();
    };
    w.WaitForIt();
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(w.ModalResult(), 1);
    EXPECT_EQ(w.Caption(), "5");
}

TEST(Countdown, WaitForItSwallowsInputWithABeepAndHandsItBackAfter) {
    BeepCounter counter;
    Receiver target;
    // An input filter the application had before: it must work again afterwards.
    struct EarlierFilter : QObject {
        int keys = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) ++keys;
            return QObject::eventFilter(o, e);
        }
    } earlier;
    QCoreApplication::instance()->installEventFilter(&earlier);

    TWait w;
    w.SetInterval(0);
    w.OnWaiting = [&](TCustomWait* s) {
        SendEach(target, kInput);
        SendEach(target, kOther);
        s->Stop();
    };
    w.WaitForIt();
    EXPECT_EQ(counter.beeps, 4);
    EXPECT_EQ(target.got, kOther);
    EXPECT_EQ(earlier.keys, 0);

    // Also when an exception leaves the wait.
    w.OnWaiting = [](TCustomWait*) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(w.WaitForIt(), std::runtime_error);

    target.got.clear();
    SendEach(target, kInput);
    EXPECT_EQ(target.got, kInput);
    EXPECT_EQ(counter.beeps, 4);
    EXPECT_EQ(earlier.keys, 1);
    QCoreApplication::instance()->removeEventFilter(&earlier);
}
