#include "support/program_files.h"

#include <QFile>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace kqm::test {

void WriteProgramFile(const QString& path, const QVector<Line>& lines) {
    QString error;
    ASSERT_TRUE(program::ProgramTable::createEmptyProgramFile(path, &error)) << error.toStdString();
    program::SqliteFile file;
    ASSERT_TRUE(file.open(path));
    program::Transaction transaction(file);
    QSqlQuery insert(file.database());
    insert.prepare(QStringLiteral("INSERT INTO Main VALUES (0, 0, ?, ?, ?)"));
    for (const Line& line : lines) {
        insert.bindValue(0, line.command);
        insert.bindValue(1, line.listing);
        insert.bindValue(2, line.comment);
        ASSERT_TRUE(insert.exec());
    }
    ASSERT_TRUE(transaction.commit());
}

QVector<program::ProgramRow> ReadProgramFile(const QString& path) {
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly))
        return {};
    return table.readRows().value_or(QVector<program::ProgramRow>{});
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace kqm::test
