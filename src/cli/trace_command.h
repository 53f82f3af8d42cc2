#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl trace FILE --port DEVICE [--baud N] [--axis N] [--limit S] [--json] [--csv OUT]
//   [--plot OUT.svg] [--fit] [--accel-unit N] [--moves-hold]: runs the unit's program, once it
// is checked to be FILE's, reads the unit as it runs and compares it with the dry run of FILE.
// Exits 0 at rest, 3 at the limit or a stop, 4 when the unit holds another program.
int traceCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
