#include "files/legacy_program.h"

#include <QApplication>

#include <gtest/gtest.h>

// Every test program runs inside a QApplication on the offscreen platform, so
// widgets, SQL drivers and event loops all work without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    kqm::files::setLegacyReaderProgram(QStringLiteral(KQM_LEGACY_READER_PATH));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
