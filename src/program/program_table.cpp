#include "program/program_table.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kqm::program {

namespace {
constexpr int FieldCount = 5;

QString text(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

// SQLite takes a leading U+FEFF of text handed to it as UTF-16 for a byte
// order mark and drops it: a text that starts with one is handed over with a
// second, which SQLite drops, so the text is stored as it is.
QVariant stored(const QString& text) {
    if (text.startsWith(QChar(0xFEFF)))
        return QString(QChar(0xFEFF)) + text;
    return text;
}

QString goneRecord(qint64 rowid) {
    return QStringLiteral("record %1 is no longer in the file: another program changed it; "
                          "nothing was changed")
        .arg(rowid);
}
} // namespace

bool ProgramTable::open(const QString& path, SqliteFile::Mode mode) {
    m_columns.clear();
    const auto columns = m_file.openTable(path, mode, TableName, FieldCount,
                                          QStringLiteral("program"), QStringLiteral("five"));
    if (!columns)
        return false;
    m_columns = *columns;
    // Fields are reached by position, as other tools write them; but a table
    // that names all five in another order is read by name, so that an edit
    // never writes line numbers into the comments.
    const QStringList names = {QStringLiteral("LineNo"), QStringLiteral("Address"),
                               QStringLiteral("Command"), QStringLiteral("Listing"),
                               QStringLiteral("Comment")};
    QStringList byName;
    for (const QString& name : names) {
        for (const QString& column : m_columns) {
            if (column.compare(name, Qt::CaseInsensitive) == 0) {
                byName << column;
                break;
            }
        }
    }
    if (byName.size() == names.size())
        m_columns = byName;
    m_extraColumns.clear();
    for (const QString& column : std::as_const(*columns)) {
        if (!m_columns.mid(0, FieldCount).contains(column))
            m_extraColumns << column;
    }
    // A table without rowid cannot keep program order; reading it here tells.
    QSqlQuery probe(m_file.database());
    if (!probe.exec(
            QStringLiteral("SELECT rowid FROM %1 LIMIT 1").arg(quoteIdentifier(TableName)))) {
        const QString error = probe.lastError().text();
        probe = QSqlQuery();
        return m_file.fail(error);
    }
    return true;
}

std::optional<QVector<ProgramRow>> ProgramTable::readRows() {
    QSqlQuery query(m_file.database());
    query.setForwardOnly(true);
    QString extra;
    for (const QString& name : std::as_const(m_extraColumns))
        extra += QStringLiteral(", ") + quoteIdentifier(name);
    const QString sql = QStringLiteral("SELECT rowid, %1, %2, %3, %4, %5%6 FROM %7 ORDER BY rowid")
                            .arg(column(0), column(1), column(2), column(3), column(4), extra,
                                 quoteIdentifier(TableName));
    if (!query.exec(sql)) {
        m_file.setError(query.lastError().text());
        return std::nullopt;
    }
    QVector<ProgramRow> rows;
    while (query.next()) {
        ProgramRow row;
        row.rowid = query.value(0).toLongLong();
        row.lineNo = query.value(1).toLongLong();
        row.address = query.value(2).toLongLong();
        row.command = text(query.value(3));
        row.listing = text(query.value(4));
        row.comment = text(query.value(5));
        for (int i = 0; i < m_extraColumns.size(); ++i)
            row.extra.push_back(query.value(FieldCount + 1 + i));
        rows.push_back(std::move(row));
    }
    if (query.lastError().isValid()) {
        m_file.setError(query.lastError().text());
        return std::nullopt;
    }
    return rows;
}

std::optional<int> ProgramTable::rowCount() {
    QSqlQuery query(m_file.database());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(TableName))) ||
        !query.next()) {
        m_file.setError(query.lastError().text());
        return std::nullopt;
    }
    return query.value(0).toInt();
}

bool ProgramTable::updateRows(const QVector<ProgramRow>& rows) {
    QSqlQuery query(m_file.database());
    const QString sql =
        QStringLiteral("UPDATE %1 SET %2 = ?, %3 = ?, %4 = ?, %5 = ?, %6 = ? "
                       "WHERE rowid = ?")
            .arg(quoteIdentifier(TableName), column(0), column(1), column(2), column(3), column(4));
    if (!query.prepare(sql)) {
        m_file.setError(query.lastError().text());
        return false;
    }
    for (const ProgramRow& row : rows) {
        query.bindValue(0, row.lineNo);
        query.bindValue(1, row.address);
        query.bindValue(2, stored(row.command));
        query.bindValue(3, stored(row.listing));
        query.bindValue(4, stored(row.comment));
        query.bindValue(5, row.rowid);
        if (!query.exec()) {
            m_file.setError(query.lastError().text());
            return false;
        }
        // A record that is not there was changed by somebody else: writing
        // nothing is no success.
        if (query.numRowsAffected() != 1) {
            m_file.setError(goneRecord(row.rowid));
            return false;
        }
    }
    return true;
}

