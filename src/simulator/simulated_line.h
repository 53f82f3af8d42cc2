#pragma once

#include "simulator/simulated_unit.h"

#include <functional>
#include <memory>
#include <vector>

namespace kqm::simulator {

// One serial line with one or more simulated units on it, each at its own
// axis address with its own state and model. Every unit hears every byte and
// answers only the frames addressed to it; what they answer reaches the host
// mixed on the one line, as it would on a shared wire.
class SimulatedLine {
public:
    // The line starts with one unit.
    SimulatedLine(const platform::Clock& clock, QString model, int axis);

    // Another unit on the line. Until a frame names an address, the upload
    // request stays the first unit's.
    SimulatedUnit& addUnit(QString model, int axis);
    // What runs a stored program, for every unit on the line and every one
    // that joins it later.
    void setProgramRunner(const ProgramRunner& runner);
    int unitCount() const { return static_cast<int>(m_units.size()); }
    // The units in the order they joined the line; unit(0) is the first.
    SimulatedUnit& unit(int index = 0) { return *m_units.at(static_cast<size_t>(index)); }
    // The unit at an axis address, if one is there.
    SimulatedUnit* unitAt(int axis);

    void receive(const QByteArray& bytes);
    QByteArray takeOutput();
    bool hasScheduledOutput() const;
    double nextOutputTime() const;
    // Any unit that cannot take a character holds the line.
    bool ctsHolding() const;
    // Characters the port reports as not yet sent.
    bool transmitStuck() const;

    // A line that loses characters for every unit alike (a cable or an
    // adapter that cannot keep up, for tests): given each character and its
    // place among all the line has carried, true loses it. What is left of a
    // cut frame may name any unit.
    std::function<bool(char c, qsizetype index)> loses;

private:
    const platform::Clock& m_clock;
    qsizetype m_carried = 0;
    ProgramRunner m_runner;
    std::vector<std::unique_ptr<SimulatedUnit>> m_units;
};

} // namespace kqm::simulator
