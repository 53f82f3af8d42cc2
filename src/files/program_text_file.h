#pragma once

#include "program/program_text.h"

#include <QList>
#include <QString>

#include <optional>

namespace kqm::files {

// The largest program text read: far above the text of the largest program
// the unit holds, small enough that an endless stream cannot fill memory.
inline constexpr qint64 MaxProgramTextBytes = 16 * 1024 * 1024;

// A program text file as the window's File > Import and kqmctl import read
// it: at most MaxProgramTextBytes, UTF-8 only, every line checked.
struct ProgramTextFile {
    QString unreadable; // could not be read, or too large: why
    QList<int> notUtf8; // lines that are not UTF-8 text
    program::ProgramTextRead read;
    bool ok() const { return unreadable.isEmpty() && notUtf8.isEmpty() && read.ok(); }
    // Every problem, one a line, each "NAME:LINE: message" where a line has one.
    QStringList problems(const QString& name) const;
};
// path "-" reads standard input.
ProgramTextFile readProgramTextFile(const QString& path);

// Why the text may not be written to textPath: it is the program file, or a
// file that is there already and is no program text (another program file,
// anything else). An earlier export of program text may be replaced.
std::optional<QString> exportRefusal(const QString& textPath, const QString& programFile);

} // namespace kqm::files
