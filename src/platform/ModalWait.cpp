#include "ModalWait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <utility>

namespace platform {

void WaitForMessages(int maxMs) {
    // The timer bounds the wait: without it a loop whose condition changes outside the event
    // loop would block for good.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxMs > 0 ? maxMs : 0);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

namespace {
BeepHandler& BeepRef() {
    static BeepHandler handler;
    return handler;
}
} // namespace

BeepHandler SetBeepHandler(BeepHandler handler) {
    return std::exchange(BeepRef(), std::move(handler));
}

void Beep() {
    if (BeepRef()) BeepRef()();
}

// An application event filter sees every event of every object before its receiver does;
// the one installed last is asked first, so it overrides the filters before it.
class ScopedInputBlock::Filter : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        // A key bound to a shortcut arrives as the shortcut, never as a key press.
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            Beep();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

ScopedInputBlock::ScopedInputBlock() : filter_(std::make_unique<Filter>()) {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(filter_.get());
}

// Destroying the filter removes it from the application.
ScopedInputBlock::~ScopedInputBlock() = default;

} // namespace platform
