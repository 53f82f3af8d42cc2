#pragma once

#include <functional>

class QStatusBar;
class QWidget;

namespace kqm::ui {

struct Session;

// File > Transfer Log: every send, upload and view of this user, newest first.
void openTransferLog(Session& session, QWidget* parent);

// Setup > Find Fastest Pace: the pace test of the connected unit, its progress
// on the status line. Nothing is shown at its end when the window closes
// meanwhile (the outcome is in the transfer log).
void findFastestPace(Session& session, QStatusBar* status,
                     const std::function<bool()>& windowClosing);

} // namespace kqm::ui
