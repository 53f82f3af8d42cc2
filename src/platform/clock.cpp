#include "platform/clock.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace kqm::platform {

namespace {
int toMilliseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    return static_cast<int>(std::lround(std::min(seconds, 86400.0) * 1000.0));
}

class QtClockTimer final : public ClockTimer {
public:
    explicit QtClockTimer(std::function<void()> timeout) {
        m_timer.setSingleShot(true);
        // Nothing that recurs here needs millisecond accuracy; a coarse
        // timer lets the system group wake-ups.
        m_timer.setTimerType(Qt::CoarseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(timeout));
    }
    void start(double seconds) override { m_timer.start(toMilliseconds(seconds)); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};
} // namespace

double SystemClock::now() const {
    return static_cast<double>(m_timer.nsecsElapsed()) / 1e9;
}

void SystemClock::Delay(double seconds) {
    // A nested event loop woken by a timer: the window stays responsive and the
    // thread sleeps in the event dispatcher instead of polling.
    // The timer counts whole milliseconds; the rest of a pause such as a
    // send's 2.08 ms is slept after it, so that a pause is never short.
    const double end = now() + std::max(seconds, 0.0);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::floor(std::min(std::max(seconds, 0.0), 86400.0) * 1000.0)));
    loop.exec();
    const double left = end - now();
    if (left > 0 && left < 0.001)
        QThread::usleep(static_cast<unsigned long>(std::ceil(left * 1e6)));
}

std::unique_ptr<ClockTimer> SystemClock::createTimer(std::function<void()> timeout) {
    return std::make_unique<QtClockTimer>(std::move(timeout));
}

void SystemClock::waitWithoutYield(double seconds) {
    QThread::msleep(static_cast<unsigned long>(toMilliseconds(seconds)));
}

} // namespace kqm::platform
