#pragma once

#include "files/machine_file.h"

#include <QString>

#include "link/link.h"
namespace kqm::platform {
class Messages;
}

namespace kqm::transfer {

// Where a unit of a machine stands against its program file, read back in
// the verify's terms.
enum class UnitState { InStep, Differs, NoProgram, NoUnit, WrongModel, NotChecked };
QString unitStateName(UnitState state); // "in-step", "differs", ...

struct UnitStatus {
    int axis = 0;
    QString model; // as the unit answered; empty when none did
    UnitState state = UnitState::NotChecked;
    QString detail; // the first line that differs, the model expected, why not checked
};

// Asks the unit at its axis on the open port for its version (no stop) and
// reads its program back; changes nothing in the unit. The link is left at
// that axis, the unit taken as connected. Stop or a port that closed leaves
// the unit not checked.
// `within`: the long exchange of the run the check is part of.
UnitStatus checkMachineUnit(link::Link& link, const files::MachineUnit& unit,
                            const link::Link::LongExchange* within = nullptr);

} // namespace kqm::transfer
