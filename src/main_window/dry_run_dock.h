#pragma once

#include <QDockWidget>

class QMainWindow;
class QMenu;

#include <functional>
#include <vector>

namespace kqm::dryrun {
class DryRunPanel;
}

namespace kqm::ui {

class ProgramTab;
struct Session;

// The dry run beside the grid: the program being edited, run on the
// executor; breakpoints and the line it stands at are marked in the grid.
class DryRunDock final : public QDockWidget {
    Q_OBJECT
public:
    DryRunDock(Session& session, ProgramTab& programTab, std::function<void()> showProgramTab,
               QWidget* parent);

    // Each opening runs the program as it is now.
    void open();
    void toggleBreakpoint();
    // The travel limits are the axis's: kept in the settings for each axis.
    void showTravelLimits();
    dryrun::DryRunPanel* panel() const { return m_panel; }
    // The run's keys (Run/Pause, Step, Reset) in the menu, for as long as
    // the dock shows.
    void addRunActions(QMenu* menu);

    // Runs the program on the unit and shows its motion over the model's.
    void traceOnUnit();

private:
    QString travelLimitsPreference() const;
    QString accelUnitPreference() const;
    void fitWidth();
    void savePlot();

    Session& m_session;
    ProgramTab& m_programTab;
    std::function<void()> m_showProgramTab;
    dryrun::DryRunPanel* m_panel;
    std::vector<bool> m_breakpoints;
    int m_line = -1;
};

// Two docks of the window shown at once share the first one's place as tabs,
// so that neither squeezes the tabs of the window nor draws over the other.
void shareWhenBothShown(QMainWindow* window, QDockWidget* first, QDockWidget* second);

} // namespace kqm::ui
