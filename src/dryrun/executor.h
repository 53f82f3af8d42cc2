#pragma once

#include "dryrun/motion_model.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace kqm::dryrun {

// Inputs switched at a moment of program time (seconds from the start).
struct InputChange {
    double at = 0;
    int pattern = 0;
};

// One line of a program as the executor runs it: the command taken apart,
// with its branch already resolved to the index of the line it goes to.
struct RunStep {
    char letter = 0;
    std::array<qint64, 3> operands{};
    bool go = false; // "N" or "P" that moves
    int line = 0;    // the line number the user sees
    int address = 0; // in the unit's memory
    QString text;    // the command as stored, for traces
    int target = -1; // where a loop, goto or until branches
    QString problem; // why the line cannot run, when it cannot
};

// "0:5,2.5:0": the inputs' pattern 5 from 0 s and 0 from 2.5 s of program
// time; nothing, with the reason, for a text that is not such a list.
std::optional<QList<InputChange>> parseInputSchedule(const QString& text, QString* why);

// The program rows' stored commands, line 1 first.
QList<RunStep> stepsFromCommands(const QStringList& commands);
// The index of the line that starts at the address, or -1.
int stepAtAddress(const QList<RunStep>& steps, qint64 address);
// Resolves each branch by address (loops and gotos; untils when their third
// operand is an address too) and marks a branch to no line's start.
void resolveAddressBranches(QList<RunStep>& steps, bool untilByAddress);

struct RunSettings {
    // The command table gives no unit for A; this is the model's.
    double stepsPerSecondSquaredPerA = 1000;
    // Whether a move holds the program until it ends (otherwise only F, and
    // the next move, wait for it).
    bool movesHold = false;
    qint64 home = 0;
    double limit = 60;
    QList<InputChange> inputs;
    // Keep the executed lines and the moves, for plots and the line a time
    // falls in. Kept within recordLimit each: past it every other one goes,
    // and from then on one in two is kept (then one in four...), so that a
    // long run keeps an even sample of itself in bounded memory.
    bool record = false;
    qsizetype recordLimit = 200000;
    // Inputs come from outside (a unit's, the user's switches): a program that
    // waits for them holds until setInputs() instead of running to the limit.
    bool holdForInputs = false;
    // Where the unit stands when the run starts.
    qint64 acceleration = 16;
    qint64 base = 500;
    qint64 max = 1500;
    qint64 position = 0;
    bool clockwise = true;
    int outputs = 0;
};

// Limit: no Quit within the time limit (or a program found to circle for
// ever). TooManyLines: more lines ran at one moment than any real program
// runs without time passing; where it would go from there is not known.
enum class RunEnd { Running, Quit, Limit, NotSimulated, TooManyLines };

struct ExecutedLine {
    double at = 0;
    int step = 0; // index into the program
    qint64 position = 0;
    int outputs = 0;
};

// Every executed line as it runs (a trace written as it comes).
using LineWatcher = std::function<void(const ExecutedLine&)>;

// Runs a program on its own clock: each line takes no time, waits and
// finishing moves do. By default a move does not hold the program; F waits
// for it, and a move waits for the move before it.
class Executor {
public:
    Executor(QList<RunStep> steps, RunSettings settings, LineWatcher watcher = {});

    // Runs the next line; false once the run has ended.
    bool step();
    // Runs until the program time passes `time`, the run ends or holds, or
    // `maxLines` lines have run (no bound when negative); with breakpoints,
    // stops before a marked line too (after at least one line). True when it
    // stopped at a breakpoint.
    bool runUntil(double time, const std::vector<bool>* breakpoints = nullptr,
                  qint64 maxLines = -1);
    void run() { runUntil(m_settings.limit); }
    // Another time limit for the rest of the run.
    void setLimit(double seconds) { m_settings.limit = onTick(seconds); }
    // How fast the motor goes at a time on the run's clock.
    double speedAt(double time) const;

    double now() const { return m_now; }
    int next() const { return m_next; }
    RunEnd end() const { return m_end; }
    // The line where the run ended (index), and why, for the report. The
    // run's time is always program time: a run stopped where no time
    // passes ends at that moment, not at the limit.
    int endStep() const { return m_endStep; }
    QString endReason() const { return m_reason; }
    QString finding() const { return m_finding; }

