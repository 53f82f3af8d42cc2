#include "program/editing.h"

#include "program/branch_targets.h"
#include "program/command_set.h"

#include <QHash>

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
        if (!isLineBranch(row.command))
            continue;
        const qint64 target = lineTarget(row.command);
        if (target >= line) {
            row.command = withLineTarget(row.command, target + shift);
            row.listing = Pending;
        }
    }
}

namespace {

EditPlan refused(const QString& error) {
    EditPlan plan;
    plan.error = error;
    return plan;
}

QVector<int> unchangedOrigin(qsizetype count) {
    QVector<int> origin(count);
    for (qsizetype i = 0; i < count; ++i)
        origin[i] = static_cast<int>(i);
    return origin;
}

QString noLine(int row) {
    return QStringLiteral("there is no line %1").arg(row + 1);
}

QString lineRange(const QString& verb, QList<int> lines) {
    std::sort(lines.begin(), lines.end());
    if (lines.size() == 1)
        return QStringLiteral("%1 line %2").arg(verb).arg(lines.first() + 1);
    bool contiguous = lines.last() - lines.first() + 1 == lines.size();
    if (contiguous) {
        return QStringLiteral("%1 lines %2-%3")
            .arg(verb)
            .arg(lines.first() + 1)
            .arg(lines.last() + 1);
    }
    return QStringLiteral("%1 %2 lines").arg(verb).arg(lines.size());
}

// Opens `count` records at `row`: records are added at the end and the
// contents from `row` on move down, as Insert moves them.
void openRecords(QVector<ProgramRow>& rows, QVector<int>& origin, int row, int count) {
    for (int n = 0; n < count; ++n) {
        ProgramRow added;
        added.rowid = nextRowid(rows);
        rows.push_back(added);
        origin.push_back(-1);
    }
    for (qsizetype i = rows.size() - 1; i >= row + count; --i) {
        rows[i].command = rows[i - count].command;
        rows[i].listing = Pending;
        rows[i].comment = rows[i - count].comment;
        origin[i] = origin[i - count];
    }
}

// Line-number branches ("I", "U" third operand, comma-form "&" second) follow
// a reordering of lines: map gives each old line number its new one.
void followLineNumbers(QVector<ProgramRow>& rows, const QHash<qint64, qint64>& map) {
    for (ProgramRow& row : rows) {
        if (!isLineBranch(row.command))
            continue;
        const auto moved = map.constFind(lineTarget(row.command));
        if (moved == map.constEnd())
            continue;
        row.command = withLineTarget(row.command, *moved);
        row.listing = Pending;
    }
}

} // namespace

EditPlan planAdd(const QVector<ProgramRow>& rows, const QString& command, const QString& comment) {
    EditPlan plan;
    plan.rows = rows;
    plan.origin = unchangedOrigin(rows.size());
    appendProgramLine(plan.rows, command, comment);
    plan.origin.push_back(NewLine);
    // The new line is the user's place now.
    plan.currentRow = static_cast<int>(plan.rows.size()) - 1;
    plan.label = QStringLiteral("Add line %1").arg(plan.rows.size());
    return plan;
}

EditPlan planInsert(const QVector<ProgramRow>& rows, int row, const QString& command,
                    const QString& comment) {
    if (row < 0 || row >= rows.size())
        return refused(noLine(row));
    EditPlan plan;
    plan.rows = rows;
    plan.origin = unchangedOrigin(rows.size());
    openRecords(plan.rows, plan.origin, row, 1);
    ProgramRow& inserted = plan.rows[row];
    inserted.command = command;
    inserted.listing = Pending;
    inserted.comment = nonEmpty(comment);
    plan.origin[row] = NewLine;
    // Line numbers are positions once refreshed; the position also holds for
    // a file whose numbers were never refreshed.
    renumberBranches(plan.rows, row + 1, +1, true);
    plan.currentRow = row + 1;
    plan.label = QStringLiteral("Insert line %1").arg(row + 1);
    return plan;
}

