#include "dryrun/executor.h"

#include "program/command_set.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kqm::dryrun {

Executor::Executor(QList<RunStep> steps, RunSettings settings, LineWatcher watcher)
    : m_steps(std::move(steps)), m_settings(std::move(settings)), m_accel(m_settings.acceleration),
      m_base(m_settings.base), m_max(m_settings.max), m_clockwise(m_settings.clockwise),
      m_outputs(m_settings.outputs & 3), m_position(m_settings.position),
      m_lowest(m_settings.position), m_highest(m_settings.position), m_start(m_settings.position),
      m_loops(static_cast<size_t>(m_steps.size()), -1), m_watcher(std::move(watcher)) {
    m_settings.limit = onTick(m_settings.limit);
    for (InputChange& change : m_settings.inputs)
        change.at = onTick(change.at);
    std::sort(m_settings.inputs.begin(), m_settings.inputs.end(),
              [](const InputChange& a, const InputChange& b) { return a.at < b.at; });
    m_recent.fill(-1);
    if (m_steps.isEmpty())
        finish(RunEnd::Quit, -1, QStringLiteral("the program is empty"));
}

QString runEndName(RunEnd end) {
    switch (end) {
    case RunEnd::Quit:
        return QStringLiteral("quit");
    case RunEnd::Limit:
        return QStringLiteral("limit");
    case RunEnd::NotSimulated:
        return QStringLiteral("not simulated");
    case RunEnd::TooManyLines:
        return QStringLiteral("too many lines");
    case RunEnd::Running:
        break;
    }
    return QStringLiteral("running");
}

bool Executor::step() {
    if (m_end != RunEnd::Running)
        return false;
    if (m_held)
        return true;
    if (m_next >= m_steps.size()) {
        finish(RunEnd::Quit, static_cast<int>(m_steps.size()) - 1,
               QStringLiteral("ran past the last line"));
        return false;
    }
    const int index = m_next;
    const RunStep& line = m_steps.at(index);
    if (m_settings.record || m_watcher) {
        const ExecutedLine executed{m_now, index, position(), m_outputs};
        if (m_watcher)
            m_watcher(executed);
        if (m_settings.record)
            keepLine(executed);
    }
    m_recent[static_cast<size_t>(m_executed % static_cast<qint64>(m_recent.size()))] = index;
    ++m_executed;
    ++m_next;
    m_lastStep = index;
    execute(line);
    if (m_end == RunEnd::Running && m_now > m_settings.limit) {
        m_now = m_settings.limit;
        finish(RunEnd::Limit, index, QString());
    }
    if (m_end != RunEnd::Running)
        return false;
    watchForCircles();
    return m_end == RunEnd::Running;
}

bool Executor::runUntil(double time, const std::vector<bool>* breakpoints, qint64 maxLines) {
    bool first = true;
    while (m_end == RunEnd::Running && !m_held && m_now <= time && maxLines != 0) {
        if (!first && breakpoints && m_next < static_cast<int>(breakpoints->size()) &&
            (*breakpoints)[static_cast<size_t>(m_next)])
            return true;
        first = false;
        if (maxLines > 0)
            --maxLines;
        if (!step())
            break;
    }
    return false;
}

