#pragma once

#include "program/program_table.h"

#include <QString>
#include <QVector>

namespace kqm::program {

// The program check: what the unit or the send would trip over, found while
// the program is still being edited. Errors are what stops a send or breaks
// the program at the unit; warnings are programs that run, but hardly as
// meant.

enum class ProblemSeverity { Error, Warning };

struct ProgramProblem {
    int line = 0; // 1-based
    ProblemSeverity severity = ProblemSeverity::Error;
    QString message;

    bool operator==(const ProgramProblem&) const = default;
};

// "error" or "warning".
QString severityName(ProblemSeverity severity);

// Checks rows in memory. Each line's address is worked out from the command
// sizes here (the stored Address field may be stale). Problems come in line
// order, errors before warnings on one line; an empty program has none.
QVector<ProgramProblem> checkProgram(const QVector<ProgramRow>& rows);

} // namespace kqm::program
