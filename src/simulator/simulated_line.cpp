#include "simulator/simulated_line.h"

namespace kqm::simulator {

SimulatedLine::SimulatedLine(const platform::Clock& clock, QString model, int axis)
    : m_clock(clock) {
    m_units.push_back(std::make_unique<SimulatedUnit>(clock, std::move(model), axis));
}

SimulatedUnit& SimulatedLine::addUnit(QString model, int axis) {
    m_units.push_back(std::make_unique<SimulatedUnit>(m_clock, std::move(model), axis));
    SimulatedUnit& added = *m_units.back();
    added.setSelected(false);
    added.setProgramRunner(m_runner);
    return added;
}

void SimulatedLine::setProgramRunner(const ProgramRunner& runner) {
    m_runner = runner;
    for (const auto& unit : m_units)
        unit->setProgramRunner(runner);
}

SimulatedUnit* SimulatedLine::unitAt(int axis) {
    for (const auto& unit : m_units) {
        if (unit->axis() == axis)
            return unit.get();
    }
    return nullptr;
}

void SimulatedLine::receive(const QByteArray& bytes) {
    QByteArray kept;
    for (const char c : bytes) {
        if (!loses || !loses(c, m_carried))
            kept.append(c);
        ++m_carried;
    }
    for (const auto& unit : m_units)
        unit->receive(kept);
}

QByteArray SimulatedLine::takeOutput() {
    QByteArray bytes;
    for (const auto& unit : m_units)
        bytes += unit->takeOutput();
    return bytes;
}

bool SimulatedLine::hasScheduledOutput() const {
    return std::any_of(m_units.begin(), m_units.end(),
                       [](const auto& unit) { return unit->hasScheduledOutput(); });
}

double SimulatedLine::nextOutputTime() const {
    double next = -1.0;
    for (const auto& unit : m_units) {
        if (!unit->hasScheduledOutput())
            continue;
        const double at = unit->nextOutputTime();
        next = next < 0 ? at : std::min(next, at);
    }
    return next;
}

bool SimulatedLine::ctsHolding() const {
    return std::all_of(m_units.begin(), m_units.end(),
                       [](const auto& unit) { return unit->ctsHolding(); });
}

bool SimulatedLine::transmitStuck() const {
    return std::any_of(m_units.begin(), m_units.end(),
                       [](const auto& unit) { return unit->faults().transmitStuck; });
}

} // namespace kqm::simulator
