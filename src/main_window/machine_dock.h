#pragma once

#include <QDockWidget>

#include <functional>

class QMenu;

namespace kqm::ui {

class MachineView;
struct Session;

// A machine of several units, in a dock below the tabs: the machine file
// opened from the File menu or the recent machines, and a unit's program
// opened from its row.
class MachineDock final : public QDockWidget {
    Q_OBJECT
public:
    struct Window {
        // The file the window shows ("" for the working copy).
        std::function<QString()> openProgram;
        // Opens a unit's program file and moves to the unit's axis.
        std::function<void(int axis, const QString& program)> openUnit;
    };

    MachineDock(Session& session, QMenu* recentMachines, Window window, QWidget* parent);

    // False after a message when the file is refused.
    bool openMachineFile(const QString& path);
    // File > Open Machine: a machine file chosen in the file dialog.
    void chooseMachineFile();
    MachineView* view() const { return m_view; }
    // File > Recent Machines, as the settings keep them.
    void showRecentMachines();

private:
    Session& m_session;
    QMenu* m_recentMachines;
    MachineView* m_view;
};

} // namespace kqm::ui
