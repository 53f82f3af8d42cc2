#include "program/edit_history.h"

#include "program/listing.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QMap>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace kqm::program {

namespace {

// One side of a step (before or after it). Steps are kept compactly: the
// lines between the unchanged first and last lines of the program (an
// insert before line 1 of 1023 lines keeps one line, not 1023), and the
// records only this side has, whole. Steps of older files kept every changed
// record instead; they are still read.
struct StepSide {
    bool spliced = false;
    QVector<ProgramRow> rows;    // older steps: the changed records as they were
    qint32 prefix = 0;           // lines before the changed ones
    qint32 suffix = 0;           // lines after them
    QVector<ProgramRow> middle;  // the changed lines' command, listing, comment
    QVector<ProgramRow> records; // records only this side has
};

constexpr qint32 WithOtherFields = -2; // older: records with their other fields
constexpr qint32 Spliced = -3;

void writeRow(QDataStream& stream, const ProgramRow& row) {
    stream << row.rowid << row.lineNo << row.address << row.command << row.listing << row.comment
           << row.extra;
}

QByteArray encodeSide(qint32 prefix, qint32 suffix, const ProgramRow* middle, qint32 count,
                      const QVector<ProgramRow>& records) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << Spliced << prefix << suffix << count;
    for (qint32 i = 0; i < count; ++i)
        stream << middle[i].command << middle[i].listing << middle[i].comment;
    stream << static_cast<qint32>(records.size());
    for (const ProgramRow& row : records)
        writeRow(stream, row);
    return qCompress(bytes, 1);
}

std::optional<StepSide> decodeSide(const QByteArray& stored) {
    const QByteArray bytes = qUncompress(stored);
    QDataStream stream(bytes);
    stream.setVersion(QDataStream::Qt_6_4);
    StepSide side;
    qint32 count = 0;
    stream >> count;
    const auto readRows = [&stream](QVector<ProgramRow>& rows, qint32 n, bool otherFields) {
        for (qint32 i = 0; i < n && stream.status() == QDataStream::Ok; ++i) {
            ProgramRow row;
            stream >> row.rowid >> row.lineNo >> row.address >> row.command >> row.listing >>
                row.comment;
            if (otherFields)
                stream >> row.extra;
            rows.push_back(std::move(row));
        }
    };
    if (count == Spliced) {
        side.spliced = true;
        stream >> side.prefix >> side.suffix >> count;
        if (side.prefix < 0 || side.suffix < 0 || count < 0)
            return std::nullopt;
        for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
            ProgramRow row;
            stream >> row.command >> row.listing >> row.comment;
            side.middle.push_back(std::move(row));
        }
        stream >> count;
        if (count < 0)
            return std::nullopt;
        readRows(side.records, count, true);
    } else {
        const bool otherFields = count == WithOtherFields;
        if (otherFields)
            stream >> count;
        if (count < 0)
            return std::nullopt;
        readRows(side.rows, count, otherFields);
    }
    if (stream.status() != QDataStream::Ok)
        return std::nullopt;
    return side;
}

