#include "simulator/simulated_unit.h"

#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace kqm::simulator {

namespace {

// Bytes each command takes in the unit's memory.
int sizeOf(QChar letter, bool withGo) {
    switch (letter.unicode()) {
    case 'Q':
    case 'S':
    case 'F':
    case '.':
    case 'G':
    case '+':
    case '-':
        return 2;
    case 'A':
    case 'H':
    case 'O':
    case '?':
        return 3;
    case 'B':
    case 'M':
    case 'X':
        return 4;
    case 'Z':
    case 'I':
    case '&':
    case 'W':
        return 5;
    case 'N':
        return withGo ? 7 : 5;
    case 'P':
        return 7;
    default:
        return 5;
    }
}

bool hasOperands(QChar letter) {
    return !QStringLiteral("QSF.G+-").contains(letter);
}

bool parseNumber(const QByteArray& text, qint64* value) {
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok);
    if (ok)
        *value = number;
    return ok;
}

} // namespace

SimulatedUnit::SimulatedUnit(const platform::Clock& clock, QString model, int axis)
    : m_clock(clock), m_model(std::move(model)), m_axis(axis) {}

void SimulatedUnit::receive(const QByteArray& bytes) {
    const double now = m_clock.now();
    for (const char c : bytes) {
        if (m_faults.slowReceiver > 0) {
            // Measured from the character before, whether or not it was kept;
            // a character exactly on the interval (within the rounding of
            // summed clock steps) is kept.
            const bool tooSoon =
                m_lastArrival >= 0 && now - m_lastArrival < m_faults.slowReceiver - 1e-9;
            m_lastArrival = now;
            if (tooSoon && m_programEntry)
                continue;
        }
        if (c == '\n')
            continue;
        if (c == '\r') {
            const QByteArray frame = m_line;
            m_line.clear();
            if (!frame.isEmpty())
                handleFrame(frame);
            continue;
        }
        m_line.append(c);
    }
}

bool SimulatedUnit::noiseOn() const {
    return m_faults.noiseRate > 0 && m_frames.count() >= m_faults.noiseAfterFrames;
}

double SimulatedUnit::nextOutputTime() const {
    double next = m_output.empty() ? -1.0 : m_output.front().readyAt;
    if (noiseOn()) {
        const double noise = m_clock.now() + std::min(0.01, 1.0 / m_faults.noiseRate);
        next = next < 0 ? noise : std::min(next, noise);
    }
    return next;
}

QByteArray SimulatedUnit::takeOutput() {
    QByteArray result;
    const double now = m_clock.now();
    while (!m_output.empty() && m_output.front().readyAt <= now) {
        result += m_output.front().bytes;
        m_output.pop_front();
    }
    if (noiseOn()) {
        if (m_noiseSince < 0)
            m_noiseSince = now;
        // At most a megabyte at a time, however long nobody looked.
        const auto count = static_cast<qsizetype>(
            std::min((now - m_noiseSince) * m_faults.noiseRate, 1024.0 * 1024.0));
        if (count > 0) {
            result += QByteArray(count, '~');
            m_noiseSince = std::max(m_noiseSince + count / m_faults.noiseRate, now - 1.0);
        }
    }
    return result;
}

void SimulatedUnit::reply(const QByteArray& text) {
    if (m_faults.silent)
        return;
    const bool garbage = m_faults.garbage && m_frames.count() > m_faults.garbageAfterFrames;
    QByteArray bytes = garbage ? QByteArray("\x15#\x7f%?k", 6) : text;
    if (m_faults.replyBudget >= 0) {
        // The unit stops answering in the middle of a reply.
        bytes.truncate(m_faults.replyBudget);
        m_faults.replyBudget -= static_cast<int>(bytes.size());
        if (bytes.isEmpty())
            return;
    }
    double at = std::max(m_clock.now() + m_faults.replyDelay,
                         m_output.empty() ? 0.0 : m_output.back().readyAt);
    if (m_faults.burstSize <= 0) {
        m_output.push_back({at, bytes});
        return;
    }
    for (qsizetype i = 0; i < bytes.size(); i += m_faults.burstSize) {
        m_output.push_back({at, bytes.mid(i, m_faults.burstSize)});
        at += m_faults.burstGap;
    }
}

