#pragma once

#include <QList>
#include <QRect>

class QWidget;

namespace kqm::platform {

// Centres a window on its screen: left = (screen width - width) / 2, likewise top,
// within the screen's available area (a window larger than it starts at its
// top left, never above it).
void centreOnScreen(QWidget* window);

// Where a window goes the first time: as large as it wants to be, but at
// most 90 % of the available area, and centred in it.
QRect firstWindowPlace(const QSize& wanted, const QRect& area);

// A remembered window rectangle brought onto the screens as they are now
// (their available areas, the primary first): it stays on the screen it
// overlaps most, shrunk to fit and moved inside; a rectangle off every
// screen goes to the primary one.
QRect keepOnScreens(const QRect& window, const QList<QRect>& areas);

// The available areas of the screens now attached, the primary first.
QList<QRect> availableScreenAreas();

} // namespace kqm::platform
