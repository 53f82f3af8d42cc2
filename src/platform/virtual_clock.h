#pragma once

#include "platform/clock.h"

#include <functional>
#include <vector>

namespace kqm::platform {

// Virtual time for tests and the in-process simulated unit: a wait advances the
// time at once, in small steps, and tells every listener so that a simulated
// device can act at the moments it would act on the wire.
class VirtualClock final : public Clock {
public:
    using Listener = std::function<void(double now)>;

    double now() const override { return m_now; }
    void Delay(double seconds) override { advance(seconds); }
    void waitWithoutYield(double seconds) override { advance(seconds); }

    void advance(double seconds);
    void addListener(Listener listener) { m_listeners.push_back(std::move(listener)); }
    double totalDelayed() const { return m_delayed; }

    static constexpr double Step = 0.001;

private:
    double m_now = 0.0;
    double m_delayed = 0.0;
    std::vector<Listener> m_listeners;
};

} // namespace kqm::platform
