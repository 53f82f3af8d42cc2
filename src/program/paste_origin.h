#pragma once

#include "program/program_table.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace kqm::program {

// Where copied lines came from. The program text on the clipboard says what
// the lines are but not where they stood, and a branch names its target by
// line number or by byte address, both meaningful only in the program it was
// written for. With this beside the text a paste can point a branch into the
// copied lines at the pasted copy, and one that leaves them at the line it
// named, as long as it is pasted into that same program.
struct PasteOrigin {
    QVector<QString> program; // the command of every line of the program copied from
    QVector<int> lines;       // per copied line: its 0-based line there
    bool cut = false;         // the lines were cut: the program goes on without them

    bool operator==(const PasteOrigin&) const = default;
};

// The clipboard format the origin travels in, beside the program text.
inline const QString PasteOriginMimeType = QStringLiteral("application/x-kqm-program-origin");

// The origin of the lines `copied` (0-based, in the order they are copied).
PasteOrigin originOf(const QVector<ProgramRow>& rows, const QList<int>& copied, bool cut);

QByteArray writePasteOrigin(const PasteOrigin& origin);
// nullopt for anything that is not an origin this program wrote, or names a
// line its own program does not have: the paste then treats the lines as
// coming from an unknown place.
std::optional<PasteOrigin> readPasteOrigin(const QByteArray& data);

// Points the branches of the `pasted` lines, laid into `after` from line
// `first` on, where they pointed in the program they were copied from: into
// the copied lines at the pasted copies, out of them at the lines they named
// in `before` (the program pasted into, when it is the one copied from).
// Returns, per branch that could not be mapped, a note naming its line;
// those are left as written.
QStringList mapPastedBranches(const QVector<ProgramRow>& before, QVector<ProgramRow>& after,
                              int first, const QVector<ProgramRow>& pasted,
                              const std::optional<PasteOrigin>& origin);

} // namespace kqm::program