bool ProgramTable::insertRows(const QVector<ProgramRow>& rows) {
    QSqlQuery plain(m_file.database());
    QSqlQuery whole(m_file.database());
    const QString sql =
        QStringLiteral("INSERT INTO %1 (rowid, %2, %3, %4, %5, %6%7) VALUES (?, ?, ?, ?, ?, ?%8)");
    const auto prepare = [&](QSqlQuery& query, const QStringList& extra) {
        QString names;
        for (const QString& name : extra)
            names += QStringLiteral(", ") + quoteIdentifier(name);
        return query.prepare(sql.arg(quoteIdentifier(TableName), column(0), column(1), column(2),
                                     column(3), column(4), names,
                                     QStringLiteral(", ?").repeated(extra.size())));
    };
    if (!prepare(plain, {}) || !prepare(whole, m_extraColumns)) {
        m_file.setError((plain.lastError().isValid() ? plain : whole).lastError().text());
        return false;
    }
    for (const ProgramRow& row : rows) {
        // A record that carries the other fields (one an undo gives back)
        // is written whole; a new line leaves them to their defaults.
        const bool withExtra =
            !m_extraColumns.isEmpty() && row.extra.size() == m_extraColumns.size();
        QSqlQuery& query = withExtra ? whole : plain;
        query.bindValue(0, row.rowid);
        query.bindValue(1, row.lineNo);
        query.bindValue(2, row.address);
        query.bindValue(3, stored(row.command));
        query.bindValue(4, stored(row.listing));
        query.bindValue(5, stored(row.comment));
        for (int i = 0; withExtra && i < row.extra.size(); ++i)
            query.bindValue(FieldCount + 1 + i, row.extra.at(i));
        if (!query.exec()) {
            m_file.setError(query.lastError().text());
            return false;
        }
    }
    return true;
}

bool ProgramTable::deleteRows(const QVector<qint64>& rowids) {
    QSqlQuery query(m_file.database());
    if (!query.prepare(
            QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoteIdentifier(TableName)))) {
        m_file.setError(query.lastError().text());
        return false;
    }
    for (const qint64 rowid : rowids) {
        query.bindValue(0, rowid);
        if (!query.exec()) {
            m_file.setError(query.lastError().text());
            return false;
        }
        if (query.numRowsAffected() != 1) {
            m_file.setError(goneRecord(rowid));
            return false;
        }
    }
    return true;
}

RowChanges rowChanges(const QVector<ProgramRow>& before, const QVector<ProgramRow>& after) {
    RowChanges changes;
    QHash<qint64, const ProgramRow*> old;
    for (const ProgramRow& row : before)
        old.insert(row.rowid, &row);
    for (const ProgramRow& row : after) {
        const ProgramRow* previous = old.take(row.rowid);
        if (!previous) {
            changes.inserted.push_back(row);
        } else if (!(*previous == row)) {
            changes.updated.push_back(row);
            changes.replaced.push_back(*previous);
        }
    }
    for (const ProgramRow& row : before) {
        if (old.contains(row.rowid))
            changes.removed.push_back(row);
    }
    return changes;
}

bool ProgramTable::createEmptyProgramFile(const QString& path, QString* error) {
    // Emptied, not replaced: the file stays the one its maker may hold.
    if (QFile existing(path); existing.exists() && !existing.resize(0)) {
        if (error)
            *error = existing.errorString();
        return false;
    }
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    SqliteFile file;
    if (!file.open(path) ||
        !file.exec(QStringLiteral("CREATE TABLE %1 (LineNo INTEGER, Address INTEGER, "
                                  "Command TEXT, Listing TEXT, Comment TEXT)")
                       .arg(quoteIdentifier(TableName)))) {
        if (error)
            *error = file.lastError();
        return false;
    }
    return true;
}

QString ProgramTable::openFailure(const QString& path) const {
    const QString name = QDir::toNativeSeparators(path);
    if (m_file.inUse()) {
        return QStringLiteral("%1 is in use by another program; close it there and try again")
            .arg(name);
    }
    return QStringLiteral("%1 is not a program file: %2").arg(name, m_file.lastError());
}

} // namespace kqm::program
