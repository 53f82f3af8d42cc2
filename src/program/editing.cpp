#include "program/editing.h"

#include "program/command_set.h"

#include <algorithm>
#include <limits>

namespace kqm::program {

namespace {

const QString Pending = QStringLiteral("!");

QString nonEmpty(QString comment) {
    return comment.isEmpty() ? QStringLiteral(" ") : comment;
}

// Command and listing as an operation stores them.
void setCommand(ProgramRow& row, const QString& command) {
    if (command.startsWith(QLatin1Char('!'))) {
        row.command = command.mid(1);
        row.listing = row.command;
    } else {
        row.command = command;
        row.listing = Pending;
    }
}

// The rowid for a new last record. When the largest rowid is the largest
// there is, the rows are numbered afresh from 1 in program order first: the
// store writes that in the same transaction, and nothing overflows.
qint64 nextRowid(QVector<ProgramRow>& rows) {
    qint64 last = 0;
    for (const ProgramRow& row : rows)
        last = std::max(last, row.rowid);
    if (last == std::numeric_limits<qint64>::max()) {
        for (qsizetype i = 0; i < rows.size(); ++i)
            rows[i].rowid = i + 1;
        last = rows.size();
    }
    return last + 1;
}

EditResult failed(const QString& error) {
    EditResult result;
    result.error = error;
    return result;
}

EditResult store(ProgramTable& table, const QVector<ProgramRow>& before, QVector<ProgramRow> after,
                 ProgramState& state, platform::Messages& messages, std::optional<int> currentRow) {
    RefreshResult refreshed = storeAndRefresh(table, before, std::move(after), state, messages);
    if (!refreshed.ok)
        return failed(refreshed.error);
    EditResult result;
    result.ok = true;
    result.rows = std::move(refreshed.rows);
    result.currentRow = currentRow;
    return result;
}

} // namespace

std::optional<QString> preconditionMessage(EditOperation operation, int rowCount,
                                           std::optional<int> selectedRow) {
    // For each operation: the message for an empty program, then for no line selected.
    static const char* const messages[3][2] = {
        {"Use Add command to insert a command into an empty program",
         "Please select a location to insert a new line."},
        {"Cannot change empty program", "Please select a program line to change."},
        {"Cannot delete empty program", "Please select a program line to delete."},
    };
    const auto& texts = messages[static_cast<int>(operation)];
    if (rowCount < 1)
        return QString::fromLatin1(texts[0]);
    if (!selectedRow || *selectedRow < 0 || *selectedRow >= rowCount)
        return QString::fromLatin1(texts[1]);
    return std::nullopt;
}

void appendProgramLine(QVector<ProgramRow>& rows, const QString& command, QString comment) {
    ProgramRow row;
    row.rowid = nextRowid(rows);
    setCommand(row, command);
    row.comment = nonEmpty(std::move(comment));
    rows.push_back(row);
}

void renumberBranches(QVector<ProgramRow>& rows, int line, int shift, bool stripMarkers) {
    for (ProgramRow& row : rows) {
        if (stripMarkers && row.command.startsWith(QLatin1Char('~'))) {
            row.command.remove(0, 1);
            continue;
        }
        const QChar letter = row.command.isEmpty() ? QChar() : row.command.at(0);
        if (letter == QLatin1Char('I') || letter == QLatin1Char('U')) {
            const qint64 target = OperandField(row.command, 2);
            if (target >= line) {
                row.command = QStringLiteral("%1%2,%3,%4")
                                  .arg(letter)
                                  .arg(OperandField(row.command, 0))
                                  .arg(OperandField(row.command, 1))
                                  .arg(target + shift);
                row.listing = Pending;
            }
        } else if (letter == QLatin1Char('&')) {
            const qint64 target = OperandField(row.command, 1);
            if (target >= line) {
                row.command =
                    QStringLiteral("&%1,%2").arg(OperandField(row.command, 0)).arg(target + shift);
                row.listing = Pending;
            }
        }
    }
}

EditResult addLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                   const QString& command, const QString& comment) {
    const auto before = table.readRows();
    if (!before)
        return failed(table.lastError());
    QVector<ProgramRow> after = *before;
    appendProgramLine(after, command, comment);
    return store(table, *before, std::move(after), state, messages, std::nullopt);
}

EditResult insertLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment) {
    const auto before = table.readRows();
    if (!before)
        return failed(table.lastError());
    if (row < 0 || row >= before->size())
        return failed(QStringLiteral("there is no line %1").arg(row + 1));
    QVector<ProgramRow> after = *before;
    // A record is added at the end and the lines from the insertion point on
    // move down one record; record order is program order.
    ProgramRow added;
    added.rowid = nextRowid(after);
    after.push_back(added);
    for (qsizetype i = after.size() - 1; i > row; --i) {
        after[i].command = after[i - 1].command;
        after[i].listing = Pending;
        after[i].comment = after[i - 1].comment;
    }
    ProgramRow& inserted = after[row];
    inserted.command = command;
    inserted.listing = Pending;
    inserted.comment = nonEmpty(comment);
    // Line numbers are positions once refreshed; the position also holds for
    // a file whose numbers were never refreshed.
    renumberBranches(after, row + 1, +1, true);
    return store(table, *before, std::move(after), state, messages, row + 1);
}

EditResult changeLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment) {
    const auto before = table.readRows();
    if (!before)
        return failed(table.lastError());
    if (row < 0 || row >= before->size())
        return failed(QStringLiteral("there is no line %1").arg(row + 1));
    QVector<ProgramRow> after = *before;
    setCommand(after[row], command);
    after[row].comment = nonEmpty(comment);
    return store(table, *before, std::move(after), state, messages, std::nullopt);
}

EditResult deleteLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row) {
    const auto before = table.readRows();
    if (!before)
        return failed(table.lastError());
    if (row < 0 || row >= before->size())
        return failed(QStringLiteral("there is no line %1").arg(row + 1));
    QVector<ProgramRow> after = *before;
    after.removeAt(row);
    renumberBranches(after, row + 1, -1, false);
    std::optional<int> current;
    if (!after.isEmpty())
        current = std::min(row, static_cast<int>(after.size()) - 1);
    return store(table, *before, std::move(after), state, messages, current);
}

} // namespace kqm::program
