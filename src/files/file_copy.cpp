#include "files/file_copy.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kqm::files {

namespace {

// Why a copy failed, told from the real error: the error number the system
// left, and what the destination's folder and file allow. Qt reports a full
// disk as a plain write error, a read-only destination as a write error and a
// read-only folder as an open error, so its own error kind does not tell.
CopyResult failed(const QFileDevice& file, const QString& destination, qint64 needed,
                  int systemError) {
    CopyResult result;
    result.detail = file.errorString();
    const QFileInfo target(destination);
    const QFileInfo folder(target.absolutePath());
    const QStorageInfo storage(target.absolutePath());
    const bool noSpace = systemError == ENOSPC || systemError == EFBIG
#ifdef EDQUOT
                         || systemError == EDQUOT
#endif
                         || (needed > 0 && storage.isValid() && storage.bytesAvailable() < needed);
    const bool denied = systemError == EACCES || systemError == EPERM || systemError == EROFS ||
                        (target.exists() && !target.isWritable()) ||
                        (folder.exists() && !folder.isWritable()) ||
                        (storage.isValid() && storage.isReadOnly()) ||
                        file.error() == QFileDevice::PermissionsError;
    if (noSpace)
        result.failure = CopyResult::Failure::NoSpace;
    else if (denied)
        result.failure = CopyResult::Failure::AccessDenied;
    else
        result.failure = CopyResult::Failure::Other;
    return result;
}

} // namespace

CopyResult copyFileReplacing(const QString& source, const QString& destination) {
    QFile in(source);
    errno = 0;
    if (!in.open(QIODevice::ReadOnly)) {
        const int error = errno;
        CopyResult result = failed(in, source, 0, error);
        // A source that cannot be read is no full disk, whatever the space.
        if (result.failure == CopyResult::Failure::NoSpace)
            result.failure = CopyResult::Failure::Other;
        return result;
    }
    QSaveFile out(destination);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly))
        return failed(out, destination, in.size(), errno);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0) {
            out.cancelWriting();
            return failed(in, source, 0, 0);
        }
        if (n == 0)
            break;
        errno = 0;
        if (out.write(buffer, n) != n) {
            CopyResult result = failed(out, destination, in.size(), errno);
            out.cancelWriting();
            return result;
        }
    }
    errno = 0;
    if (!out.commit())
        return failed(out, destination, in.size(), errno);
    return {};
}

namespace {

// The process's umask, read without changing it (umask() itself would set it
// for every thread while it is read).
mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                return static_cast<mode_t>(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 022;
}

} // namespace

MoveResult moveToFreeName(const QString& from, const QString& to, QString* error) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    ::chmod(source.constData(), 0666 & ~currentUmask());
    // Not QFile::rename: where its own rename fails it copies, and the copy
    // would replace a file that took the name meanwhile.
    int result = ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                             RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without that rename: a hard link is made only to a
        // free name too.
        result = ::link(source.constData(), target.constData());
        if (result == 0)
            ::unlink(source.constData());
    }
    if (result == 0)
        return MoveResult::Moved;
    const int why = errno;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(why));
    return why == EEXIST ? MoveResult::NameTaken : MoveResult::Failed;
}

QString partialPrefix(const QString& target) {
    return QLatin1Char('.') + QFileInfo(target).fileName() + QStringLiteral(".partial-");
}

void removeWithJournals(const QString& path) {
    QFile::remove(path);
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

void sweepPartials(const QString& target) {
    const QFileInfo info(target);
    const QDir folder = info.absoluteDir();
    const QString prefix = partialPrefix(target);
    const QStringList names =
        folder.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QString path = folder.filePath(name);
        const bool companion = name.endsWith(QLatin1String("-journal")) ||
                               name.endsWith(QLatin1String("-wal")) ||
                               name.endsWith(QLatin1String("-shm"));
        if (companion) {
            // A journal outlives its file only when its maker was killed.
            const QString owner = path.left(path.lastIndexOf(QLatin1Char('-')));
            if (!QFileInfo::exists(owner))
                QFile::remove(path);
            continue;
        }
        const QByteArray encoded = QFile::encodeName(path);
        const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A maker locks its file before it gives it this name; one still
        // under its first name was killed in that instant, or is being made
        // right now: it goes only once it is a minute old.
        struct stat status {};
        const bool beingNamed = name.mid(prefix.size()).startsWith(QLatin1String("new-"));
        const bool young = ::fstat(fd, &status) == 0 && status.st_mtime > ::time(nullptr) - 60;
        if ((!beingNamed || !young) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeWithJournals(path);
        ::close(fd);
    }
}

PartialFile::PartialFile(QString target) : m_target(std::move(target)) {}

PartialFile::~PartialFile() {
    if (!m_moved && !m_path.isEmpty())
        removeWithJournals(m_path);
    // Closed last: the lock says "in use" until nothing of it is left.
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PartialFile::open(QString* error) {
    sweepPartials(m_target);
    const QFileInfo info(m_target);
    // Made and locked under a first name, then given its own: a file under
    // its own name is always held while its maker lives.
    const QString prefix = info.absoluteDir().filePath(partialPrefix(m_target));
    QByteArray first = QFile::encodeName(prefix) + "new-XXXXXX";
    m_fd = ::mkostemp(first.data(), O_CLOEXEC);
    const auto failed = [&] {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    if (m_fd < 0)
        return failed();
    const QByteArray own = QFile::encodeName(prefix) + first.right(6);
    // Never over another maker's file of the same name.
    QString why;
    if (::flock(m_fd, LOCK_EX) != 0 ||
        moveToFreeName(QFile::decodeName(first), QFile::decodeName(own), &why) !=
            MoveResult::Moved) {
        const bool result = failed();
        if (error && !why.isEmpty())
            *error = why;
        ::unlink(first.constData());
        return result;
    }
    m_path = QFile::decodeName(own);
    return true;
}

MoveResult PartialFile::moveToTarget(QString* error) {
    const MoveResult result = moveToFreeName(m_path, m_target, error);
    m_moved = result == MoveResult::Moved;
    return result;
}

QString moveAside(const QString& path) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(path, target))
        return QString();
    // A journal left beside the file belongs to it: it goes along, or SQLite
    // would apply it to the new file of the same name.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const QString companion = path + QLatin1String(suffix);
        if (QFile::exists(companion))
            QFile::rename(companion, target + QLatin1String(suffix));
    }
    return target;
}

} // namespace kqm::files
