// The countdown the blocking socket operations wait on: its Caption rules, its results, and
// the user's input it keeps away from the application while it is waited on.

#include "net/Wait.h"
#include "platform/ModalWait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <stdexcept>
#include <vector>

TEST(Countdown, CaptionGivesTheStartValueAndGetsItBack) {
    // Caption before Start, after Start, and after Stop.
    const std::vector<std::vector<std::string>> cases = {
        {"60", "60", "60"}, {"  7 s", "  7 s", "7"}, {"abc", "15", "15"},
        {"0", "15", "15"},  {"", "15", "15"},        {"-5", "15", "15"}};
    for (const auto& c : cases) {
        TWait w;
        w.SetCaption(c[0]);
        w.Start();
        EXPECT_TRUE(w.Running()) << c[0];
        EXPECT_EQ(w.Caption(), c[1]) << c[0];
        w.SetCaption("3"); // counted down meanwhile
        w.Stop();
        EXPECT_FALSE(w.Running());
        EXPECT_EQ(w.ModalResult(), 1);
        EXPECT_EQ(w.Caption(), c[2]) << c[0];
    }
}

TEST(Countdown, TicksDownToATimeOutOrStopsEarly) {
    TWait w;
    w.SetInterval(10);
    w.SetCaption("3");
    std::vector<std::string> events;
    int waitingResult = -1;
    w.OnWait = [&](TCustomWait* s, int32_t n) {
        events.push_back(s->Caption() + ">" + std::to_string(n));
        if (n == 3) s->Stop();
    };
    w.OnWaiting = [&](TCustomWait* s) { waitingResult = s->ModalResult(); };
    w.OnWaitStart = [&](TCustomWait*) { events.push_back("start"); };
    w.OnWaitStop = [&](TCustomWait*) { events.push_back("stop"); };
    w.OnTimeout = [&](TCustomWait* s) { events.push_back("timeout " + s->Caption()); };
    w.SetModalResult(1);
    w.WaitForIt();
    EXPECT_EQ(waitingResult, 0);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "3>2", "2>1", "1>0", "timeout 3"}));
    EXPECT_EQ(w.ModalResult(), 2);
    EXPECT_FALSE(w.Running());

    events.clear();
    w.SetCaption("5"); // stopped by the handler on its second tick
    w.WaitForIt();
    EXPECT_EQ(events, (std::vector<std::string>{"start", "5>4", "4>3", "stop"}));
    EXPECT_EQ(w.ModalResult(), 1);
    EXPECT_EQ(w.Caption(), "5");
}

TEST(Countdown, WaitForItSwallowsInputWithABeepAndHandsItBackAfter) {
    struct Receiver : QObject {
        std::vector<QEvent::Type> got;
        bool event(QEvent* e) override {
            got.push_back(e->type());
            return QObject::event(e);
        }
    } target;
    const auto sendEach = [&](const std::vector<QEvent::Type>& types) {
        for (QEvent::Type t : types) {
            QEvent e(t);
            QCoreApplication::sendEvent(&target, &e);
        }
    };
    const std::vector<QEvent::Type> input = {QEvent::KeyPress, QEvent::Shortcut,
                                             QEvent::MouseButtonPress, QEvent::MouseButtonDblClick};
    const std::vector<QEvent::Type> other = {QEvent::KeyRelease, QEvent::MouseButtonRelease};
    int beeps = 0;
    const platform::BeepHandler previous = platform::SetBeepHandler([&] { ++beeps; });

    TWait w;
    w.SetInterval(0);
    w.OnWaiting = [&](TCustomWait* s) {
        sendEach(input);
        sendEach(other);
        s->Stop();
    };
    w.WaitForIt();
    EXPECT_EQ(beeps, 4);
    EXPECT_EQ(target.got, other);

    // The input comes back also when an exception leaves the wait.
    w.OnWaiting = [](TCustomWait*) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(w.WaitForIt(), std::runtime_error);
    target.got.clear();
    sendEach(input);
    EXPECT_EQ(target.got, input);
    EXPECT_EQ(beeps, 4);
    platform::SetBeepHandler(previous);
}
