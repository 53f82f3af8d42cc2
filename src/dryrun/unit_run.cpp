#include "dryrun/unit_run.h"

namespace kqm::dryrun {

QList<RunStep> stepsOfStoredLines(const QList<simulator::StoredLine>& program) {
    QList<RunStep> steps;
    for (const simulator::StoredLine& line : program) {
        RunStep step;
        step.letter = line.letter;
        step.operands = line.operands;
        step.go = line.go;
        step.line = static_cast<int>(steps.size()) + 1;
        step.address = line.address;
        step.text = line.text;
        steps << step;
    }
    resolveAddressBranches(steps, true);
    return steps;
}

namespace {

class ExecutorRun final : public simulator::ProgramRun {
public:
    ExecutorRun(QList<RunStep> steps, RunSettings settings, int inputs)
        : m_executor(std::move(steps), std::move(settings)) {
        m_executor.setInputs(inputs, 0);
    }

    void runUntil(double time) override { m_executor.runUntil(time); }

    State state() const override {
        switch (m_executor.end()) {
        case RunEnd::Quit:
            return State::Ended;
        case RunEnd::NotSimulated:
            return State::Failed;
        case RunEnd::Running:
        case RunEnd::Limit: // a program that never ends still runs
        case RunEnd::TooManyLines:
            break;
        }
        return State::Running;
    }

    qint64 positionAt(double time) const override { return m_executor.positionAt(time); }
    bool movingAt(double time) const override { return m_executor.movingAt(time); }
    void setInputs(int pattern, double time) override { m_executor.setInputs(pattern, time); }

    simulator::MotorState motorAt(double time) const override {
        return {m_executor.acceleration(),   m_executor.baseSpeed(), m_executor.maxSpeed(),
                m_executor.positionAt(time), m_executor.clockwise(), m_executor.outputs()};
    }

private:
    Executor m_executor;
};

} // namespace

simulator::ProgramRunner unitProgramRunner(double accelUnit) {
    return [accelUnit](const QList<simulator::StoredLine>& program, const simulator::MotorState& start,
              int inputs) -> std::unique_ptr<simulator::ProgramRun> {
        RunSettings settings;
        settings.limit = 1e9; // a unit runs until told otherwise
        settings.stepsPerSecondSquaredPerA = accelUnit;
        settings.holdForInputs = true;
        settings.acceleration = start.acceleration;
        settings.base = start.base;
        settings.max = start.max;
        settings.position = start.position;
        settings.clockwise = start.clockwise;
        settings.outputs = start.outputs;
        return std::make_unique<ExecutorRun>(stepsOfStoredLines(program), settings, inputs);
    };
}

} // namespace kqm::dryrun
