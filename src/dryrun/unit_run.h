#pragma once

#include "dryrun/executor.h"
#include "simulator/program_run.h"

namespace kqm::dryrun {

// The simulated unit's stored program as the executor runs it.
QList<RunStep> stepsOfStoredLines(const QList<simulator::StoredLine>& program);

// What a simulated unit runs its stored program with: the dry run's executor,
// holding for inputs as a unit does, without a time limit. `accelUnit`: the
// steps/s² each unit of A gives (a unit whose motor differs from the model's).
simulator::ProgramRunner unitProgramRunner(double accelUnit = RunSettings{}.stepsPerSecondSquaredPerA);

} // namespace kqm::dryrun
