#pragma once

#include "program/sqlite_file.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <optional>

namespace kqm::program {

// One program line: the five fields of table "Main" by position, and the
// SQLite rowid that fixes the line's place in the program.
struct ProgramRow {
    qint64 rowid = 0;
    qint64 lineNo = 0;
    qint64 address = 0;
    QString command;
    QString listing;
    QString comment;
    // Fields after the five, in the table's order: kept as they are, so that
    // an undo gives back a record whole.
    QVariantList extra;

    bool operator==(const ProgramRow&) const = default;
};

// How two versions of a table differ, record by record (by rowid): records
// only in `after`, records in both whose fields changed (as they are after
// and as they were before), and records only in `before`.
struct RowChanges {
    QVector<ProgramRow> inserted;
    QVector<ProgramRow> updated;
    QVector<ProgramRow> replaced; // the updated records as they were
    QVector<ProgramRow> removed;
    bool isEmpty() const { return inserted.isEmpty() && updated.isEmpty() && removed.isEmpty(); }
};
RowChanges rowChanges(const QVector<ProgramRow>& before, const QVector<ProgramRow>& after);

// The program table of one program file. Record order is rowid order; fields
// are reached by position, so files made by other tools with other column
// names work as long as the five fields come first.
class ProgramTable {
public:
    static inline const QString TableName = QStringLiteral("Main");

    // Opens a program file; fails with a plain reason when the file is not a
    // database or holds no table "Main" with five fields.
    bool open(const QString& path, SqliteFile::Mode mode = SqliteFile::Mode::ReadWrite);
    void close() { m_file.close(); }
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.path(); }
    QString lastError() const { return m_file.lastError(); }
    // What the user is told when open failed: the file is not a program
    // file (and why), or another program is using it.
    QString openFailure(const QString& path) const;
    SqliteFile& file() { return m_file; }

    std::optional<QVector<ProgramRow>> readRows();
    std::optional<int> rowCount();

    // Writes the fields of the given rows, matched by rowid. Runs inside the
    // caller's transaction.
    bool updateRows(const QVector<ProgramRow>& rows);
    // Adds rows with the rowids they carry (new rowids go after the last).
    bool insertRows(const QVector<ProgramRow>& rows);
    bool deleteRows(const QVector<qint64>& rowids);

    // Makes a new program file with an empty table "Main".
    static bool createEmptyProgramFile(const QString& path, QString* error);

private:
    QString column(int position) const { return quoteIdentifier(m_columns.at(position)); }

    SqliteFile m_file;
    QStringList m_columns;
    QStringList m_extraColumns; // every other column, in field order
};

} // namespace kqm::program