void Executor::execute(const RunStep& line) {
    const qint64 operand = line.operands[0];
    if (!line.problem.isEmpty()) {
        finish(RunEnd::NotSimulated, m_next - 1, line.problem);
        return;
    }
    switch (line.letter) {
    case 'A':
        m_accel = operand;
        break;
    case 'B':
        m_base = operand;
        break;
    case 'M':
        m_max = operand;
        break;
    case 'J':
        break; // the jog speed moves nothing in a program
    case 'Z':
        if (!waitForMove())
            break;
        if (m_moved) {
            // The travel so far, in the coordinates the program gives now.
            const qint64 shift = operand - m_position;
            m_lowest += shift;
            m_highest += shift;
            settle(operand);
        } else {
            rebase(operand);
        }
        break;
    case '+':
    case '-':
        m_clockwise = line.letter == '+';
        break;
    case 'N':
        if (!line.go) {
            m_registration = operand;
        } else if (waitForMove()) {
            m_lastMove = LastMove::Relative;
            m_lastOperand = operand;
            startMove(operand, m_clockwise);
        }
        break;
    case 'P':
        if (!line.go) {
            m_target = operand;
        } else if (waitForMove()) {
            m_lastMove = LastMove::Absolute;
            m_lastOperand = operand;
            moveTo(operand);
        }
        break;
    case 'G':
        if (!waitForMove())
            break;
        if (m_target) {
            m_lastMove = LastMove::Absolute;
            m_lastOperand = *m_target;
            m_target.reset();
        } else if (m_lastMove == LastMove::None) {
            m_lastMove = LastMove::Relative;
            m_lastOperand = m_registration;
        }
        if (m_lastMove == LastMove::Absolute)
            moveTo(m_lastOperand);
        else
            startMove(m_lastOperand, m_clockwise);
        break;
    case 'H':
        if (waitForMove())
            moveTo(m_settings.home);
        break;
    case 'S':
        if (waitForMove()) {
            m_moved = true;
            m_motion =
                MotionProfile::slew(m_position, m_clockwise, double(m_base), double(m_max),
                                    double(m_accel) * m_settings.stepsPerSecondSquaredPerA, m_now);
            if (m_settings.record)
                keepMove(*m_motion);
        }
        break;
    case '.':
        stopMotion();
        break;
    case 'F':
        if (m_motion && m_motion->distance < 0) {
            m_timedByModel = true;
            m_finding = QStringLiteral("line %1 waits for a slew to finish, which only a stop ends")
                            .arg(line.line);
            wait(std::numeric_limits<double>::infinity());
        } else {
            waitForMove();
        }
        break;
    case 'O':
        m_outputs = static_cast<int>(operand & 3);
        break;
    case '?':
        if (inputsAt(m_now) != operand)
            ++m_next;
        break;
    case '&': {
        int& left = m_loops[static_cast<size_t>(m_next - 1)];
        if (left < 0)
            left = static_cast<int>(std::clamp<qint64>(line.operands[1], 0, 65535));
        if (left > 0) {
            --left;
            m_next = line.target;
        } else {
            left = -1;
        }
        break;
    }
    case 'X':
        m_next = line.target;
        break;
    case 'W':
        if (operand < 0)
            finish(RunEnd::NotSimulated, m_next - 1, QStringLiteral("a wait of a negative time"));
        else
            wait(static_cast<double>(operand) / 1000.0);
        break;
    case 'Q':
        finish(RunEnd::Quit, m_next - 1, QString());
        break;
    case 'U': {
        const int pattern = static_cast<int>(line.operands[1]);
        if ((inputsAt(m_now) & 3) == pattern)
            break;
        if (line.target != m_next - 1) {
            m_next = line.target;
            break;
        }
        // Waiting on its own line: time runs to the next change of inputs,
        // and the line is evaluated again then.
        const std::optional<double> change = nextInputChange();
        if (!change && m_settings.holdForInputs) {
            m_held = true;
            m_next = line.target;
        } else if (!change) {
            m_finding = QStringLiteral("line %1 waits for inputs 1 and 2 to be %2, which never "
                                       "happens")
                            .arg(line.line)
                            .arg(program::SwitchStateText(pattern));
            wait(std::numeric_limits<double>::infinity());
        } else {
            waitUntil(*change);
            m_next = line.target;
        }
        break;
    }
    case 'I':
        finish(RunEnd::NotSimulated, m_next - 1,
               QStringLiteral("the input branch I: what its operands mean is not documented"));
        break;
    default:
        finish(RunEnd::NotSimulated, m_next - 1,
               line.letter ? QStringLiteral("the command %1 is not known to the executor")
                                 .arg(QChar::fromLatin1(line.letter))
                           : QStringLiteral("an empty line"));
        break;
    }
}

bool Executor::waitForMove() {
    if (!m_motion)
        return true;
    if (m_motion->distance < 0) {
        finish(RunEnd::NotSimulated, m_next - 1,
               QStringLiteral("a move or position change while the motor slews"));
        return false;
    }
    if (m_motion->end() > m_now) {
        m_timedByModel = true;
        waitUntil(m_motion->end());
    }
    if (m_end != RunEnd::Running)
        return false;
    settle(m_motion->positionAt(m_now));
    return true;
}

