#pragma once

#include <QKeySequence>
#include <QObject>

#include <functional>

namespace kqm::ui {

// Stop Motion's key, wherever the focus is: the main window, a modal dialog,
// a message box, a file dialog. Watches every key press of the application;
// a shortcut on a window's action does not reach a modal dialog's keys. The
// main window's own shortcut still takes the key while that window is
// active, so the stop is never sent twice for one press.
class StopKeyFilter final : public QObject {
public:
    StopKeyFilter(QKeySequence key, std::function<void()> stop, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QKeySequence m_key;
    std::function<void()> m_stop;
};

} // namespace kqm::ui
