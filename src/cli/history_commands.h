#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl undo FILE, kqmctl redo FILE: one step of the program file's undo
// history, as Edit > Undo and Redo take it in the window.
int undoCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
int redoCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl history FILE: the steps, oldest first.
int historyCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
