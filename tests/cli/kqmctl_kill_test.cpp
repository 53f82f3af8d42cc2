#include "support/legacy_fixtures.h"
#include "support/program_files.h"
#include "support/pty_unit.h"
#include "support/run_kqmctl.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>

#include <gtest/gtest.h>

using kqm::test::runKqmctl;

namespace {

QSet<QString> entries(const QString& folder, bool hidden) {
    const QStringList names = QDir(folder).entryList(
        hidden ? QDir::Files | QDir::Hidden | QDir::System : QDir::Files);
    return QSet<QString>(names.begin(), names.end());
}

QString shown(const QSet<QString>& names) {
    QStringList sorted(names.begin(), names.end());
    sorted.sort();
    return sorted.join(QStringLiteral(", "));
}

// One kind of write: what runs it, and the file or folder it writes.
struct Write {
    const char* name;
    QStringList arguments;
    QString folder;
    QString target;  // empty for a backup: every record in the folder must be whole
    int lines = 0;   // the target's lines when whole
};

// kqmctl list of a program file: its lines, or -1 when it is no whole file.
int listedLines(const QString& file) {
    const auto run = runKqmctl({QStringLiteral("list"), file});
    if (run.status != 0 && run.status != 1 && run.status != 3)
        return -1;
    return static_cast<int>(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size());
}

// Every backup record names a program file that is there and whole.
void expectBackupsWhole(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.backup")}, QDir::Files)) {
        QFile record(QDir(folder).filePath(name));
        ASSERT_TRUE(record.open(QIODevice::ReadOnly));
        const QByteArray json = record.readAll();
        const qsizetype at = json.indexOf("\"program\"");
        if (at < 0)
            continue;
        const qsizetype start = json.indexOf('"', json.indexOf(':', at)) + 1;
        const QString program = QString::fromUtf8(json.mid(start, json.indexOf('"', start) - start));
        EXPECT_GT(listedLines(QDir(folder).filePath(program)), 0) << program.toStdString();
    }
}

// Each write is killed (SIGKILL) at a random moment of its run, from its start
// to its end. After every kill the folder holds the target whole or not at
// all, and no file a user sees that was not there before; after the next
// write to that target, nothing else at all, hidden files included.
TEST(KqmctlKill, AWriteKilledAtAnyMomentLeavesTheTargetWholeOrNothing) {
    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(seed);
    std::printf("seed %u\n", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString sources = dir.filePath(QStringLiteral("sources"));
    const QString out = dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(sources) && QDir().mkpath(out));

    QFile text(QDir(sources).filePath(QStringLiteral("long.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("KQM program text 1\n");
    for (int i = 0; i < 1500; ++i)
        text.write(QByteArray("W") + QByteArray::number(i % 200 + 1) + " ; step\n");
    text.write("Q\n");
    text.close();

    kqm::test::PtyUnit unit(QStringLiteral(KQMCTL_PATH), {"--axis", "0"});
    ASSERT_FALSE(unit.device().isEmpty());
    QVector<kqm::test::Line> stored;
    for (int i = 0; i < 12; ++i)
        stored << kqm::test::Line{QStringLiteral("W%1").arg(i + 1)};
    stored << kqm::test::Line{QStringLiteral("Q")};
    const QString program = QDir(sources).filePath(QStringLiteral("unit.mdb"));
    kqm::test::WriteProgramFile(program, stored);
    ASSERT_EQ(runKqmctl({"send", program, "--port", unit.device(), "--quiet"}, 120000).status, 0);

    const QString target = QDir(out).filePath(QStringLiteral("made.mdb"));
    const QString backups = dir.filePath(QStringLiteral("backups"));
    const QString axisBackups = QDir(backups).filePath(QStringLiteral("axis-0"));
    const Write writes[] = {
        {"import", {"import", text.fileName(), "-o", target}, out, target, 1501},
        {"convert",
         {"convert", kqm::test::legacyFixture(QStringLiteral("jet4-1000-lines.mdb")), target},
         out,
         target,
         1000},
        {"upload", {"upload", "--port", unit.device(), "--output", target}, out, target, 13},
        {"backup",
         {"send", program, "--port", unit.device(), "--backup-dir", backups, "--quiet"},
         axisBackups,
         QString()},
    };
    for (const Write& write : writes) {
        SCOPED_TRACE(write.name);
        // How long the write takes whole, so that kills land anywhere in it.
        QElapsedTimer whole;
        whole.start();
        ASSERT_EQ(runKqmctl(write.arguments, 120000).status, 0) << write.name;
        const qint64 duration = std::max<qint64>(whole.elapsed(), 50);
        // What kqmctl list prints of the target made whole.
        const int wholeLines = write.target.isEmpty() ? 0 : listedLines(write.target);
        if (!write.target.isEmpty()) {
            ASSERT_GE(wholeLines, write.lines);
            QFile::remove(write.target);
        }
        QDir().mkpath(write.folder);
        // The unit's writes take seconds each: fewer kills of them.
        const bool overTheLine = QString::fromLatin1(write.name) == QLatin1String("upload") ||
                                 QString::fromLatin1(write.name) == QLatin1String("backup");
        for (int kill = 0; kill < (overTheLine ? 2 : 5); ++kill) {
            const QSet<QString> before = entries(write.folder, true);
            const int delay = static_cast<int>(random.bounded(duration));
            SCOPED_TRACE(delay);
            QProcess process;
            process.start(QStringLiteral(KQMCTL_PATH), write.arguments);
            ASSERT_TRUE(process.waitForStarted());
            QThread::msleep(static_cast<unsigned long>(delay));
            ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
            process.waitForFinished(10000);

            QSet<QString> seen = entries(write.folder, false) - before;
            if (!write.target.isEmpty()) {
                seen.remove(QFileInfo(write.target).fileName());
                if (QFileInfo::exists(write.target)) {
                    EXPECT_EQ(listedLines(write.target), wholeLines);
                }
                EXPECT_TRUE(seen.isEmpty()) << "left: " << shown(seen).toStdString();
            } else {
                // A backup listed is a backup whole; its record came last.
                expectBackupsWhole(write.folder);
                for (const QString& name : std::as_const(seen))
                    EXPECT_TRUE(name.endsWith(QLatin1String(".backup")) ||
                                name.endsWith(QLatin1String(".mdb")))
                        << name.toStdString();
            }
            // The next write to the target sweeps what the killed one left.
            if (!write.target.isEmpty())
                QFile::remove(write.target);
            ASSERT_EQ(runKqmctl(write.arguments, 120000).status, 0) << write.name;
            QSet<QString> after = entries(write.folder, true) - before;
            if (!write.target.isEmpty()) {
                EXPECT_EQ(after, QSet<QString>{QFileInfo(write.target).fileName()});
                EXPECT_EQ(listedLines(write.target), wholeLines);
                QFile::remove(write.target);
            } else {
                for (const QString& name : std::as_const(after))
                    EXPECT_TRUE(name.endsWith(QLatin1String(".backup")) ||
                                name.endsWith(QLatin1String(".mdb")))
                        << name.toStdString();
                expectBackupsWhole(write.folder);
                // Every program file belongs to a record.
                const QStringList records =
                    QDir(write.folder).entryList({QStringLiteral("*.backup")}, QDir::Files);
                for (const QString& mdb :
                     QDir(write.folder).entryList({QStringLiteral("*.mdb")}, QDir::Files)) {
                    const QString stem = mdb.left(mdb.size() - 4);
                    EXPECT_TRUE(records.contains(stem + QStringLiteral(".backup"))) << mdb.toStdString();
                }
            }
        }
    }
}

} // namespace
