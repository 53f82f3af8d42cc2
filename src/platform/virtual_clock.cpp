#include "platform/virtual_clock.h"

#include <algorithm>

namespace kqm::platform {

void VirtualClock::advance(double seconds) {
    if (!(seconds > 0))
        return;
    m_delayed += seconds;
    const double end = m_now + seconds;
    if (m_listeners.empty()) {
        m_now = end;
        return;
    }
    while (m_now < end) {
        m_now = std::min(end, m_now + Step);
        for (const auto& listener : m_listeners)
            listener(m_now);
    }
}

} // namespace kqm::platform
