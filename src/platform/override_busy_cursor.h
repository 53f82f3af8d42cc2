#pragma once

#include "platform/busy_cursor.h"

namespace kqm::platform {

// The hourglass of the window system, pushed and popped in pairs.
class OverrideBusyCursor final : public BusyCursor {
public:
    void ShowBusyCursor() override;
    void ShowNormalCursor() override;

private:
    int m_depth = 0;
};

} // namespace kqm::platform
