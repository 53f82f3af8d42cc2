#include "platform/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kqm::platform {

namespace {

QString perUserDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quorvex Motion/kqm-indexer");
}

bool canCreateFilesIn(const QString& directory) {
    // QFileInfo::isWritable does not see every reason a write fails (ACLs,
    // read-only mounts); creating a file does.
    QTemporaryFile probe(directory + QStringLiteral("/.kqm-write-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString shippedTemplateBeside(const QString& executableDirectory) {
    if (executableDirectory.isEmpty())
        return {};
    const QString path = QDir::cleanPath(executableDirectory + QStringLiteral("/") +
                                         QStringLiteral(KQM_DATA_FROM_BIN "/blank.kqm"));
    return QFileInfo(path).isFile() ? path : QString();
}

ExecutableAppPaths::ExecutableAppPaths() {
    QString directory = QCoreApplication::applicationDirPath();
    m_template = shippedTemplateBeside(directory);
    if (directory.isEmpty() || !m_template.isEmpty() || !canCreateFilesIn(directory)) {
        // One place for the window and kqmctl alike, whatever name the
        // running program has.
        directory = perUserDirectory();
        QDir().mkpath(directory);
    }
    m_directory = QDir::cleanPath(directory);
}

QString ExecutableAppPaths::userDataDirectory() const {
    return QDir::cleanPath(perUserDirectory());
}

} // namespace kqm::platform
