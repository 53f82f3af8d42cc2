#include "files/file_copy.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace kqm::files {

namespace {

CopyResult failed(const QFileDevice& file, qint64 needed = 0) {
    CopyResult result;
    result.detail = file.errorString();
    // Qt reports a full disk as a plain write error; the free space tells.
    const QStorageInfo storage(QFileInfo(file.fileName()).absolutePath());
    if (needed > 0 && storage.isValid() && storage.bytesAvailable() < needed) {
        result.failure = CopyResult::Failure::NoSpace;
        return result;
    }
    switch (file.error()) {
    case QFileDevice::ResourceError:
        result.failure = CopyResult::Failure::NoSpace;
        break;
    case QFileDevice::PermissionsError:
        result.failure = CopyResult::Failure::AccessDenied;
        break;
    default:
        result.failure = CopyResult::Failure::Other;
        break;
    }
    return result;
}

} // namespace

CopyResult copyFileReplacing(const QString& source, const QString& destination) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return failed(in);
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return failed(out);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0) {
            out.cancelWriting();
            return failed(in);
        }
        if (n == 0)
            break;
        if (out.write(buffer, n) != n) {
            CopyResult result = failed(out, in.size());
            out.cancelWriting();
            return result;
        }
    }
    if (!out.commit())
        return failed(out, in.size());
    return {};
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
