// How the executor finds a program that circles for ever while no time
// passes, and names the lines it circles through.
#include "dryrun/executor.h"

#include <set>

namespace kqm::dryrun {

namespace {

constexpr qint64 MaxLinesAtOneMoment = 10000000;

QString patternText(int pattern) {
    QStringList bits;
    for (int input = 1; input <= 4; ++input)
        bits << QStringLiteral("%1-%2").arg(input).arg(pattern & (1 << (input - 1)) ? "on" : "off");
    return bits.join(' ');
}

} // namespace

Executor::ControlState Executor::controlState() const {
    ControlState state;
    state.next = m_next;
    state.loops = m_loops;
    state.outputs = m_outputs;
    state.clockwise = m_clockwise;
    state.registration = m_registration;
    state.target = m_target;
    state.lastMove = static_cast<int>(m_lastMove);
    state.lastOperand = m_lastOperand;
    state.accel = m_accel;
    state.base = m_base;
    state.max = m_max;
    state.position = m_motion ? m_motion->from : m_position;
    return state;
}

// A program that runs on while no time passes either ends, or comes back to
// a state it was in: then it circles for ever (or polls inputs that only a
// later change can answer). Snapshots at doubling distances find the circle
// within twice its length; states are compared only on the same line.
void Executor::watchForCircles() {
    if (m_now > m_lastTime || m_held) {
        m_lastTime = m_now;
        m_linesAtThisMoment = 0;
        m_snapshot.reset();
        m_sinceSnapshot = 0;
        m_snapshotPower = 1;
        return;
    }
    if (m_snapshot && m_snapshot->next == m_next && *m_snapshot == controlState()) {
        spinning();
        return;
    }
    // Nested loops can count for ages without repeating a state: no program
    // of the unit's size does useful work that long without time passing.
    if (++m_linesAtThisMoment > MaxLinesAtOneMoment) {
        finish(RunEnd::TooManyLines, m_next - 1,
               QStringLiteral("more than %L1 lines ran without time passing (no wait, no move); "
                              "the run stops there")
                   .arg(MaxLinesAtOneMoment));
        return;
    }
    if (++m_sinceSnapshot >= m_snapshotPower) {
        m_snapshot = controlState();
        m_sinceSnapshot = 0;
        m_snapshotPower *= 2;
    }
}

void Executor::spinning() {
    m_snapshot.reset();
    m_sinceSnapshot = 0;
    m_snapshotPower = 1;
    // Polling the inputs: nothing changes until they do.
    if (const std::optional<double> change = nextInputChange()) {
        waitUntil(*change);
        return;
    }
    if (m_settings.holdForInputs) {
        m_held = true;
        return;
    }
    // It would circle until the limit and beyond; the run stops where it
    // began to, at that moment of program time.
    m_finding = QStringLiteral("lines %1 repeat for ever without time passing (no wait, no "
                               "move, inputs %2 never change)")
                    .arg(circledLines(), patternText(inputsAt(m_now)));
    finish(RunEnd::Limit, m_next - 1, QString());
}

QString Executor::circledLines() const {
    std::set<int> lines;
    for (const int index : m_recent)
        if (index >= 0)
            lines.insert(m_steps.at(index).line);
    QStringList names;
    for (const int line : lines)
        names << QString::number(line);
    return names.join(QStringLiteral(", "));
}

} // namespace kqm::dryrun
