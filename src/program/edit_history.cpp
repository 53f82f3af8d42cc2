#include "program/edit_history.h"

#include "program/listing.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kqm::program {

namespace {

// The records a step holds, compressed; QDataStream keeps every string as it
// is, whatever characters it holds. Steps written before the other fields
// were kept start with the count; now a marker comes first.
constexpr qint32 WithOtherFields = -2;

QByteArray encodeRows(const QVector<ProgramRow>& rows) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << WithOtherFields << static_cast<qint32>(rows.size());
    for (const ProgramRow& row : rows)
        stream << row.rowid << row.lineNo << row.address << row.command << row.listing
               << row.comment << row.extra;
    return qCompress(bytes);
}

std::optional<QVector<ProgramRow>> decodeRows(const QByteArray& stored) {
    const QByteArray bytes = qUncompress(stored);
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_6_4);
    qint32 count = 0;
    stream >> count;
    const bool otherFields = count == WithOtherFields;
    if (otherFields)
        stream >> count;
    if (count < 0)
        return std::nullopt;
    QVector<ProgramRow> rows;
    for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        ProgramRow row;
        stream >> row.rowid >> row.lineNo >> row.address >> row.command >> row.listing >>
            row.comment;
        if (otherFields)
            stream >> row.extra;
        rows.push_back(std::move(row));
    }
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    return rows;
}

QVariant optionalRow(const std::optional<int>& row) {
    return row ? QVariant(*row) : QVariant(QMetaType::fromType<int>());
}

std::optional<int> rowFrom(const QVariant& value) {
    if (value.isNull())
        return std::nullopt;
    return value.toInt();
}

bool run(SqliteFile& file, QSqlQuery& query) {
    if (query.exec())
        return true;
    file.setError(query.lastError().text());
    return false;
}

bool ensureTable(SqliteFile& file) {
    return file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 ("
                                    "id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "label TEXT NOT NULL, "
                                    "undone INTEGER NOT NULL DEFAULT 0, "
                                    "current_before INTEGER, current_after INTEGER, "
                                    "rows_before BLOB NOT NULL, rows_after BLOB NOT NULL)")
                         .arg(quoteIdentifier(HistoryTableName)));
}

std::optional<QString> nextLabel(SqliteFile& file, bool undo) {
    if (!file.hasTable(HistoryTableName))
        return std::nullopt;
    QSqlQuery query(file.database());
    query.prepare(undo ? QStringLiteral("SELECT label FROM %1 WHERE undone = 0 ORDER BY id DESC "
                                        "LIMIT 1")
                             .arg(quoteIdentifier(HistoryTableName))
                       : QStringLiteral("SELECT label FROM %1 WHERE undone = 1 ORDER BY id "
                                        "LIMIT 1")
                             .arg(quoteIdentifier(HistoryTableName)));
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toString();
}

// Whether the records `expected` describes are what the table holds now:
// each is there with the same command and comment, and each of `other` that
// `expected` does not hold is not there. Line numbers, addresses and
// listings follow from the commands: a refresh that rewrote them is no
// change to the program.
bool tableMatches(const QVector<ProgramRow>& now, const QVector<ProgramRow>& expected,
                  const QVector<ProgramRow>& other) {
    QHash<qint64, const ProgramRow*> byRowid;
    for (const ProgramRow& row : now)
        byRowid.insert(row.rowid, &row);
    QSet<qint64> expectedIds;
    for (const ProgramRow& row : expected) {
        expectedIds.insert(row.rowid);
        const ProgramRow* found = byRowid.value(row.rowid);
        if (!found || found->command != row.command || found->comment != row.comment)
            return false;
    }
    for (const ProgramRow& row : other) {
        if (!expectedIds.contains(row.rowid) && byRowid.contains(row.rowid))
            return false;
    }
    return true;
}