void SimulatedUnit::handleFrame(const QByteArray& frame) {
    m_frames.append(frame);
    adoptRun(false);
    if (frame == "VE") {
        if (m_selected)
            reply(uploadReply());
        return;
    }
    if (!frame.startsWith('@'))
        return;
    qsizetype i = 1;
    while (i < frame.size() && std::isdigit(static_cast<unsigned char>(frame.at(i))))
        ++i;
    const QByteArray address = frame.mid(1, i - 1);
    if (address.isEmpty())
        return;
    m_selected = address == QByteArray::number(m_axis);
    if (!m_selected)
        return;
    const QByteArray command = frame.mid(i);
    if (command.isEmpty())
        return;
    if (command == "E0") {
        m_program.clear();
        m_programEntry = true;
        return;
    }
    if (m_programEntry)
        store(command);
    else
        execute(command);
}

bool SimulatedUnit::readOperand(const QByteArray& text, qint64* value) {
    if (parseNumber(text, value))
        return true;
    m_errorCode = 1;
    return false;
}

void SimulatedUnit::execute(const QByteArray& command) {
    const char letter = command.at(0);
    const QByteArray operand = command.mid(1);
    switch (letter) {
    case '$':
        reply(m_model.toLatin1() + "  1.65\r");
        return;
    case '!':
        reply(QByteArray::number(m_errorCode) + '\r');
        return;
    case 'I':
        if (operand.isEmpty()) {
            reply(QByteArray::number(m_inputs) + '\r');
            return;
        }
        break;
    case '*':
        reply(listingReply());
        return;
    case 'V': {
        const QByteArray what = operand;
        if (what == "A")
            reply(QByteArray::number(m_accel) + '\r');
        else if (what == "B")
            reply(QByteArray::number(m_base) + '\r');
        else if (what == "M")
            reply(QByteArray::number(m_max) + '\r');
        else if (what == "J")
            reply(QByteArray::number(m_jog) + '\r');
        else if (what == "+")
            reply(m_clockwise ? "1\r" : "0\r");
        else if (what == "N")
            reply(QByteArray::number(m_steps) + '\r');
        else if (what == "Z")
            reply(m_model == QLatin1String("KQM21") ? QByteArray("?\r")
                                                    : QByteArray::number(position()) + '\r');
        else if (what == "E")
            reply(uploadReply());
        return;
    }
    default:
        break;
    }
    qint64 value = 0;
    switch (letter) {
    case 'A':
        if (readOperand(operand, &value))
            m_accel = value;
        break;
    case 'B':
        if (readOperand(operand, &value))
            m_base = value;
        break;
    case 'M':
        if (readOperand(operand, &value))
            m_max = value;
        break;
    case 'J':
        if (readOperand(operand, &value))
            m_jog = value;
        break;
    case 'Z':
        if (readOperand(operand, &value)) {
            settleMotion();
            m_position = static_cast<double>(value);
        }
        break;
    case '+':
        m_clockwise = true;
        break;
    case '-':
        m_clockwise = false;
        break;
    case 'N':
        if (readOperand(operand, &value)) {
            m_steps = value;
            m_targetSet = false;
        }
        break;
    case 'P':
        if (readOperand(operand, &value)) {
            m_target = value;
            m_targetSet = true;
        }
        break;
    case 'G':
        if (m_targetSet) {
            const qint64 from = position();
            startMove(std::llabs(m_target - from), m_target >= from);
            m_targetSet = false;
        } else {
            startMove(m_steps, m_clockwise);
        }
        break;
    case 'S':
        startMove(-1, m_clockwise);
        break;
    case '.':
        adoptRun(true);
        settleMotion();
        break;
    case 'H': {
        const qint64 from = position();
        startMove(std::llabs(from), from < 0);
        break;
    }
    case 'O':
        if (readOperand(operand, &value))
            m_outputs = static_cast<int>(value & 3);
        break;
    case 'R':
        startProgram();
        break;
    case 'U':
        if (readOperand(operand, &value))
            m_autostart = value != 0;
        break;
    default:
        m_errorCode = 1;
        break;
    }
}

