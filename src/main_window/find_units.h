#pragma once

class QWidget;

namespace kqm::ui {

struct Session;

// Setup > Find Units: the dialog, and the scan of the line behind it on the
// open port or, when none is open, on the port of the stored settings (closed
// again afterwards). Returns the axis the user chose, or -1.
int findUnits(Session& session, QWidget* dialogParent);

} // namespace kqm::ui
