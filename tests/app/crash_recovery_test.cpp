#include "edit_script.h"
#include "files/startup.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace crash = kqm::test::crash;

namespace {

struct Checked {
    QStringList boxes;
    QVector<crash::Line> lines;
    bool numbered = true; // line numbers 1, 2, 3 ... and addresses 5 apart
};

Checked check(const QString& directory) {
    QProcess driver;
    driver.start(QStringLiteral(CRASH_DRIVER_PATH), {"check", directory});
    EXPECT_TRUE(driver.waitForFinished(30000));
    Checked result;
    qint64 line = 0;
    for (const QByteArray& raw : driver.readAllStandardOutput().split('\n')) {
        const QString text = QString::fromUtf8(raw);
        if (text.startsWith(QStringLiteral("box: ")))
            result.boxes << text.mid(5);
        if (!text.startsWith(QStringLiteral("row: ")))
            continue;
        const QStringList fields = text.mid(5).split(QLatin1Char('|'));
        if (fields.size() != 5)
            continue;
        ++line;
        if (fields[0].toLongLong() != line || fields[1].toLongLong() != (line - 1) * 5 ||
            fields[3] != QStringLiteral("Wait ") + fields[2].mid(1))
            result.numbered = false;
        result.lines.push_back({fields[2], fields[4]});
    }
    return result;
}

// Kills the editing window at random moments, also in the middle of an
// insert into a 1000-line program, and checks that every completed edit is
// there after the restart and that no edit is half applied.
TEST(CrashRecovery, EveryCompletedEditSurvivesAKill) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QRandomGenerator random(20261207);
    QVector<crash::Line> program = crash::InitialProgram(); // what each round starts from
    int edits = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        QProcess driver;
        driver.start(QStringLiteral(CRASH_DRIVER_PATH), {"edit", dir.path()});
        ASSERT_TRUE(driver.waitForStarted());
        QByteArray out;
        while (!out.contains("ready\n") && driver.waitForReadyRead(20000))
            out += driver.readAllStandardOutput();
        ASSERT_TRUE(out.contains("ready\n")) << out.toStdString();
        QThread::msleep(random.bounded(30, 600));
        driver.kill(); // SIGKILL: no clean exit, nothing finished by the window
        driver.waitForFinished(10000);
        out += driver.readAllStandardOutput();
        int done = -1;
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("done "))
                done = line.mid(5).toInt();
        }

        const Checked after = check(dir.path());
        EXPECT_TRUE(after.boxes.contains(kqm::files::RecoveryMessage));
        EXPECT_TRUE(after.numbered);
        // The program after every completed edit, or after one more (stored,
        // but killed before it could say so); never anything in between.
        QVector<crash::Line> completed = program;
        for (int step = 0; step <= done; ++step)
            crash::Apply(step, completed);
        QVector<crash::Line> oneMore = completed;
        crash::Apply(done + 1, oneMore);
        const bool whole = after.lines == completed || after.lines == oneMore;
        EXPECT_TRUE(whole) << "after " << done + 1 << " edits the program has "
                           << after.lines.size() << " lines";
        if (!whole)
            return;
        program = after.lines;
        edits += done + 1;
    }
    EXPECT_GT(edits, 6); // the kills fell among edits, not all before the first
}

} // namespace
