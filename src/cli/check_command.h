#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl check [--json] FILE: the program check of a program file, one problem a line
// as "LINE: error|warning: message", without changing the file. Exits 0 when
// the program is clean, 1 with warnings only, 3 with at least one error.
int checkCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
