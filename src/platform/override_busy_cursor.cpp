#include "platform/override_busy_cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace kqm::platform {

void OverrideBusyCursor::ShowBusyCursor() {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    ++m_depth;
}

void OverrideBusyCursor::ShowNormalCursor() {
    // Never pop a cursor that somebody else pushed.
    if (m_depth == 0)
        return;
    --m_depth;
    QGuiApplication::restoreOverrideCursor();
}

} // namespace kqm::platform
