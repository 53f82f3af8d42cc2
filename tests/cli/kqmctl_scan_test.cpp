#include "support/pty_unit.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
    qint64 milliseconds = 0;
};

Result kqmctl(const QStringList& arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(KQMCTL_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(90000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), timer.elapsed()};
}

// Three units on one pseudo-terminal, found through the real serial port.
TEST(KqmctlScan, ListsEveryUnitOnTheLineInAddressOrder) {
    kqm::test::PtyUnit line(QStringLiteral(KQMCTL_PATH),
                            {"--axes", "7,0,3", "--models", "KQM20,KQM20,KQM21"});
    ASSERT_FALSE(line.device().isEmpty());
    const Result result = kqmctl({"scan", "--port", line.device()});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("0\tKQM20\t1.65\n3\tKQM21\t1.65\n7\tKQM20\t1.65\n"));
#ifndef KQM_SANITIZED
    // The promise to the user: a whole line within a minute, though every
    // silent address gets the quit that ends a program entry left open and
    // is asked again.
    EXPECT_LT(result.milliseconds, 60000);
#endif

    // Each unit keeps its own state: connecting to one leaves the others.
    const Result connect = kqmctl({"connect", "--port", line.device(), "--axis", "3"});
    EXPECT_EQ(connect.out, QStringLiteral("KQM21\n"));
}

TEST(KqmctlScan, FailsWhenNoUnitAnswersOrTheCallIsWrong) {
    // Units that answer only noise are no units.
    kqm::test::PtyUnit noise(QStringLiteral(KQMCTL_PATH), {"--garbage-after", "0"});
    ASSERT_FALSE(noise.device().isEmpty());
    Result result = kqmctl({"scan", "--port", noise.device()});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.contains(QStringLiteral("no unit answered")))
        << result.err.toStdString();

    EXPECT_EQ(kqmctl({"scan"}).status, 2);
    EXPECT_EQ(kqmctl({"scan", "--port", noise.device(), "extra"}).status, 2);
    EXPECT_EQ(kqmctl({"simulate", "--axes", "1,1"}).status, 2);
    EXPECT_EQ(kqmctl({"simulate", "--axes", "1,2", "--models", "KQM20,KQM21,KQM20"}).status, 2);
    EXPECT_EQ(kqmctl({"scan", "--port", "/dev/no-such-tty"}).status, 1);
}

} // namespace
