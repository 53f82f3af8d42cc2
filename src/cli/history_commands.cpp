#include "cli/history_commands.h"

#include "cli/command_line.h"
#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "program/edit_history.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QDir>

namespace kqm::cli {

namespace {

int takeStep(const QStringList& arguments, QTextStream& out, QTextStream& err, bool undo) {
    const QString name = undo ? QStringLiteral("undo") : QStringLiteral("redo");
    FileArguments parsed;
    if (!parseFileArguments(name, arguments, {}, &parsed, err))
        return UsageError;
    const QString& path = parsed.file;
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadWriteExisting)) {
        err << "kqmctl: " << openFailureOf(table, path) << Qt::endl;
        return UsageError;
    }
    const program::HistoryMove move = undo ? program::undoStep(table) : program::redoStep(table);
    if (move.nothing) {
        err << "kqmctl: there is nothing to " << name << " in " << QDir::toNativeSeparators(path)
            << Qt::endl;
        return Failure;
    }
    if (!move.ok) {
        err << "kqmctl: \"" << printable(move.label) << "\" could not be "
            << (undo ? "undone" : "redone") << " (" << move.error << ")" << Qt::endl;
        return Failure;
    }
    ConsoleMessages messages(err);
    program::ProgramState state;
    program::publishListing(move.rows, state, messages);
    out << (undo ? "Undone: " : "Redone: ") << printable(move.label) << '\n'
        << (state.bytesUsedCaption().isEmpty() ? QStringLiteral("The program is empty.")
                                               : state.bytesUsedCaption())
        << Qt::endl;
    return Success;
}

} // namespace

int undoCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    return takeStep(arguments, out, err, true);
}

int redoCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    return takeStep(arguments, out, err, false);
}

int historyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    FileArguments parsed;
    if (!parseFileArguments(QStringLiteral("history"), arguments, {}, &parsed, err))
        return UsageError;
    const QString& path = parsed.file;
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << openFailureOf(table, path) << Qt::endl;
        return UsageError;
    }
    const auto entries = program::readHistory(table.file());
    if (!entries) {
        err << "kqmctl: the history of " << QDir::toNativeSeparators(path)
            << " could not be read: " << table.lastError() << Qt::endl;
        return Failure;
    }
    // Oldest first; steps that were undone (and can be redone) are marked.
    int number = 0;
    for (const program::HistoryEntry& entry : *entries) {
        out << ++number << '\t' << printable(entry.label);
        if (entry.undone)
            out << "\t(undone)";
        out << '\n';
    }
    out.flush();
    return Success;
}

} // namespace kqm::cli
