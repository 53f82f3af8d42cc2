#include "files/new_program_file.h"

#include "files/file_copy.h"

#include "files/program_files.h"
#include "files/startup.h"
#include "program/listing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace kqm::files {

namespace {

// The rows stored into a program file made from the template, refreshed; the
// reason when that failed.
QString storeRows(const ProgramDirectoryFiles& files, const QString& path,
                  const QVector<program::ProgramRow>& rows, platform::Messages& messages) {
    QString error;
    if (!makeProgramFile(files, path, &error))
        return error;
    program::ProgramTable table;
    if (!table.open(path))
        return table.lastError();
    const auto before = table.readRows();
    if (!before)
        return table.lastError();
    // Fresh rowids after any row the template holds; those rows go.
    qint64 rowid = 0;
    for (const program::ProgramRow& row : *before)
        rowid = std::max(rowid, row.rowid);
    QVector<program::ProgramRow> after = rows;
    for (program::ProgramRow& row : after)
        row.rowid = ++rowid;
    program::ProgramState state;
    const program::RefreshResult stored =
        program::storeAndRefresh(table, *before, after, state, messages);
    return stored.ok ? QString() : stored.error;
}

} // namespace

NewProgramFile writeNewProgramFile(const ProgramDirectoryFiles& files, const QString& target,
                                   const QVector<program::ProgramRow>& rows,
                                   platform::Messages& messages) {
    const QFileInfo info(target);
    const QString native = QDir::toNativeSeparators(info.absoluteFilePath());
    if (info.exists())
        return {NewProgramFile::Failure::Exists,
                QStringLiteral("%1 exists already; choose a new file").arg(native)};
    PartialFile partial(info.absoluteFilePath());
    QString opened;
    if (!partial.open(&opened))
        return {NewProgramFile::Failure::NotMade,
                QStringLiteral("%1 could not be made: %2").arg(native, opened)};
    const QString error = storeRows(files, partial.fileName(), rows, messages);
    if (!error.isEmpty())
        return {NewProgramFile::Failure::NotMade,
                QStringLiteral("%1 could not be made: %2").arg(native, error)};
    QString why;
    switch (partial.moveToTarget(&why)) {
    case MoveResult::Moved:
        return {};
    case MoveResult::NameTaken:
        return {NewProgramFile::Failure::Exists,
                QStringLiteral("%1 exists already; choose a new file").arg(native)};
    case MoveResult::Failed:
        break;
    }
    return {NewProgramFile::Failure::NotMade,
            QStringLiteral("%1 could not be made: %2").arg(native, why)};
}

} // namespace kqm::files
