#pragma once

#include <QString>

#include <sys/types.h>

namespace kqm::files {

struct CopyResult {
    enum class Failure { None, NoSpace, AccessDenied, Other };
    Failure failure = Failure::None;
    QString detail;
    bool ok() const { return failure == Failure::None; }
};

// Copies a file onto a path, replacing what is there. The copy is written
// under a temporary name and renamed into place, so a failed copy (a full
// disk, a pulled stick) leaves the destination as it was.
CopyResult copyFileReplacing(const QString& source, const QString& destination);

// The copy seam: tests make copies fail as a full or write-protected disk would.
class FileCopier {
public:
    virtual ~FileCopier() = default;
    virtual CopyResult copy(const QString& source, const QString& destination) = 0;
};

class AtomicFileCopier final : public FileCopier {
public:
    CopyResult copy(const QString& source, const QString& destination) override {
        return copyFileReplacing(source, destination);
    }
};

// Moves a finished file to its name only while that name is free: an
// existing file, even one that appears at the last moment, is never replaced.
// The file gets the permissions a new file gets (the umask's), not the
// private ones of a temporary file.
enum class MoveResult { Moved, NameTaken, Failed };
MoveResult moveToFreeName(const QString& from, const QString& to, QString* error);

// A file being made beside its target, under a name the folder view hides:
// ".NAME.partial-XXXXXX". Its maker holds a lock on it for as long as it
// lives, so that the next maker of the same target can tell what a killed
// one left and sweep it (with its journal) before it starts. Gone when
// destroyed unless moved to the target.
class PartialFile {
public:
    explicit PartialFile(QString target);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Sweeps what earlier makers left, then makes the partial file.
    bool open(QString* error);
    QString fileName() const { return m_path; }
    // moveToFreeName onto the target; the partial is the target's then.
    MoveResult moveToTarget(QString* error);

private:
    QString m_target;
    QString m_path;
    int m_fd = -1;
    bool m_moved = false;
};

// Removes the partial files of target (and their journals) that no living
// maker holds.
void sweepPartials(const QString& target);
// The prefix of target's partial files: ".NAME.partial-".
QString partialPrefix(const QString& target);
// Removes a file with the journals SQLite may have left beside it.
void removeWithJournals(const QString& path);

// Renames a file that could not be read to "<name>.damaged-<date-time>" and
// returns the new path (empty when even that failed).
QString moveAside(const QString& path);

} // namespace kqm::files
