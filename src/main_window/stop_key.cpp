#include "main_window/stop_key.h"

#include <QKeyEvent>

namespace kqm::ui {

StopKeyFilter::StopKeyFilter(QKeySequence key, std::function<void()> stop, QObject* parent)
    : QObject(parent), m_key(std::move(key)), m_stop(std::move(stop)) {}

bool StopKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (QKeySequence(key->keyCombination()) == m_key) {
            // Auto-repeat sends nothing more: one press, one stop frame.
            if (!key->isAutoRepeat())
                m_stop();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kqm::ui
