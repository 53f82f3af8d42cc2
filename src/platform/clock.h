#pragma once

#include <QElapsedTimer>

#include <functional>
#include <memory>

namespace kqm::platform {

// A one-shot timer on a clock's time. It calls back from the event loop (on a
// virtual clock: from a wait that yields) once its time has passed, so work
// that recurs between user actions sleeps instead of waiting in a loop.
// Destroying it cancels it.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
    // Starts, or starts again, to fire after the given time.
    virtual void start(double seconds) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Time as the link sees it: a monotonic count of seconds, a wait that lets the
// window system run, and a wait that does not. Tests swap in a virtual clock so
// that minutes of protocol pauses pass in no real time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
    // Waits while pending events are processed; the process sleeps meanwhile.
    virtual void Delay(double seconds) = 0;
    // Waits without processing events.
    virtual void waitWithoutYield(double seconds) = 0;
    // A stopped one-shot timer that calls timeout when it fires.
    virtual std::unique_ptr<ClockTimer> createTimer(std::function<void()> timeout) = 0;
};

class SystemClock final : public Clock {
public:
    SystemClock() { m_timer.start(); }
    double now() const override;
    void Delay(double seconds) override;
    void waitWithoutYield(double seconds) override;
    std::unique_ptr<ClockTimer> createTimer(std::function<void()> timeout) override;

private:
    QElapsedTimer m_timer;
};

} // namespace kqm::platform
