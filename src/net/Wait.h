#pragma once

// A countdown in seconds that the socket's blocking operations show and wait on: Caption
// holds the count as decimal text, a timer counts it down, and WaitForIt runs the event loop
// until the countdown is stopped or runs out.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>

class TCustomWait;

// Each tick, with the count after the tick.
using TWaitEvent = std::function<void(TCustomWait* Sender, int32_t Count)>;
using TWaitNotify = std::function<void(TCustomWait* Sender)>;

class TCustomWait : public QObject {
    Q_OBJECT
  public:
    explicit TCustomWait(QObject* Owner = nullptr);

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& Value) { FCaption = Value; }
    // 0 while waiting, 1 after Stop, 2 after a time-out.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }
    // Milliseconds between ticks; at 0 the countdown never ticks and waits for Stop.
    uint16_t Interval() const { return FInterval; }
    void SetInterval(uint16_t Value);
    bool Running() const { return FRunning; }
    // Shown while a socket waits on it.
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value) { FVisible = Value; }
    // Design size.
    int Width() const { return FWidth; }
    void SetWidth(int Value) { FWidth = Value; }
    int Height() const { return FHeight; }
    void SetHeight(int Value) { FHeight = Value; }
    bool IsControl() const { return FIsControl; }
    void SetIsControl(bool Value) { FIsControl = Value; }

    // Counts down from the number Caption starts with; a Caption without one gives 15.
    virtual void Start();
    // Ends the countdown early: ModalResult 1, Caption back at the start value.
    virtual void Stop();
    // Runs the event loop until the countdown stops or runs out. Meanwhile the application's
    // key presses and mouse clicks are swallowed, each with a beep.
    virtual void WaitForIt();

    TWaitEvent OnWait;
    // Each pass of the loop in WaitForIt.
    TWaitNotify OnWaiting;
    TWaitNotify OnWaitStart;
    TWaitNotify OnWaitStop;
    TWaitNotify OnTimeout;

  protected:
    virtual void RestoreCaption();

  private:
    void Tick();
    void SetRunning(bool Value);

    std::string FCaption = "60";
    int FModalResult = 0;
    uint16_t FInterval = 1000;
    bool FRunning = false;
    bool FVisible = false;
    int FWidth = 192;
    int FHeight = 32;
    bool FIsControl = true;
    int32_t FStartValue = 60;
    QTimer FTimer;
};

class TWait : public TCustomWait {
    Q_OBJECT
  public:
    using TCustomWait::TCustomWait;
};
