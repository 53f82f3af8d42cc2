#include "support/program_files.h"
#include "support/run_kqmctl.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using kqm::test::CliRun;

CliRun kqmctl(const QStringList& arguments) {
    return kqm::test::runKqmctl(arguments);
}

class KqmctlList : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString file(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST_F(KqmctlList, PrintsTheListingWithoutChangingTheFile) {
    const QString path = file("demo.mdb");
    kqm::test::WriteProgramFile(
        path,
        {{"A10", "!", "ramp"}, {QStringLiteral("N500\r\n@0G")}, {"J5"}, {"Q", "Quit now", "end"}});
    const QByteArray before = kqm::test::FileBytes(path);
    const CliRun run = kqmctl({QStringLiteral("list"), path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("1\t0\tA10\tAccel/Decel=10\tramp\n"
                                      "2\t3\tN500\\r\\n@0G\tGo relative 500\t \n"
                                      "3\t10\tJ5\tJog Speed=5\t \n"
                                      "4\t10\tQ\tQuit now\tend\n"
                                      "Memory: 12 of 2047 bytes used.\n"));
    EXPECT_EQ(run.err, QStringLiteral("Error: Unknown command (J5).\n"));
    EXPECT_EQ(kqm::test::FileBytes(path), before);
}

TEST_F(KqmctlList, ExitStatusTellsSizeAndUsage) {
    const QString big = file("big.mdb");
    kqm::test::WriteProgramFile(big, QVector<kqm::test::Line>(293, {"P1"}));
    CliRun run = kqmctl({QStringLiteral("list"), big});
    EXPECT_EQ(run.status, 3);
    EXPECT_TRUE(run.out.endsWith(QStringLiteral("Memory: 2051 of 2047 bytes used.\n")));
    EXPECT_EQ(run.err, QStringLiteral("Warning: Program size exceeds avaialable memory.\n"));

    const QString empty = file("empty.mdb");
    kqm::test::WriteProgramFile(empty, {});
    run = kqmctl({QStringLiteral("list"), empty});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("\n"));

    EXPECT_EQ(kqmctl({QStringLiteral("list")}).status, 2);
    EXPECT_EQ(kqmctl({QStringLiteral("list"), empty, empty}).status, 2);
    EXPECT_EQ(kqmctl({QStringLiteral("frobnicate")}).status, 2);
    EXPECT_EQ(kqmctl({}).status, 2);
    run = kqmctl({QStringLiteral("list"), file("missing.mdb")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("is not a program file")));
    EXPECT_FALSE(QFile::exists(file("missing.mdb")));
}

// What a path that cannot be opened is, said plainly: missing, a folder, a
// pipe, or a program file that another program holds locked.
TEST_F(KqmctlList, SaysWhyAPathIsNoProgramFile) {
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString locked = dir.filePath(QStringLiteral("locked.mdb"));
    kqm::test::WriteProgramFile(locked, {{"Q"}});
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
        other.setDatabaseName(locked);
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const struct {
            QString path;
            QString said;
        } cases[] = {
            {dir.filePath(QStringLiteral("missing.mdb")), "the file does not exist"},
            {dir.path(), "it is a folder, not a file"},
            {fifo, "it is a device or a pipe, not a file"},
            {locked, "is in use by another program"},
        };
        for (const auto& c : cases) {
            const CliRun run = kqmctl({QStringLiteral("list"), c.path});
            EXPECT_EQ(run.status, 2) << c.path.toStdString();
            EXPECT_TRUE(run.err.contains(c.said)) << run.err.toStdString();
        }
        hold.exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

// A comment can hold anything; what reaches the terminal cannot move its
// cursor, ring it, or add a line to the tab-separated output.
TEST_F(KqmctlList, ControlCharactersAreWrittenOut) {
    const QString path = file("odd.mdb");
    kqm::test::WriteProgramFile(
        path, {{"A10", "!", QStringLiteral("red\x1b[31m\tbell\x07\r\nfake\\line")}, {"Q"}});
    const CliRun run = kqmctl({QStringLiteral("list"), path});
    EXPECT_EQ(run.status, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3); // two program lines and the memory line
    EXPECT_EQ(lines.at(0).section(QLatin1Char('\t'), 4),
              QStringLiteral("red\\x1b[31m\\tbell\\x07\\r\\nfake\\\\line"));
    EXPECT_FALSE(run.out.contains(QChar(0x1b)));
}

} // namespace
