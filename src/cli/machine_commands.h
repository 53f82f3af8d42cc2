#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl machine status MACHINE --port DEVICE [--baud N] [--json]: every
// unit of a machine file read back and compared with its program file, one
// line a unit (AXIS, MODEL, STATE, DETAIL); changes nothing in any unit.
// Exits 0 when every unit is in step, 1 otherwise.
int machineCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
