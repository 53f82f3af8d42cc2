#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// Before a send replaces the unit's program, the program is read with the
// upload's request and kept: a record (a small JSON file) per backup, and
// beside it a program file when the unit held a program. A unit that held
// none, or reported corrupted memory, is recorded as such, without a file.

struct UnitBackup {
    enum class State { Program, Empty, Corrupted };
    QString record;      // the record file
    QString programFile; // the program file; empty unless State::Program
    QDateTime taken;
    int axis = 0;
    QString model;
    QString device; // the port's device, as the system names it
    State state = State::Program;
    int lines = 0;
    int bytes = 0;
};

inline constexpr int BackupsKept = 50;

// Where the window and kqmctl keep unit backups: backups/ in the per-user
// data directory, and under it one folder per axis: root/axis-N.
QString backupRootPath(const QString& userDataDirectory);
QString axisBackupDirectory(const QString& root, int axis);

struct BackupResult {
    bool ok = false;
    QString error;           // why no backup was kept (the unit did not answer, a write failed)
    bool unitSilent = false; // the unit did not answer: nothing can be sent to it now
    UnitBackup backup;
};
// Reads the unit's program and keeps it in `directory` (made when missing),
// then keeps only the newest BackupsKept there. Runs inside the caller's
// exchange, before the send's opening frame.
BackupResult backUpUnitProgram(link::Link& link, const QString& directory, int axis,
                               const QString& model, const QDateTime& taken);
// The same from a reply already read (for tests and the command line).
BackupResult keepBackup(const QString& reply, const QString& directory, int axis,
                        const QString& model, const QString& device, const QDateTime& taken);

// The backups in `directory`, newest first.
QVector<UnitBackup> backupsIn(const QString& directory);
// The backups of every axis under root, newest first.
QVector<UnitBackup> allBackups(const QString& root);
// Removes all but the newest `keep` backups in `directory`; `kept` (a
// record just written) stays whatever the clock said when it was named.
void pruneBackups(const QString& directory, int keep = BackupsKept,
                  const QString& kept = QString());

QString stateText(UnitBackup::State state);

} // namespace kqm::transfer
