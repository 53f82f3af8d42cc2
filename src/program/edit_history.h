#pragma once

#include "program/program_table.h"

#include <QString>
#include <QVector>

#include <optional>

namespace kqm::program {

// The undo history of a program file, kept in the file itself in a table of
// its own beside "Main", so that it survives a crash, a restart and a copy of
// the file. A step holds only the lines it changed, as they were before and
// after it, the records it added or removed, and the current line before and
// after. Table "Main" is never
// touched by anything here except undo and redo themselves.

inline const QString HistoryTableName = QStringLiteral("EditHistory");
inline constexpr int HistoryDepth = 200;

// What one change records about itself.
struct HistoryStep {
    QString label; // "Delete line 4": the menu says "Undo Delete line 4"
    std::optional<int> currentBefore;
    std::optional<int> currentAfter;
};

struct HistoryEntry {
    qint64 id = 0;
    QString label;
    bool undone = false; // undone steps are the ones Redo can bring back
};

// Records a change inside the caller's transaction: the records it changed,
// as they were and as they are. Steps that were undone are dropped (a new
// change ends the redo path) and only the last HistoryDepth steps are kept.
// Creates the history table on first use.
// before and after are the whole table, refreshed, in program order.
bool recordHistoryStep(SqliteFile& file, const HistoryStep& step, const QVector<ProgramRow>& before,
                       const QVector<ProgramRow>& after);

// The steps, oldest first; empty when the file has no history table.
std::optional<QVector<HistoryEntry>> readHistory(SqliteFile& file);

// Labels of the step Undo and Redo would take; nullopt when there is none.
std::optional<QString> undoLabel(SqliteFile& file);
std::optional<QString> redoLabel(SqliteFile& file);

struct HistoryMove {
    bool ok = false;
    QString error;                 // set when !ok and a step was there
    bool nothing = false;          // there was no step to take
    QString label;                 // the step taken
    QVector<ProgramRow> rows;      // table "Main" afterwards
    std::optional<int> currentRow; // the current line the step restores
};

// Takes one step back or forward in one transaction. When the program no
// longer matches what the step recorded (another program changed the file),
// nothing is changed, the history is cleared, and the error says so.
HistoryMove undoStep(ProgramTable& table);
HistoryMove redoStep(ProgramTable& table);

// Removes the history (a new program starts with none).
bool clearHistory(SqliteFile& file);

} // namespace kqm::program
