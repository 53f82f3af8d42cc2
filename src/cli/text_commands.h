#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl export FILE [-o TEXT]: the program text of a program file, on
// standard output or into TEXT. FILE is only read.
int exportCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

// kqmctl import TEXT -o FILE: a new program file from program text (TEXT "-"
// reads standard input). Every wrong line is told as "TEXT:LINE: message" and
// then nothing is written; an existing FILE is never replaced.
int importCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

// kqmctl convert LEGACY NEW: a new program file from an Access program file
// of the older kind, which is only read; an existing NEW is never replaced.
int convertCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
