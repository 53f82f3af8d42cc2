#pragma once

#include "platform/clock.h"

#include <functional>
#include <vector>

namespace kqm::platform {

// Virtual time for tests and the in-process simulated unit: a wait advances the
// time at once, in small steps, and tells every listener so that a simulated
// device can act at the moments it would act on the wire. Timers fire where the
// event loop would run them: in a yielding wait, or when a test lets time pass
// with advance(); never in a wait without yield.
class VirtualClock final : public Clock {
public:
    using Listener = std::function<void(double now)>;

    VirtualClock() = default;
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;
    ~VirtualClock() override;

    double now() const override { return m_now; }
    void Delay(double seconds) override { advance(seconds); }
    void waitWithoutYield(double seconds) override { pass(seconds, false); }
    std::unique_ptr<ClockTimer> createTimer(std::function<void()> timeout) override;

    // Lets time pass as the idle event loop would: listeners hear every step,
    // due timers fire.
    void advance(double seconds) { pass(seconds, true); }
    void addListener(Listener listener) { m_listeners.push_back(std::move(listener)); }
    double totalDelayed() const { return m_delayed; }

    static constexpr double Step = 0.001;

private:
    class Timer;
    void pass(double seconds, bool fireTimers);
    // The earliest time a running timer is due, or a negative number.
    double nextDue() const;
    void fireDueTimers();
    void forget(Timer* timer);

    double m_now = 0.0;
    double m_delayed = 0.0;
    std::vector<Listener> m_listeners;
    std::vector<Timer*> m_timers;
};

} // namespace kqm::platform
