#pragma once

#include "program/program_table.h"
#include "support/qt_printers.h"

#include <QString>
#include <QVector>

namespace kqm::test {

struct Line {
    QString command;
    QString listing = QStringLiteral("!");
    QString comment = QStringLiteral(" ");
};

// Writes a program file the way another tool would: plain SQL, fields in order.
void WriteProgramFile(const QString& path, const QVector<Line>& lines);
QVector<program::ProgramRow> ReadProgramFile(const QString& path);
QByteArray FileBytes(const QString& path);

} // namespace kqm::test
