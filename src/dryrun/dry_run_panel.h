#pragma once

#include "dryrun/executor.h"
#include "dryrun/run_report.h"
#include "dryrun/trace_compare.h"

#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace kqm::platform {
class Clock;
class ClockTimer;
} // namespace kqm::platform

namespace kqm::dryrun {

class RunPlot;
class TraceView;

// The dry run: runs the program being edited on the executor, on its own
// program time, paced by the clock (x1, x10, or as fast as it goes). Run,
// Pause, Step, Run to the chosen line and Reset; breakpoints; the watched
// values; the lines run; the plot; and what the run found.
class DryRunPanel final : public QWidget {
    Q_OBJECT
public:
    explicit DryRunPanel(platform::Clock& clock, QWidget* parent = nullptr);
    ~DryRunPanel() override;

    // Where the program's commands and the grid's chosen line (-1: none)
    // come from; asked at Reset and Run to line.
    void setProgramSource(std::function<QStringList()> commands);
    void setChosenLineSource(std::function<int()> row);
    // The listing's words of each line, for the lines run.
    void setListingSource(std::function<QStringList()> listing) { m_listing = std::move(listing); }
    void setBreakpoints(std::vector<bool> breakpoints);
    // The travel limits of the axis: "LOW,HIGH", or empty for none. The
    // window keeps them per axis.
    void setTravelLimits(const QString& axis, const QString& limits);
    QString travelLimits() const;

    void reset();
    // The program's lines may have changed: a run of other lines starts over.
    void programChanged();
    void startRun();
    void pause();
    // Run while paused or stopped, Pause while running.
    void runOrPause();
    void stepLine();
    void runToChosenLine();

    const Executor* run() const { return m_run.get(); }
    double programTime() const { return m_time; }
    bool isRunning() const { return m_running; }
    QString findings() const;
    // PNG or SVG by the name's ending; an empty text when written, else why not.
    QString savePlot(const QString& path) const;
    // A name for the plot's file: the program's, or "dry-run".
    void setPlotName(std::function<QString()> name) { m_plotName = std::move(name); }
    QString plotName() const;

    // The keys of the run (Run/Pause, Step, Reset), for a menu to show.
    QList<QAction*> runActions() const { return m_runActions; }

    // A trace of the unit running the program, shown over the model: the
    // window runs it (traceRequested) and tells the panel what comes.
    void traceStarted(const QList<RunStep>& steps, const RunSettings& settings);
    void traceSample(const TraceSample& sample);
    // What the trace came to: the report's lines, the model's run with the
    // inputs the unit reported, the readings, and the fitted acceleration
    // unit when there is one.
    void traceEnded(const QStringList& report, std::unique_ptr<Executor> model,
                    const MeasuredCurve& measured, const std::optional<AccelFit>& fit);
    // A trace that did not run: why.
    void traceRefused(const QString& why);
    void tracePhase(const QString& phase);
    bool isTracing() const;
    bool showsTrace() const;
    // The model's choices the boxes show, for a trace's model.
    RunSettings modelShown() const;
    double traceLimit() const;

signals:
    // The line the run stands at (next to run) while paused, -1 otherwise.
    void currentLineChanged(int row);
    // The user picked a line in the executed list or the plot.
    void lineChosen(int row);
    void savePlotRequested();
    void travelLimitsChanged(const QString& limits);
    void traceRequested();
    void traceStopRequested();
    // The user took a fitted acceleration unit into the model.
    void accelUnitChosen(int stepsPerSecondSquaredPerA);

private:
    void build();
    bool ensureRun();
    void tick();
    void advance(double until, qint64 lines);
    void stopped();
    // The line the run stands at for the moment shown (-1: none).
    int standingStep() const;
    void refresh();
    void appendExecuted();
    int inputPattern() const;
    void chooseTime(double seconds);
    // What the boxes say a run is to be.
    RunSettings settingsShown(QString* why) const;
    // A run made with other settings than the boxes show is made again
    // (the time limit alone is taken on where the run stands).
    void followBoxes();

    platform::Clock& m_clock;
    std::unique_ptr<platform::ClockTimer> m_timer;
    std::function<QStringList()> m_commands;
    std::function<int()> m_chosenLine;
    std::vector<bool> m_breakpoints;
    std::unique_ptr<Executor> m_run;
    QString m_runSchedule;     // the schedule the run was made with
    QStringList m_runCommands; // and the program
    QStringList m_runListing;
    std::function<QStringList()> m_listing;
    int m_ticksSincePlot = 0;
    std::function<QString()> m_plotName;
    QList<QAction*> m_runActions;
    // The newest lines run, for the list, and how many ran and are listed.
    std::deque<ExecutedLine> m_recentLines;
    qint64 m_linesRun = 0;
    qint64 m_linesListed = 0;
    double m_time = 0;     // the program time shown
    double m_lastTick = 0; // the clock's time at the last tick
    bool m_running = false;
    int m_stopBefore = -1; // Run to line: the line to stop before
    bool m_settingLimits = false;
    // The trace shown: the model's run and what the unit reported.
    std::unique_ptr<TraceView> m_trace;
    bool m_applyingFit = false;
    void useFit();
    void leaveTrace();
    void showTraceButtons();

public:
    QPushButton* cmdDryRun = nullptr;
    QPushButton* cmdDryPause = nullptr;
    QPushButton* cmdDryStep = nullptr;
    QPushButton* cmdDryRunToLine = nullptr;
    QPushButton* cmdDryReset = nullptr;
    QPushButton* cmdDrySavePlot = nullptr;
    QPushButton* cmdDryTrace = nullptr;
    QPushButton* cmdDryTraceStop = nullptr;
    QPushButton* cmdDryUseFit = nullptr;
    QLabel* lblDryTrace = nullptr;
    QComboBox* cboDrySpeed = nullptr;
    QLabel* lblDryWatch = nullptr;
    QLabel* lblDryFindings = nullptr;
    QLabel* lblDryModel = nullptr;
    QCheckBox* chkDryInput[4] = {};
    QLineEdit* txtDrySchedule = nullptr;
    QDoubleSpinBox* spnDryTimeLimit = nullptr;
    QCheckBox* chkDryTravel = nullptr;
    QCheckBox* chkDryMovesHold = nullptr;
    QSpinBox* spnDryAccelUnit = nullptr;
    QSpinBox* spnDryTravelLow = nullptr;
    QSpinBox* spnDryTravelHigh = nullptr;
    QListWidget* lstDryExecuted = nullptr;
    RunPlot* pltDryRun = nullptr;
};

} // namespace kqm::dryrun
