#include "support/pty_unit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

// kqmctl against a pseudo-terminal that keeps sending, as a flood or one
// byte every 50 ms, from the start or from the first frame after the
// identification: each exchange ends within its deadline, says that the line
// keeps sending, and fails; memory stays small.
TEST(KqmctlFloodedLine, EveryExchangeEndsWithinItsDeadline) {
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("never.mdb"));
    const struct {
        const char* name;
        QStringList arguments;
        int noiseAfterFrames;
        int withinMs;
    } cases[] = {
        {"connect", {"connect"}, 0, 12000},
        {"readout", {"readout"}, 4, 12000},
        // The listing's and the upload's deadline is that of a full memory at
        // the line's rate, the unit's fastest.
        {"view", {"view", "--baud", "9600"}, 4, 25000},
        {"upload", {"upload", "--baud", "9600", "--output", output}, 4, 25000},
    };
    for (const char* rate : {"200000", "20"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at " + rate + " bytes/s");
            kqm::test::PtyUnit unit(
                QStringLiteral(KQMCTL_PATH),
                {"--noise-rate", rate, "--noise-after", QString::number(c.noiseAfterFrames)});
            ASSERT_FALSE(unit.device().isEmpty());
            QProcess kqmctl;
            QElapsedTimer took;
            took.start();
            kqmctl.start(QStringLiteral(KQMCTL_PATH),
                         c.arguments + QStringList{"--port", unit.device()});
            ASSERT_TRUE(kqmctl.waitForFinished(40000));
            EXPECT_LT(took.elapsed(), c.withinMs);
            const QString err = QString::fromUtf8(kqmctl.readAllStandardError());
            EXPECT_EQ(kqmctl.exitCode(), 1) << err.toStdString();
            EXPECT_TRUE(err.contains(QStringLiteral("keeps sending data"))) << err.toStdString();
            // Said once, and not blamed on the baud rate, the cables or the power.
            EXPECT_EQ(err.count(QStringLiteral("keeps sending data")), 1) << err.toStdString();
            EXPECT_FALSE(err.contains(QStringLiteral("Baud Rate"))) << err.toStdString();
            EXPECT_FALSE(QFile::exists(output));
        }
    }
#ifndef KQM_SANITIZED
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 100 * 1024); // kilobytes
#endif
}

} // namespace
