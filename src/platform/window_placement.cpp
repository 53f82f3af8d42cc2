#include "platform/window_placement.h"

#include <QScreen>
#include <QWidget>

namespace kqm::platform {

void centreOnScreen(QWidget* window) {
    const QScreen* display = window->screen();
    if (!display)
        return;
    const QRect area = display->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
                 area.y() + (area.height() - window->height()) / 2);
}

} // namespace kqm::platform
