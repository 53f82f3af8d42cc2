#include "platform/virtual_clock.h"

#include <algorithm>

namespace kqm::platform {

class VirtualClock::Timer final : public ClockTimer {
public:
    Timer(VirtualClock& clock, std::function<void()> timeout)
        : m_clock(&clock), m_timeout(std::move(timeout)) {}
    ~Timer() override {
        if (m_clock)
            m_clock->forget(this);
    }
    void start(double seconds) override {
        m_due = (m_clock ? m_clock->now() : 0.0) + std::max(0.0, seconds);
        m_active = true;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    VirtualClock* m_clock;
    std::function<void()> m_timeout;
    double m_due = 0.0;
    bool m_active = false;
};

VirtualClock::~VirtualClock() {
    // A timer that outlives its clock never fires.
    for (Timer* timer : m_timers) {
        timer->m_clock = nullptr;
        timer->m_active = false;
    }
}

std::unique_ptr<ClockTimer> VirtualClock::createTimer(std::function<void()> timeout) {
    auto timer = std::make_unique<Timer>(*this, std::move(timeout));
    m_timers.push_back(timer.get());
    return timer;
}

void VirtualClock::forget(Timer* timer) {
    m_timers.erase(std::remove(m_timers.begin(), m_timers.end(), timer), m_timers.end());
}

double VirtualClock::nextDue() const {
    double due = -1.0;
    for (const Timer* timer : m_timers) {
        if (timer->m_active && (due < 0 || timer->m_due < due))
            due = timer->m_due;
    }
    return due;
}

void VirtualClock::fireDueTimers() {
    // Each timer due now fires once; one started again meanwhile for no time
    // fires at the next step, so a callback cannot hold the clock still.
    std::vector<Timer*> due;
    for (Timer* timer : m_timers) {
        if (timer->m_active && timer->m_due <= m_now)
            due.push_back(timer);
    }
    for (Timer* timer : due) {
        // A callback may have stopped, restarted or destroyed another one.
        if (std::find(m_timers.begin(), m_timers.end(), timer) == m_timers.end() ||
            !timer->m_active || timer->m_due > m_now)
            continue;
        timer->m_active = false;
        timer->m_timeout();
    }
}

void VirtualClock::pass(double seconds, bool fireTimers) {
    if (!(seconds > 0))
        return;
    m_delayed += seconds;
    const double end = m_now + seconds;
    if (fireTimers)
        fireDueTimers();
    // A callback's own waits may carry the time past the end.
    while (m_now < end) {
        double next = m_listeners.empty() ? end : m_now + Step;
        if (fireTimers) {
            const double due = nextDue();
            if (due > m_now)
                next = std::min(next, due);
        }
        m_now = std::min(end, next);
        for (const auto& listener : m_listeners)
            listener(m_now);
        if (fireTimers)
            fireDueTimers();
    }
}

} // namespace kqm::platform
