#pragma once

#include "program/listing.h"
#include "program/paste_origin.h"
#include "program/program_table.h"

#include <QList>
#include <QString>
#include <QStringList>
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

// An edit worked out on the rows in memory, not yet stored.
struct EditPlan {
    QString error;            // set: the edit cannot be made, and nothing changes
    QString label;            // how the undo menu names it: "Delete line 4"
    QVector<ProgramRow> rows; // the table after the edit, listing not yet refreshed
    QVector<int> origin;      // per row: the line it was before (see branch_targets.h)
    std::optional<int> currentRow;
    int selectedCount = 1; // lines selected from currentRow on
    QStringList notes;     // what the user should look at once it is made
};

// The four operations and the ones on several lines, as plans. Rows are
// 0-based; `lines` lists the rows to work on.
EditPlan planAdd(const QVector<ProgramRow>& rows, const QString& command, const QString& comment);
EditPlan planInsert(const QVector<ProgramRow>& rows, int row, const QString& command,
                    const QString& comment);
// A comment of none keeps the line's own comment as the table holds it.
EditPlan planChange(const QVector<ProgramRow>& rows, int row, const QString& command,
                    const std::optional<QString>& comment);
// Deleting several lines renumbers line-number branches exactly as deleting
// them one at a time, from the bottom up, would.
EditPlan planDelete(const QVector<ProgramRow>& rows, QList<int> lines);
// Pasted lines (command, listing, comment) go in before `row`, renumbering
// the program's own branches as Insert does, or at the end when there is no
// row. They stay selected. The branches of the pasted lines mean what they
// meant where they were copied: one into the copied lines reaches the copy of
// its line; one out of them reaches the line it named, wherever that line now
// stands, when the lines go back into the program they came from (the same
// commands, line for line). Any other branch, and every branch of lines
// whose origin is not known, is kept as written, and a note names it.
EditPlan planPaste(const QVector<ProgramRow>& rows, std::optional<int> row,
                   const QVector<ProgramRow>& pasted,
                   const std::optional<PasteOrigin>& origin = std::nullopt);
// Moves the block of lines first .. first + count - 1 one line up (-1) or
// down (+1); line-number branches follow the lines they name.
EditPlan planMove(const QVector<ProgramRow>& rows, int first, int count, int direction);
// A whole new program (an upload, an import).
EditPlan planReplace(const QVector<ProgramRow>& rows, const QVector<ProgramRow>& replacement,
                     const QString& label);

struct EditResult {
    bool ok = false;
    QString error;
    QVector<ProgramRow> rows;      // the table after the operation
    std::optional<int> currentRow; // 0-based; none: no line is current
    int selectedCount = 1;
};

// Stores a plan: loops and gotos follow their lines, the listing is
// refreshed, and the change goes into the file's undo history, all in one
// transaction. currentBefore is the line that was current (for the undo).
EditResult commitPlan(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      const QVector<ProgramRow>& before, EditPlan plan,
                      std::optional<int> currentBefore);

// The editor's results go in as command and comment; row is 0-based. Each
// reads the table, plans and commits.
EditResult addLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                   const QString& command, const QString& comment);
EditResult insertLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment);
EditResult changeLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const std::optional<QString>& comment);
EditResult deleteLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row);

} // namespace kqm::program