void Executor::startMove(qint64 distance, bool clockwise) {
    if (distance <= 0)
        return;
    m_moved = true;
    m_motion = MotionProfile::move(m_position, distance, clockwise, double(m_base), double(m_max),
                                   double(m_accel) * m_settings.stepsPerSecondSquaredPerA, m_now);
    if (m_settings.record)
        keepMove(*m_motion);
    if (m_settings.movesHold)
        waitForMove();
}

void Executor::moveTo(qint64 target) {
    startMove(std::llabs(target - m_position), target >= m_position);
}

void Executor::stopMotion() {
    if (m_motion)
        settle(m_motion->positionAt(m_now));
}

void Executor::settle(qint64 position) {
    if (m_motion && m_settings.record && m_lastMoveKept) {
        // The plot's move ends where the motor stopped.
        MotionProfile& last = m_moves.last();
        if (last.end() > m_now)
            last.cut = m_now;
    }
    if (m_motion) {
        m_previousMotion = m_motion;
        m_settledAt = m_now;
    }
    m_motion.reset();
    m_position = position;
    note(position);
}

void Executor::note(qint64 position) {
    m_lowest = std::min(m_lowest, position);
    m_highest = std::max(m_highest, position);
}

namespace {

// Every other entry goes, the last one always stays.
template <typename T> void halve(QList<T>& list) {
    QList<T> kept;
    kept.reserve(list.size() / 2 + 1);
    for (qsizetype i = (list.size() - 1) % 2; i < list.size(); i += 2)
        kept << list.at(i);
    list.swap(kept);
}

} // namespace

void Executor::keepLine(const ExecutedLine& line) {
    if (m_linesSeen++ % m_lineStride != 0)
        return;
    m_trace << line;
    if (m_trace.size() >= std::max<qsizetype>(m_settings.recordLimit, 2)) {
        halve(m_trace);
        m_lineStride *= 2;
    }
}

void Executor::keepMove(const MotionProfile& move) {
    m_lastMoveKept = m_movesSeen++ % m_moveStride == 0;
    if (!m_lastMoveKept)
        return;
    m_moves << move;
    if (m_moves.size() >= std::max<qsizetype>(m_settings.recordLimit, 2)) {
        halve(m_moves);
        m_moveStride *= 2;
    }
}

void Executor::rebase(qint64 position) {
    m_position = position;
    m_start = position;
    m_lowest = m_highest = position;
    // The lines run so far stood still where the program now says it is.
    for (ExecutedLine& line : m_trace)
        line.position = position;
}

void Executor::wait(double seconds) {
    waitUntil(onTick(m_now + seconds));
}

// Lands exactly on the moment (an input change, a move's end), never a
// rounding short of it.
void Executor::waitUntil(double time) {
    time = onTick(time);
    if (time > m_now) {
        m_waitFrom = m_now;
        m_lowBeforeWait = m_lowest;
        m_highBeforeWait = m_highest;
    }
    if (time > m_settings.limit) {
        m_now = m_settings.limit;
        if (m_motion && m_motion->over(m_now))
            settle(m_motion->positionAt(m_now));
        else if (m_motion)
            note(m_motion->positionAt(m_now));
        finish(RunEnd::Limit, m_next - 1, QString());
        return;
    }
    m_now = std::max(m_now, time);
}

qint64 Executor::positionAt(double time) const {
    if (m_motion && time >= m_motion->start)
        return m_motion->positionAt(time);
    if (m_previousMotion && time < m_settledAt)
        return m_previousMotion->positionAt(time);
    return m_motion ? m_motion->from : m_position;
}

qint64 Executor::restingPosition() const {
    if (m_motion && m_motion->distance >= 0)
        return m_motion->positionAt(m_motion->end());
    return position();
}

QPair<qint64, qint64> Executor::travelAt(double time) const {
    const qint64 standing = positionAt(time);
    // Inside the last wait the motor has gone, from where it stood when the
    // wait began, to where it stands now: a move is monotonic.
    const bool inWait = time < m_now && time >= m_waitFrom;
    const qint64 low = inWait ? m_lowBeforeWait : m_lowest;
    const qint64 high = inWait ? m_highBeforeWait : m_highest;
    return {std::min(low, standing), std::max(high, standing)};
}

