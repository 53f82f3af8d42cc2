#include "files/legacy_program.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Every test program runs inside a QApplication on the offscreen platform, so
// widgets, SQL drivers and event loops all work without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // kqmctl and the window keep per-user data (the transfer log, backups)
    // under XDG_DATA_HOME: tests and the programs they start use a fresh one,
    // never the user's own.
    QTemporaryDir dataHome;
    if (qEnvironmentVariableIsEmpty("KQM_KEEP_DATA_HOME"))
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    kqm::files::setLegacyReaderProgram(QStringLiteral(KQM_LEGACY_READER_PATH));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