// Whether two lines hold the same: the listing of an until line names its
// own line number, so only its command and comment count.
bool sameContent(const ProgramRow& a, const ProgramRow& b) {
    return a.command == b.command && a.comment == b.comment &&
           (a.listing == b.listing || a.command.startsWith(QLatin1Char('U')));
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

// Older steps: whether the records `expected` describes are what the table
// holds now (each there with the same command and comment, and each of
// `other` that `expected` does not hold not there), and the table with
// `target` in their place. Line numbers, addresses and listings follow from
// the commands: a refresh that rewrote them is no change to the program.
std::optional<QVector<ProgramRow>> targetOfRecords(const QVector<ProgramRow>& now,
                                                   const QVector<ProgramRow>& expected,
                                                   const QVector<ProgramRow>& target) {
    QHash<qint64, const ProgramRow*> byRowid;
    for (const ProgramRow& row : now)
        byRowid.insert(row.rowid, &row);
    QSet<qint64> expectedIds;
    for (const ProgramRow& row : expected) {
        expectedIds.insert(row.rowid);
        const ProgramRow* found = byRowid.value(row.rowid);
        if (!found || found->command != row.command || found->comment != row.comment)
            return std::nullopt;
    }
    for (const ProgramRow& row : target) {
        if (!expectedIds.contains(row.rowid) && byRowid.contains(row.rowid))
            return std::nullopt;
    }
    QMap<qint64, ProgramRow> result;
    for (const ProgramRow& row : now) {
        if (!expectedIds.contains(row.rowid))
            result.insert(row.rowid, row);
    }
    for (const ProgramRow& row : target)
        result.insert(row.rowid, row);
    return QVector<ProgramRow>(result.begin(), result.end());
}

// The table with one side of a step put in place of the other: the lines
// between the unchanged ones and the records only one side has. nullopt when
// the table no longer holds what `from` describes.
std::optional<QVector<ProgramRow>> targetOfSplice(const QVector<ProgramRow>& now,
                                                  const StepSide& from, const StepSide& to) {
    const qsizetype count = now.size();
    if (from.prefix != to.prefix || from.suffix != to.suffix ||
        count != from.prefix + from.middle.size() + from.suffix)
        return std::nullopt;
    for (qsizetype i = 0; i < from.middle.size(); ++i) {
        const ProgramRow& line = now.at(from.prefix + i);
        if (line.command != from.middle.at(i).command || line.comment != from.middle.at(i).comment)
            return std::nullopt;
    }
    QSet<qint64> leaving;
    for (const ProgramRow& row : from.records)
        leaving.insert(row.rowid);
    QMap<qint64, ProgramRow> records;
    for (const ProgramRow& row : now) {
        if (!leaving.remove(row.rowid))
            records.insert(row.rowid, row);
    }
    if (!leaving.isEmpty())
        return std::nullopt;
    for (const ProgramRow& row : to.records) {
        if (records.contains(row.rowid))
            return std::nullopt;
        records.insert(row.rowid, row);
    }
    const qsizetype targetCount = from.prefix + to.middle.size() + from.suffix;
    if (records.size() != targetCount)
        return std::nullopt;
    // Records keep their place and their other fields; the lines are laid
    // over them in order, as every edit lays them.
    QVector<ProgramRow> target(records.begin(), records.end());
    const qsizetype shift = targetCount - count;
    for (qsizetype i = 0; i < targetCount; ++i) {
        const bool inMiddle = i >= from.prefix && i < from.prefix + to.middle.size();
        const ProgramRow& line = i < from.prefix ? now.at(i)
                                 : inMiddle      ? to.middle.at(i - from.prefix)
                                                 : now.at(i - shift);
        ProgramRow& row = target[i];
        row.command = line.command;
        row.listing = line.listing;
        row.comment = line.comment;
        // An until line that moved names its new line number.
        if (!inMiddle && i >= from.prefix && shift != 0 && row.command.startsWith(QLatin1Char('U')))
            row.listing = QStringLiteral("!");
    }
    return target;
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
    const auto before = decodeSide(query.value(4).toByteArray());
    const auto after = decodeSide(query.value(5).toByteArray());
    query.finish();
    const auto now = table.readRows();
    if (!now) {
        move.error = table.lastError();
        return move;
    }
    // Undo goes from the side after the step to the one before it; redo back.
    std::optional<QVector<ProgramRow>> target;
    if (before && after) {
        const StepSide& from = undo ? *after : *before;
        const StepSide& to = undo ? *before : *after;
        target = from.spliced && to.spliced ? targetOfSplice(*now, from, to)
                                            : targetOfRecords(*now, from.rows, to.rows);
    }
    if (!target) {
        clearHistory(file);
        transaction.commit();
        move.error = QStringLiteral("the program was changed outside this tool's editing since "
                                    "that step, so the undo history no longer fits it and has "
                                    "been cleared");
        return move;
    }
    const RowChanges changes = rowChanges(*now, *target);
    QVector<qint64> removed;
    for (const ProgramRow& row : changes.removed)
        removed.push_back(row.rowid);
    const QVector<ProgramRow>& updated = changes.updated;
    const QVector<ProgramRow>& inserted = changes.inserted;
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

bool recordHistoryStep(SqliteFile& file, const HistoryStep& step, const QVector<ProgramRow>& before,
                       const QVector<ProgramRow>& after) {
    // The unchanged lines at both ends are left out.
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && sameContent(before.at(prefix), after.at(prefix)))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           sameContent(before.at(before.size() - 1 - suffix), after.at(after.size() - 1 - suffix)))
        ++suffix;
    QSet<qint64> beforeIds;
    for (const ProgramRow& row : before)
        beforeIds.insert(row.rowid);
    QSet<qint64> afterIds;
    for (const ProgramRow& row : after)
        afterIds.insert(row.rowid);
    QVector<ProgramRow> onlyBefore;
    for (const ProgramRow& row : before) {
        if (!afterIds.contains(row.rowid))
            onlyBefore.push_back(row);
    }
    QVector<ProgramRow> onlyAfter;
    for (const ProgramRow& row : after) {
        if (!beforeIds.contains(row.rowid))
            onlyAfter.push_back(row);
    }
    const qint32 beforeMiddle = static_cast<qint32>(before.size() - prefix - suffix);
    const qint32 afterMiddle = static_cast<qint32>(after.size() - prefix - suffix);
    if (beforeMiddle == 0 && afterMiddle == 0 && onlyBefore.isEmpty() && onlyAfter.isEmpty())
        return true;
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
    insert.addBindValue(encodeSide(static_cast<qint32>(prefix), static_cast<qint32>(suffix),
                                   before.constData() + prefix, beforeMiddle, onlyBefore));
    insert.addBindValue(encodeSide(static_cast<qint32>(prefix), static_cast<qint32>(suffix),
                                   after.constData() + prefix, afterMiddle, onlyAfter));
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
