#pragma once

#include "program/program_table.h"

#include <QString>
#include <QVector>

#include <optional>

namespace kqm::program {

// Loops ("&" address "_" times) and gotos ("X" address) hold a byte address.
// When an edit shifts the addresses, a branch whose address was the first
// address of a line is given that line's new address, so it keeps naming the
// same instruction. Where several lines start at one address (lines that take
// no memory), the branch names the last of them, as the upload reads it.

// Where each line starts, from the command sizes (the stored Address field
// may be stale); one more entry at the end: the address after the last line.
QVector<int> lineStarts(const QVector<ProgramRow>& rows);

// The line each row of an edited program came from: its 0-based line before
// the edit, or one of these.
inline constexpr int NewLine = -1;     // the user wrote it now, against the program as it was
inline constexpr int ForeignLine = -2; // it came from elsewhere (a paste): left as it is

// Rewrites the address of every loop and goto in `after` whose address was
// the first address of a line of `before`. A target line the edit removed
// hands on to the line that takes its place. An address into the middle of a
// line or past the end is left as it is. Rewritten lines get a pending
// listing text.
void followBranches(const QVector<ProgramRow>& before, QVector<ProgramRow>& after,
                    const QVector<int>& origin);

// Line-number branches: "I" and "U" name a line in their third operand, the
// comma-form loop in its second.
bool isLineBranch(const QString& command);
// The line number a line-number branch names.
qint64 lineTarget(const QString& command);
// The branch with another line number.
QString withLineTarget(const QString& command, qint64 line);

// The address a loop or goto names; nullopt for other commands.
std::optional<int> branchAddress(const QString& command);

// The loop or goto with its address written anew; the rest (a loop's "_" and
// count) stays as it was. nullopt unless oldAddress is written plainly.
std::optional<QString> withAddress(const QString& command, int oldAddress, int newAddress);

// The last line that starts at the address, by lineStarts(): the line an
// upload makes of a branch there (lines that take no memory share their
// address with the next). -1 when no line starts there.
int lineAtAddress(const QVector<int>& starts, int address);

} // namespace kqm::program
