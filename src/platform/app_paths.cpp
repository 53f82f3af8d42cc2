#include "platform/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kqm::platform {

namespace {

bool canCreateFilesIn(const QString& directory) {
    // QFileInfo::isWritable does not see every reason a write fails (ACLs,
    // read-only mounts); creating a file does.
    QTemporaryFile probe(directory + QStringLiteral("/.kqm-write-probe-XXXXXX"));
    return probe.open();
}

} // namespace

ExecutableAppPaths::ExecutableAppPaths() {
    QString directory = QCoreApplication::applicationDirPath();
    if (directory.isEmpty() || !canCreateFilesIn(directory)) {
        directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(directory);
    }
    m_directory = QDir::cleanPath(directory);
}

} // namespace kqm::platform