HistoryMove takeStep(ProgramTable& table, bool undo) {
    HistoryMove move;
    SqliteFile& file = table.file();
    if (!file.hasTable(HistoryTableName)) {
        move.nothing = true;
        return move;
    }
    Transaction transaction(file);
    if (!transaction.started()) {
        move.error = file.lastError();
        return move;
    }
    QSqlQuery query(file.database());
    query.prepare(QStringLiteral("SELECT id, label, current_before, current_after, rows_before, "
                                 "rows_after FROM %1 WHERE undone = ? ORDER BY id %2 LIMIT 1")
                      .arg(quoteIdentifier(HistoryTableName),
                           undo ? QStringLiteral("DESC") : QStringLiteral("ASC")));
    query.addBindValue(undo ? 0 : 1);
    if (!run(file, query)) {
        move.error = file.lastError();
        return move;
    }
    if (!query.next()) {
        move.nothing = true;
        return move;
    }
    const qint64 id = query.value(0).toLongLong();
    move.label = query.value(1).toString();
    const std::optional<int> currentBefore = rowFrom(query.value(2));
    const std::optional<int> currentAfter = rowFrom(query.value(3));
    const auto before = decodeRows(query.value(4).toByteArray());
    const auto after = decodeRows(query.value(5).toByteArray());
    query.finish();
    const auto now = table.readRows();
    if (!now) {
        move.error = table.lastError();
        return move;
    }
    // Undo goes from the rows after the step to those before it; redo back.
    const QVector<ProgramRow> empty;
    const QVector<ProgramRow>* from =
        undo ? (after ? &*after : &empty) : (before ? &*before : &empty);
    const QVector<ProgramRow>* to =
        undo ? (before ? &*before : &empty) : (after ? &*after : &empty);
    if (!before || !after || !tableMatches(*now, *from, *to)) {
        clearHistory(file);
        transaction.commit();
        move.error = QStringLiteral("the program was changed outside this tool's editing since "
                                    "that step, so the undo history no longer fits it and has "
                                    "been cleared");
        return move;
    }
    QSet<qint64> targetIds;
    for (const ProgramRow& row : *to)
        targetIds.insert(row.rowid);
    QSet<qint64> presentIds;
    for (const ProgramRow& row : *from)
        presentIds.insert(row.rowid);
    QVector<qint64> removed;
    for (const ProgramRow& row : *from) {
        if (!targetIds.contains(row.rowid))
            removed.push_back(row.rowid);
    }
    QVector<ProgramRow> updated;
    QVector<ProgramRow> inserted;
    for (const ProgramRow& row : *to)
        (presentIds.contains(row.rowid) ? updated : inserted).push_back(row);
    QSqlQuery mark(file.database());
    mark.prepare(QStringLiteral("UPDATE %1 SET undone = ? WHERE id = ?")
                     .arg(quoteIdentifier(HistoryTableName)));
    mark.addBindValue(undo ? 1 : 0);
    mark.addBindValue(id);
    if (!table.deleteRows(removed) || !table.updateRows(updated) || !table.insertRows(inserted) ||
        !run(file, mark)) {
        move.error = file.lastError();
        return move;
    }
    // The step's records are as they were when it was taken; the rest may
    // have been refreshed since. The table is left refreshed as a whole.
    auto rows = table.readRows();
    if (!rows || !storeDerivedFields(table, *rows) || !transaction.commit()) {
        move.error = table.lastError();
        return move;
    }
    move.ok = true;
    move.rows = std::move(*rows);
    move.currentRow = undo ? currentBefore : currentAfter;
    return move;
}

} // namespace

bool recordHistoryStep(SqliteFile& file, const HistoryStep& step, const RowChanges& changes) {
    if (changes.isEmpty())
        return true;
    const QVector<ProgramRow> changedBefore = changes.replaced + changes.removed;
    const QVector<ProgramRow> changedAfter = changes.inserted + changes.updated;
    if (!ensureTable(file))
        return false;
    const QString table = quoteIdentifier(HistoryTableName);
    if (!file.exec(QStringLiteral("DELETE FROM %1 WHERE undone <> 0").arg(table)))
        return false;
    QSqlQuery insert(file.database());
    insert.prepare(QStringLiteral("INSERT INTO %1 (label, undone, current_before, current_after, "
                                  "rows_before, rows_after) VALUES (?, 0, ?, ?, ?, ?)")
                       .arg(table));
    insert.addBindValue(step.label);
    insert.addBindValue(optionalRow(step.currentBefore));
    insert.addBindValue(optionalRow(step.currentAfter));
    insert.addBindValue(encodeRows(changedBefore));
    insert.addBindValue(encodeRows(changedAfter));
    if (!run(file, insert))
        return false;
    return file.exec(QStringLiteral("DELETE FROM %1 WHERE id NOT IN "
                                    "(SELECT id FROM %1 ORDER BY id DESC LIMIT %2)")
                         .arg(table)
                         .arg(HistoryDepth));
}

std::optional<QVector<HistoryEntry>> readHistory(SqliteFile& file) {
    QVector<HistoryEntry> entries;
    if (!file.hasTable(HistoryTableName))
        return entries;
    QSqlQuery query(file.database());
    if (!query.exec(QStringLiteral("SELECT id, label, undone FROM %1 ORDER BY id")
                        .arg(quoteIdentifier(HistoryTableName)))) {
        file.setError(query.lastError().text());
        return std::nullopt;
    }
    while (query.next())
        entries.push_back(
            {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toInt() != 0});
    return entries;
}

std::optional<QString> undoLabel(SqliteFile& file) {
    return nextLabel(file, true);
}

std::optional<QString> redoLabel(SqliteFile& file) {
    return nextLabel(file, false);
}

HistoryMove undoStep(ProgramTable& table) {
    return takeStep(table, true);
}

HistoryMove redoStep(ProgramTable& table) {
    return takeStep(table, false);
}

bool clearHistory(SqliteFile& file) {
    if (!file.hasTable(HistoryTableName))
        return true;
    return file.exec(QStringLiteral("DROP TABLE %1").arg(quoteIdentifier(HistoryTableName)));
}

} // namespace kqm::program
