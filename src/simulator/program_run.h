#pragma once

#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace kqm::simulator {

// One stored line as the unit runs it: the command taken apart, in the order
// the command table gives its operands (a loop's address first, then its
// count), with its place in memory.
struct StoredLine {
    char letter = 0;
    std::array<qint64, 3> operands{};
    bool go = false; // "N" or "P" followed by "G"
    int address = 0;
    QString text; // as the upload gives it, commas for CRs
};

// How the motor is set and where it stands when a run starts or comes to rest.
struct MotorState {
    qint64 acceleration = 16;
    qint64 base = 500;
    qint64 max = 1500;
    qint64 position = 0;
    bool clockwise = true;
    int outputs = 0;
};

// The stored program running on the unit, on the run's own time (seconds
// from its start). It is advanced to a moment when asked, so it runs the
// same on virtual and real time. What a line does is the dry run's, which
// the unit is given where it is made: this library knows the wire, not the
// command table.
class ProgramRun {
public:
    enum class State {
        Running, // a program that never ends runs on
        Ended,   // it reached Quit
        Failed,  // a line it cannot run (the unit's error code 3)
    };

    virtual ~ProgramRun() = default;
    virtual void runUntil(double time) = 0;
    virtual State state() const = 0;
    virtual qint64 positionAt(double time) const = 0;
    virtual bool movingAt(double time) const = 0;
    // The inputs from `time` on; a program waiting for them goes on.
    virtual void setInputs(int pattern, double time) = 0;
    // The settings and outputs where the run stands (position: at `time`).
    virtual MotorState motorAt(double time) const = 0;
};

using ProgramRunner = std::function<std::unique_ptr<ProgramRun>(
    const QList<StoredLine>& program, const MotorState& start, int inputs)>;

} // namespace kqm::simulator
