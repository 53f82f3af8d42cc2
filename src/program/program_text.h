#pragma once

#include "program/program_table.h"

#include <QList>
#include <QString>
#include <QVector>

namespace kqm::program {

// A program as plain UTF-8 text, for version control, diffs, e-mail and
// editing by hand: a header line, then one line per program line holding the
// command, its comment and, only where the listing cannot be derived from the
// command, the listing text. Text written from a program and read back gives
// the same program table, field for field, once the listing is refreshed.
// docs/program-text.md describes the format.

inline const QString ProgramTextFormat = QStringLiteral("KQM program text 1");

// The command editor's comment box takes this many characters.
inline constexpr int EditorCommentLength = 30;
// The longest field a text line may carry: a program file's text field holds
// 255 characters, so a comment an older tool stored still travels; anything
// longer is no program line.
inline constexpr int TextFieldLength = 255;
// The errors a read lists before it stops reading: enough to find each kind
// of fault, never a list larger than the text.
inline constexpr int TextErrorLimit = 200;

// The whole text, header line first, "\n" line ends. The line numbers and
// addresses are not written: they follow from the order of the lines.
QString writeProgramText(const QVector<ProgramRow>& rows);

struct ProgramTextError {
    int line = 0; // 1-based line of the text
    QString message;

    bool operator==(const ProgramTextError&) const = default;
};

struct ProgramTextRead {
    QVector<ProgramRow> rows; // empty whenever there are errors
    QList<ProgramTextError> errors;
    bool ok() const { return errors.isEmpty(); }
};

// Rows ready to store: command, listing ("!", pending, unless the text
// carried one) and comment (" " when none); rowid, lineNo and address 0.
// Every command is checked as a stored command. requireHeader is false for
// text pasted from an editor, which may come without the header line.
ProgramTextRead readProgramText(const QString& text, bool requireHeader);

} // namespace kqm::program