    qint64 position() const { return positionAt(m_now); }
    // Where the motor comes to rest: a move still running at the end runs out.
    qint64 restingPosition() const;
    // When it comes to rest: the end of that run-out, else now (a slew that
    // was not stopped never rests: now).
    double restingTime() const;
    // Where the motor stood at the start, in the program's coordinates.
    qint64 startPosition() const { return m_start; }
    qint64 positionAt(double time) const;
    double speed() const;
    bool moving() const;
    bool clockwise() const { return m_clockwise; }
    qint64 acceleration() const { return m_accel; }
    qint64 baseSpeed() const { return m_base; }
    qint64 maxSpeed() const { return m_max; }
    int outputs() const { return m_outputs; }
    int inputs() const { return inputsAt(m_now); }
    // The inputs from `time` on (the run's time if later); they replace the
    // schedule, and release a run that holds for them.
    void setInputs(int pattern, double time);
    bool holding() const { return m_held; }
    bool movingAt(double time) const;
    // Each loop that is counting: its line index and the repeats left.
    QList<QPair<int, int>> loopsRemaining() const;
    qint64 linesExecuted() const { return m_executed; }
    // The travel: every position the motor passes, in the program's own
    // coordinates (a Z gives new ones; the travel before it is counted in
    // them), the run-out of a move still running at the end included.
    qint64 lowest() const { return m_lowest; }
    // Whether the program time so far depends on the motion model (a wait
    // for a move), and not only on waits and inputs.
    bool timedByModel() const { return m_timedByModel; }
    qint64 highest() const { return m_highest; }
    // The travel up to a moment (not before the run's last wait began): the
    // run may have gone on past the moment a view shows.
    QPair<qint64, qint64> travelAt(double time) const;
    // The line run last (index; -1 before the first): where the run stands
    // while a wait of that line goes on.
    int lastStep() const { return m_lastStep; }

    const QList<RunStep>& steps() const { return m_steps; }
    const RunSettings& settings() const { return m_settings; }
    // What record kept: every line, or an even sample of a long run.
    const QList<ExecutedLine>& executed() const { return m_trace; }
    const QList<MotionProfile>& moves() const { return m_moves; }
    // The model's choices in force, in words.
    QStringList assumptions() const;

private:
    void execute(const RunStep& step);
    void startMove(qint64 distance, bool clockwise);
    void moveTo(qint64 target);
    bool waitForMove();
    void stopMotion();
    void settle(qint64 position);
    void wait(double seconds);
    void waitUntil(double time);
    int inputsAt(double time) const;
    std::optional<double> nextInputChange() const;
    void finish(RunEnd end, int step, const QString& reason);
    void spinning();
    // What decides the run's future while no time passes: the same state
    // twice at one moment means the program circles for ever.
    struct ControlState {
        int next = 0;
        std::vector<int> loops;
        int outputs = 0;
        bool clockwise = true;
        qint64 registration = 0;
        std::optional<qint64> target;
        int lastMove = 0;
        qint64 lastOperand = 0;
        qint64 accel = 0, base = 0, max = 0, position = 0;
        bool operator==(const ControlState&) const = default;
    };
    ControlState controlState() const;
    void watchForCircles();
    QString circledLines() const;
    void note(qint64 position);
    void keepLine(const ExecutedLine& line);
    void keepMove(const MotionProfile& move);
    // The program gave the position register a value before anything moved:
    // what went before was in no coordinates of the program's.
    void rebase(qint64 position);

    QList<RunStep> m_steps;
    RunSettings m_settings;
    double m_now = 0;
    int m_next = 0;
    RunEnd m_end = RunEnd::Running;
    int m_endStep = -1;
    QString m_reason;
    QString m_finding;

    qint64 m_accel;
    qint64 m_base;
    qint64 m_max;
    qint64 m_registration = 0;      // the last "N" operand without a go
    std::optional<qint64> m_target; // a "P" without a go
    enum class LastMove { None, Relative, Absolute } m_lastMove = LastMove::None;
    qint64 m_lastOperand = 0;
    bool m_clockwise;
    int m_outputs;
    qint64 m_position; // when no move runs
    std::optional<MotionProfile> m_motion;
    // The move before: a wait for it may carry the run's time past a moment
    // that is asked about afterwards.
    std::optional<MotionProfile> m_previousMotion;
    double m_settledAt = 0;
    qint64 m_lowest;
    qint64 m_highest;
    bool m_moved = false; // a move or a slew has started
    int m_lastStep = -1;
    // Where the last wait began, and the travel then.
    double m_waitFrom = 0;
    qint64 m_lowBeforeWait = 0, m_highBeforeWait = 0;
    qint64 m_start;

    std::vector<int> m_loops; // repeats left per line, -1 when not counting
    bool m_timedByModel = false;
    qint64 m_executed = 0;
    double m_lastTime = 0;
    qint64 m_linesAtThisMoment = 0;
    // Brent's cycle search over the states at one moment.
    std::optional<ControlState> m_snapshot;
    qint64 m_sinceSnapshot = 0;
    qint64 m_snapshotPower = 1;
    std::array<int, 64> m_recent{}; // the last lines run, for naming a circle
    bool m_held = false;
    std::optional<int> m_userInputs;
    double m_userInputsAt = 0;

    LineWatcher m_watcher;
    QList<ExecutedLine> m_trace;
    QList<MotionProfile> m_moves;
    qint64 m_linesSeen = 0, m_lineStride = 1;
    qint64 m_movesSeen = 0, m_moveStride = 1;
    bool m_lastMoveKept = false; // m_moves.last() is the move in progress
};

QString runEndName(RunEnd end);

} // namespace kqm::dryrun