void SimulatedUnit::store(const QByteArray& command) {
    const QChar letter = QLatin1Char(command.at(0));
    if (letter == QLatin1Char('G') && !m_program.isEmpty()) {
        StoredCommand& last = m_program.last();
        if ((last.letter == QLatin1Char('N') || last.letter == QLatin1Char('P')) && !last.withGo) {
            const int grown = sizeOf(last.letter, true) - last.size;
            if (programBytes() + grown > MemoryBytes) {
                m_errorCode = 2;
                return;
            }
            last.withGo = true;
            last.size += grown;
            return;
        }
    }
    StoredCommand stored;
    stored.letter = letter;
    const QByteArray rest = command.mid(1);
    if (letter == QLatin1Char('&') && rest.contains('_')) {
        qint64 address = 0;
        qint64 count = 0;
        const qsizetype underscore = rest.indexOf('_');
        parseNumber(rest.left(underscore), &address);
        parseNumber(rest.mid(underscore + 1), &count);
        stored.operands = {count, address};
    } else if (hasOperands(letter)) {
        for (const QByteArray& field : rest.split(',')) {
            qint64 value = 0;
            parseNumber(field, &value);
            stored.operands.push_back(value);
        }
    }
    stored.size = sizeOf(letter, false);
    if (programBytes() + stored.size > MemoryBytes) {
        m_errorCode = 2;
        return;
    }
    m_program.push_back(stored);
    if (letter == QLatin1Char('Q'))
        m_programEntry = false;
}

int SimulatedUnit::programBytes() const {
    int bytes = 0;
    for (const StoredCommand& command : m_program)
        bytes += command.size;
    return bytes;
}

QByteArray SimulatedUnit::uploadForm(const StoredCommand& command) {
    QByteArray text(1, static_cast<char>(command.letter.unicode()));
    if (command.letter == QLatin1Char('Q'))
        return text + '\r';
    for (const qint64 operand : command.operands) {
        if (text.size() > 1)
            text += '\r';
        text += QByteArray::number(operand);
    }
    if (!command.operands.isEmpty())
        text += '\r';
    if (command.withGo)
        text += 'G';
    return text;
}

QByteArray SimulatedUnit::uploadReply() const {
    QByteArray text;
    for (const StoredCommand& command : m_program)
        text += uploadForm(command);
    if (m_program.isEmpty() || m_program.last().letter != QLatin1Char('Q'))
        text += "Q\r";
    if (m_faults.corruptMemory)
        text.insert(text.size() / 2, '_');
    return text + '*';
}

QByteArray SimulatedUnit::listingReply() const {
    QByteArray text;
    int address = 0;
    QList<StoredCommand> commands = m_program;
    if (commands.isEmpty() || commands.last().letter != QLatin1Char('Q'))
        commands.push_back({QLatin1Char('Q'), {}, false, 2});
    for (const StoredCommand& command : commands) {
        QByteArray form = uploadForm(command);
        form.replace('\r', ',');
        if (form.endsWith(','))
            form.chop(1);
        text += QByteArray::number(address).rightJustified(4, '0') + ' ' + form + '\r';
        address += command.size;
    }
    return text;
}

