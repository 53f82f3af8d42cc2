#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl run PROGRAM [--inputs T:P,...] [--limit SECONDS] [--trace FILE.csv]
//   [--plot FILE.svg] [--json] [--accel-unit N] [--home N] [--moves-hold]: runs a program
// file on the executor, without a unit, and reports what it came to. Exits 0
// at Quit, 1 at the limit, 3 at a line that is not simulated.
int runCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
