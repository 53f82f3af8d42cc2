#pragma once

#include "program/listing.h"
#include "program/program_table.h"

#include <QString>
#include <QVector>

#include <optional>

namespace kqm::platform {
class Messages;
}

namespace kqm::program {

// The four editing operations on the program table. Each reads the table,
// makes its change and the listing refresh in memory, and stores the result in
// one transaction, so a crash or a failed write never leaves half an edit.

enum class EditOperation { Insert, Change, Delete };

// The message an operation shows instead of running when the table is empty or
// no line is selected; nullopt when it may run. Add has no precondition.
std::optional<QString> preconditionMessage(EditOperation operation, int rowCount,
                                           std::optional<int> selectedRow);

// Appends one line to rows in memory: a command beginning with "!" is stored
// without it and shown verbatim; an empty comment becomes " ".
void appendProgramLine(QVector<ProgramRow>& rows, const QString& command, QString comment);

// Shifts the line-number branch operands ("I" and "U" third, comma-form "&"
// second) that are at least `line` by `shift`. With stripMarkers a leading "~"
// is removed instead (and that line is not examined further).
void renumberBranches(QVector<ProgramRow>& rows, int line, int shift, bool stripMarkers);

struct EditResult {
    bool ok = false;
    QString error;
    QVector<ProgramRow> rows;      // the table after the operation
    std::optional<int> currentRow; // 0-based; none: no line is current
};

// The editor's results go in as command and comment; row is 0-based.
EditResult addLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                   const QString& command, const QString& comment);
EditResult insertLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment);
EditResult changeLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment);
EditResult deleteLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row);

} // namespace kqm::program
