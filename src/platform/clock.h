#pragma once

#include <QElapsedTimer>

namespace kqm::platform {

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
};

class SystemClock final : public Clock {
public:
    SystemClock() { m_timer.start(); }
    double now() const override;
    void Delay(double seconds) override;
    void waitWithoutYield(double seconds) override;

private:
    QElapsedTimer m_timer;
};

} // namespace kqm::platform
