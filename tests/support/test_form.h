#pragma once

#include "main_window/main_window.h"
#include "main_window/session.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

namespace kqm::test {

// The main window together with the session it shows, as main() holds
// them: the session is made first and outlives the window.
struct SessionOwner {
    explicit SessionOwner(ui::Services services) : session(services) {}
    ui::Session session;
};
class TestForm final : private SessionOwner, public ui::Form1 {
public:
    explicit TestForm(ui::Services services) : SessionOwner(services), ui::Form1(session) {}
};

// Answers the next modal dialog: the driver fills it in and presses a
// button. It gets nullptr when no modal dialog is open.
inline void AnswerModal(std::function<void(QDialog*)> driver) {
    QTimer::singleShot(0, [driver = std::move(driver)] {
        driver(qobject_cast<QDialog*>(QApplication::activeModalWidget()));
    });
}

} // namespace kqm::test