EditPlan planChange(const QVector<ProgramRow>& rows, int row, const QString& command,
                    const std::optional<QString>& comment) {
    if (row < 0 || row >= rows.size())
        return refused(noLine(row));
    EditPlan plan;
    plan.rows = rows;
    plan.origin = unchangedOrigin(rows.size());
    setCommand(plan.rows[row], command);
    if (comment)
        plan.rows[row].comment = nonEmpty(*comment);
    plan.currentRow = row;
    plan.label = QStringLiteral("Change line %1").arg(row + 1);
    return plan;
}

EditPlan planDelete(const QVector<ProgramRow>& rows, QList<int> lines) {
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    if (lines.isEmpty())
        return refused(QStringLiteral("no line is selected"));
    for (const int line : std::as_const(lines)) {
        if (line < 0 || line >= rows.size())
            return refused(noLine(line));
    }
    EditPlan plan;
    plan.rows = rows;
    plan.origin = unchangedOrigin(rows.size());
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const int row = lines.at(i);
        plan.rows.removeAt(row);
        plan.origin.removeAt(row);
        renumberBranches(plan.rows, row + 1, -1, false);
    }
    if (!plan.rows.isEmpty())
        plan.currentRow = std::min(lines.first(), static_cast<int>(plan.rows.size()) - 1);
    plan.label = lineRange(QStringLiteral("Delete"), lines);
    return plan;
}

EditPlan planPaste(const QVector<ProgramRow>& rows, std::optional<int> row,
                   const QVector<ProgramRow>& pasted, const std::optional<PasteOrigin>& origin) {
    if (pasted.isEmpty())
        return refused(QStringLiteral("there is nothing to paste"));
    if (row && (*row < 0 || *row >= rows.size()))
        return refused(noLine(*row));
    EditPlan plan;
    plan.rows = rows;
    plan.origin = unchangedOrigin(rows.size());
    const int count = static_cast<int>(pasted.size());
    const int first = row.value_or(static_cast<int>(rows.size()));
    // The program's own branches first, before the pasted lines are among
    // them: theirs are worked out from where they were copied.
    if (row)
        renumberBranches(plan.rows, first + 1, count, true);
    if (row) {
        openRecords(plan.rows, plan.origin, first, count);
    } else {
        for (int n = 0; n < count; ++n) {
            ProgramRow added;
            added.rowid = nextRowid(plan.rows);
            plan.rows.push_back(added);
            plan.origin.push_back(ForeignLine);
        }
    }
    for (int n = 0; n < count; ++n) {
        ProgramRow& target = plan.rows[first + n];
        target.command = pasted.at(n).command;
        target.listing = pasted.at(n).listing.isEmpty() ? Pending : pasted.at(n).listing;
        target.comment = nonEmpty(pasted.at(n).comment);
        plan.origin[first + n] = ForeignLine;
    }
    plan.notes = mapPastedBranches(rows, plan.rows, first, pasted, origin);
    plan.currentRow = first;
    plan.selectedCount = count;
    plan.label = count == 1 ? QStringLiteral("Paste line %1").arg(first + 1)
                            : QStringLiteral("Paste %1 lines").arg(count);
    return plan;
}

EditPlan planMove(const QVector<ProgramRow>& rows, int first, int count, int direction) {
    const int size = static_cast<int>(rows.size());
    if (count < 1 || first < 0 || first + count > size || (direction != -1 && direction != 1))
        return refused(QStringLiteral("no line is selected"));
    if ((direction < 0 && first == 0) || (direction > 0 && first + count == size))
        return refused(direction < 0 ? QStringLiteral("the first line cannot move up")
                                     : QStringLiteral("the last line cannot move down"));
    // The block and its neighbour swap places; records stay where they are
    // and their contents move, as everywhere in the table.
    QVector<int> order = unchangedOrigin(size);
    const int neighbour = direction < 0 ? first - 1 : first + count;
    const int start = std::min(first, neighbour);
    QVector<int> block;
    if (direction < 0) {
        for (int i = 0; i < count; ++i)
            block.push_back(first + i);
        block.push_back(neighbour);
    } else {
        block.push_back(neighbour);
        for (int i = 0; i < count; ++i)
            block.push_back(first + i);
    }
    for (int i = 0; i < block.size(); ++i)
        order[start + i] = block.at(i);
    EditPlan plan;
    plan.rows = rows;
    plan.origin = order;
    QHash<qint64, qint64> lineMap;
    for (int i = 0; i < size; ++i) {
        const ProgramRow& from = rows.at(order.at(i));
        plan.rows[i].command = from.command;
        plan.rows[i].listing = from.listing;
        plan.rows[i].comment = from.comment;
        if (order.at(i) != i) {
            lineMap.insert(order.at(i) + 1, i + 1);
            // An until line's text names its own line number.
            if (from.command.startsWith(QLatin1Char('U')))
                plan.rows[i].listing = Pending;
        }
    }
    followLineNumbers(plan.rows, lineMap);
    plan.currentRow = first + direction;
    plan.selectedCount = count;
    const QString lines = count == 1
                              ? QStringLiteral("line %1").arg(first + 1)
                              : QStringLiteral("lines %1-%2").arg(first + 1).arg(first + count);
    plan.label = QStringLiteral("Move %1 %2")
                     .arg(lines, direction < 0 ? QStringLiteral("up") : QStringLiteral("down"));
    return plan;
}

