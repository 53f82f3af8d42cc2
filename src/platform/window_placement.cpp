#include "platform/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace kqm::platform {

void centreOnScreen(QWidget* window) {
    const QScreen* display = window->screen();
    if (!display)
        return;
    const QRect area = display->availableGeometry();
    window->move(area.x() + std::max(0, (area.width() - window->width()) / 2),
                 area.y() + std::max(0, (area.height() - window->height()) / 2));
}

QRect firstWindowPlace(const QSize& wanted, const QRect& area) {
    const QSize most(area.width() * 9 / 10, area.height() * 9 / 10);
    const QSize size = wanted.boundedTo(most);
    return QRect(QPoint(area.x() + (area.width() - size.width()) / 2,
                        area.y() + (area.height() - size.height()) / 2),
                 size);
}

QRect keepOnScreens(const QRect& window, const QList<QRect>& areas) {
    if (areas.isEmpty() || !window.isValid())
        return window;
    QRect area = areas.first();
    qint64 bestOverlap = 0;
    for (const QRect& candidate : areas) {
        const QRect overlap = candidate.intersected(window);
        const qint64 size = qint64(overlap.width()) * overlap.height();
        if (size > bestOverlap) {
            bestOverlap = size;
            area = candidate;
        }
    }
    const QSize size = window.size().boundedTo(area.size());
    const int x = std::clamp(window.x(), area.x(), area.x() + area.width() - size.width());
    const int y = std::clamp(window.y(), area.y(), area.y() + area.height() - size.height());
    return QRect(QPoint(x, y), size);
}

QList<QRect> availableScreenAreas() {
    QList<QRect> areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen())
            areas << screen->availableGeometry();
    }
    return areas;
}

} // namespace kqm::platform
