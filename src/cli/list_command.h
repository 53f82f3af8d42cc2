#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// NotVerified: the unit does not hold what was sent.
enum ExitStatus { Success = 0, Failure = 1, UsageError = 2, ProgramTooLarge = 3, NotVerified = 4 };

// kqmctl list [--json] FILE: the listing of a program file as the window computes it,
// without changing the file.
int listCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
