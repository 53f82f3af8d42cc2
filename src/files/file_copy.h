#pragma once

#include <QString>

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

// Renames a file that could not be read to "<name>.damaged-<date-time>" and
// returns the new path (empty when even that failed).
QString moveAside(const QString& path);

} // namespace kqm::files