double Executor::restingTime() const {
    if (m_motion && m_motion->distance >= 0)
        return std::max(m_now, m_motion->end());
    return m_now;
}

double Executor::speed() const {
    return speedAt(m_now);
}

double Executor::speedAt(double time) const {
    if (m_motion && time >= m_motion->start)
        return m_motion->speedAt(time);
    if (m_previousMotion && time >= m_previousMotion->start && time < m_settledAt)
        return m_previousMotion->speedAt(time);
    return 0.0;
}

bool Executor::moving() const {
    return m_motion && !m_motion->over(m_now);
}

int Executor::inputsAt(double time) const {
    if (m_userInputs && time >= m_userInputsAt)
        return *m_userInputs;
    int pattern = 0;
    for (const InputChange& change : m_settings.inputs) {
        if (change.at > time)
            break;
        pattern = change.pattern & 15;
    }
    return pattern;
}

std::optional<double> Executor::nextInputChange() const {
    if (m_userInputs)
        return std::nullopt;
    for (const InputChange& change : m_settings.inputs)
        if (change.at > m_now)
            return change.at;
    return std::nullopt;
}

void Executor::setInputs(int pattern, double time) {
    m_userInputs = pattern & 15;
    m_userInputsAt = std::max(onTick(time), m_now);
    if (m_held) {
        m_held = false;
        // The hold was a wait of its own, to the moment the inputs came.
        m_waitFrom = m_now;
        m_lowBeforeWait = m_lowest;
        m_highBeforeWait = m_highest;
        m_now = m_userInputsAt;
    }
}

bool Executor::movingAt(double time) const {
    if (m_motion && time >= m_motion->start)
        return !m_motion->over(time);
    return m_previousMotion && time >= m_previousMotion->start && time < m_settledAt;
}

QList<QPair<int, int>> Executor::loopsRemaining() const {
    QList<QPair<int, int>> loops;
    for (size_t i = 0; i < m_loops.size(); ++i)
        if (m_loops[i] >= 0)
            loops << qMakePair(static_cast<int>(i), m_loops[i]);
    return loops;
}

void Executor::finish(RunEnd end, int step, const QString& reason) {
    if (m_end != RunEnd::Running)
        return;
    m_end = end;
    m_endStep = step;
    m_reason = reason;
    if (m_motion && m_motion->over(m_now)) {
        settle(m_motion->positionAt(m_now));
    } else if (m_motion) {
        // A move still running runs out after the program has ended: its
        // travel counts to where it comes to rest.
        note(m_motion->positionAt(m_now));
        if (m_motion->distance >= 0)
            note(m_motion->positionAt(m_motion->end()));
    }
    if (end == RunEnd::Limit && m_finding.isEmpty())
        m_finding = QStringLiteral("no Quit within %1 s; the program circles through lines %2")
                        .arg(m_settings.limit)
                        .arg(circledLines());
    if (end == RunEnd::Quit && m_motion && !m_motion->over(m_now))
        m_finding = QStringLiteral("the motor is still moving at Quit; it stops at %1")
                        .arg(m_motion->distance < 0
                                 ? QStringLiteral("no position (it slews)")
                                 : QString::number(m_motion->positionAt(m_motion->end())));
}

QStringList Executor::assumptions() const {
    return {
        QStringLiteral("A n accelerates at n x %1 steps/s^2 (times are estimated (model))")
            .arg(m_settings.stepsPerSecondSquaredPerA),
        m_settings.movesHold
            ? QStringLiteral("a move holds the program until it ends")
            : QStringLiteral("a move does not hold the program: F waits for it, and a move waits "
                             "for the move before it"),
        QStringLiteral("each line takes no time of its own; only waits and moves take time"),
        QStringLiteral("H0 and H1 move to the home position %1").arg(m_settings.home),
        QStringLiteral("U compares inputs 1 and 2 with its pattern; its first operand is not used"),
    };
}

} // namespace kqm::dryrun
