#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace kqm::test {

// One run of the real kqmctl: its exit status and what it printed.
struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

inline CliRun runKqmctl(const QStringList& arguments, int timeoutMs = 30000) {
    QProcess process;
    process.start(QStringLiteral(KQMCTL_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(timeoutMs));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace kqm::test
