#pragma once

#include "files/machine_file.h"
#include "transfer/machine_run.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kqm::platform {
class ClockTimer;
}

namespace kqm::ui {

struct Session;

// The units of a machine file: axis, model, program file, state and, on a
// KQM20, the live position, polled one unit at a time in the background (any
// exchange or Stop comes first). Check All and Send All run over every unit
// with a progress bar each; Stop Motion ends them with the unit at hand.
class MachineView final : public QWidget {
    Q_OBJECT
public:
    explicit MachineView(Session& session, QWidget* parent = nullptr);
    ~MachineView() override;

    void setMachine(const QString& path, const files::Machine& machine);
    const QString& machinePath() const { return m_path; }
    const files::Machine& machine() const { return m_machine; }

    void checkAll();
    void sendAll();
    // Names the program file of the chosen unit (the machine is then unsaved).
    void useProgramForChosenUnit(const QString& program);
    bool save();
    // The program file open in the editor; empty when it has no name yet.
    void setOpenProgramSource(std::function<QString()> source) {
        m_openProgram = std::move(source);
    }

    enum Column {
        AxisColumn,
        ModelColumn,
        ProgramColumn,
        StateColumn,
        PositionColumn,
        ProgressColumn
    };

signals:
    // A unit's row was double-clicked: its program and axis.
    void unitOpened(int axis, const QString& program);

private:
    void run(bool send);
    void showResult(int row, const transfer::MachineUnitResult& result);
    void pollNextPosition();
    // The buttons follow the link's busy state: a run, or any exchange.
    void showBusy(bool busy);

    Session& m_session;
    QString m_path;
    files::Machine m_machine;
    QList<transfer::UnitState> m_states;
    QStringList m_found; // what the last check or send found of each unit, in words
    QLabel* lblMachine;
    QLabel* lblMachineSummary = nullptr; // what the last run found, counted
    QTableWidget* grdMachine;
    QList<QProgressBar*> m_bars;
    QPushButton* cmdCheckAll;
    QPushButton* cmdSendAll;
    QPushButton* cmdStopMachine;
    QPushButton* cmdUseProgram;
    QPushButton* cmdSaveMachine;
    std::unique_ptr<platform::ClockTimer> m_poll;
    int m_pollRow = -1;
    bool m_polling = false;
    std::function<QString()> m_openProgram;
};

} // namespace kqm::ui
