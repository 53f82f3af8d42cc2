#pragma once

class QWidget;

namespace kqm::platform {

// Centres a window on its screen: left = (screen width - width) / 2, likewise top.
void centreOnScreen(QWidget* window);

} // namespace kqm::platform