EditPlan planReplace(const QVector<ProgramRow>& rows, const QVector<ProgramRow>& replacement,
                     const QString& label) {
    Q_UNUSED(rows);
    EditPlan plan;
    plan.rows = replacement;
    // The new program's records are numbered afresh in program order.
    for (qsizetype i = 0; i < plan.rows.size(); ++i)
        plan.rows[i].rowid = i + 1;
    plan.origin = QVector<int>(replacement.size(), ForeignLine);
    plan.label = label;
    return plan;
}

EditResult commitPlan(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      const QVector<ProgramRow>& before, EditPlan plan,
                      std::optional<int> currentBefore) {
    if (!plan.error.isEmpty())
        return failed(plan.error);
    followBranches(before, plan.rows, plan.origin);
    // The step records the program as refreshed, so that its undo gives back
    // line numbers, addresses and listings, not the raw fields of a file
    // that was never refreshed. Bringing them up to date is no step itself.
    Transaction transaction(table.file());
    QVector<ProgramRow> refreshedBefore = before;
    if (!transaction.started() || !storeDerivedFields(table, refreshedBefore))
        return failed(table.lastError());
    const HistoryStep step{plan.label, currentBefore, plan.currentRow};
    RefreshResult refreshed =
        storeAndRefresh(table, refreshedBefore, std::move(plan.rows), state, messages, &step);
    if (!refreshed.ok)
        return failed(refreshed.error);
    if (!transaction.commit())
        return failed(table.lastError());
    EditResult result;
    result.ok = true;
    result.rows = std::move(refreshed.rows);
    result.currentRow = plan.currentRow;
    result.selectedCount = plan.selectedCount;
    return result;
}

namespace {

template <typename Planner>
EditResult readPlanCommit(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                          std::optional<int> currentBefore, const Planner& planner) {
    // The rows are read under the write lock: what the plan is made on is
    // what it writes over, whoever else has the file open.
    Transaction transaction(table.file());
    if (!transaction.started())
        return failed(table.lastError());
    const auto before = table.readRows();
    if (!before)
        return failed(table.lastError());
    EditResult result =
        commitPlan(table, state, messages, *before, planner(*before), currentBefore);
    if (result.ok && !transaction.commit())
        return failed(table.lastError());
    return result;
}

} // namespace

EditResult addLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                   const QString& command, const QString& comment) {
    return readPlanCommit(table, state, messages, std::nullopt,
                          [&](const auto& rows) { return planAdd(rows, command, comment); });
}

EditResult insertLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const QString& comment) {
    return readPlanCommit(table, state, messages, row, [&](const auto& rows) {
        return planInsert(rows, row, command, comment);
    });
}

EditResult changeLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row, const QString& command, const std::optional<QString>& comment) {
    return readPlanCommit(table, state, messages, row, [&](const auto& rows) {
        return planChange(rows, row, command, comment);
    });
}

EditResult deleteLine(ProgramTable& table, ProgramState& state, platform::Messages& messages,
                      int row) {
    return readPlanCommit(table, state, messages, row,
                          [&](const auto& rows) { return planDelete(rows, {row}); });
}

} // namespace kqm::program