qint64 SimulatedUnit::position() const {
    if (m_run) {
        m_run->runUntil(runTime());
        return m_run->positionAt(runTime());
    }
    if (!m_moving)
        return std::llround(m_position);
    const double travelled = (m_clock.now() - m_moveStart) * static_cast<double>(m_max);
    const double distance = m_moveLength < 0 ? travelled : std::min(travelled, m_moveLength);
    return std::llround(m_position + (m_moveClockwise ? distance : -distance));
}

bool SimulatedUnit::moving() const {
    if (m_run) {
        m_run->runUntil(runTime());
        return m_run->movingAt(runTime());
    }
    if (!m_moving)
        return false;
    return m_moveLength < 0 ||
           (m_clock.now() - m_moveStart) * static_cast<double>(m_max) < m_moveLength;
}

void SimulatedUnit::settleMotion() {
    m_position = static_cast<double>(position());
    m_moving = false;
}

void SimulatedUnit::startMove(qint64 distance, bool clockwise) {
    settleMotion();
    m_moving = true;
    m_moveStart = m_clock.now();
    m_moveLength = static_cast<double>(distance);
    m_moveClockwise = clockwise;
}

double SimulatedUnit::runTime() const {
    return m_clock.now() - m_runStart;
}

int SimulatedUnit::outputs() const {
    if (m_run)
        m_run->runUntil(runTime());
    return m_run ? m_run->motorAt(runTime()).outputs : m_outputs;
}

void SimulatedUnit::setInputs(int inputs) {
    m_inputs = inputs & 15;
    if (m_run) {
        m_run->runUntil(runTime());
        m_run->setInputs(m_inputs, runTime());
    }
}

bool SimulatedUnit::running() const {
    if (!m_run)
        return false;
    m_run->runUntil(runTime());
    return m_run->state() == ProgramRun::State::Running;
}

QList<StoredLine> SimulatedUnit::storedLines() const {
    QList<StoredLine> lines;
    int address = 0;
    for (const StoredCommand& command : m_program) {
        StoredLine line;
        line.letter = static_cast<char>(command.letter.toLatin1());
        line.address = address;
        line.go = command.withGo;
        line.text =
            QString::fromLatin1(uploadForm(command)).replace(QLatin1Char('\r'), QLatin1Char(','));
        // A stored loop keeps its count first, then the address; a field
        // the unit did not get reads as 0.
        const bool loop = line.letter == '&';
        for (qsizetype i = 0; i < 3; ++i) {
            const qsizetype from = loop && i < 2 ? 1 - i : i;
            line.operands[static_cast<size_t>(i)] = command.operands.value(from);
        }
        address += command.size;
        lines << line;
    }
    return lines;
}

void SimulatedUnit::startProgram() {
    if (m_program.isEmpty())
        return;
    adoptRun(true); // a run already going starts over from where it stands
    settleMotion();
    if (!m_runner) {
        m_errorCode = 3;
        return;
    }
    const MotorState start{m_accel,     m_base,   m_max, std::llround(m_position),
                           m_clockwise, m_outputs};
    m_run = m_runner(storedLines(), start, m_inputs);
    m_runStart = m_clock.now();
}

void SimulatedUnit::adoptRun(bool evenIfRunning) {
    if (!m_run)
        return;
    const double now = runTime();
    m_run->runUntil(now);
    const ProgramRun::State state = m_run->state();
    if (state == ProgramRun::State::Failed)
        m_errorCode = 3;
    // A motor still moving when the program ended runs on (a slew until a stop).
    if (!evenIfRunning && (state == ProgramRun::State::Running || m_run->movingAt(now)))
        return;
    const MotorState rest = m_run->motorAt(now);
    m_position = static_cast<double>(rest.position);
    m_moving = false;
    m_outputs = rest.outputs;
    m_accel = rest.acceleration;
    m_base = rest.base;
    m_max = rest.max;
    m_clockwise = rest.clockwise;
    m_run.reset();
}

} // namespace kqm::simulator
