#pragma once

#include <QList>
#include <QRect>

class QWidget;

namespace kqm::platform {

// Centres a window on its screen: left = (screen width - width) / 2, likewise top.
void centreOnScreen(QWidget* window);

// A remembered window rectangle brought onto the screens as they are now
// (their available areas, the primary first): it stays on the screen it
// overlaps most, shrunk to fit and moved inside; a rectangle off every
// screen goes to the primary one.
QRect keepOnScreens(const QRect& window, const QList<QRect>& areas);

// The available areas of the screens now attached, the primary first.
QList<QRect> availableScreenAreas();

} // namespace kqm::platform
