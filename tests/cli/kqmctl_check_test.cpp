#include "support/program_files.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

CliRun check(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(KQMCTL_PATH), QStringList{"check"} + arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

struct Case {
    const char* name;
    QVector<kqm::test::Line> lines;
    int status;
    QString out;
};

TEST(KqmctlCheck, ExitStatusFollowsTheWorstProblem) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Case cases[] = {
        {"clean", {{"A10"}, {"Q"}}, 0, {}},
        {"empty", {}, 0, {}},
        {"warnings only",
         {{"A10"}, {"?3"}, {"Q"}},
         1,
         "2: warning: Input test right before the final Quit: when the inputs do not match, the "
         "Quit is skipped and the unit runs past the end of the program.\n"},
        // The stale stored address does not matter: the check works it out.
        {"errors and a warning",
         {{"X9"}, {"Q"}, {"W5"}},
         3,
         "1: error: Goto Address 9 lies beyond the last line (line 3 starts at 6).\n"
         "3: error: The program does not end with Quit, so it cannot be sent: add a Quit line at "
         "the end.\n"
         "3: warning: Line 3 can never run: line 2 is a Quit and nothing branches to it.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".mdb"));
        kqm::test::WriteProgramFile(path, c.lines);
        const QByteArray before = kqm::test::FileBytes(path);
        const CliRun run = check({path});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, QString());
        EXPECT_EQ(kqm::test::FileBytes(path), before);
    }
}

TEST(KqmctlCheck, UsageAndFilesThatAreNoProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString text = dir.filePath(QStringLiteral("notes.mdb"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a database\n");
    file.close();
    const QString missing = dir.filePath(QStringLiteral("missing.mdb"));
    for (const QStringList& arguments :
         {QStringList{}, QStringList{text, text}, QStringList{text}, QStringList{missing}}) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const CliRun run = check(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_EQ(kqm::test::FileBytes(text), QByteArray("not a database\n"));
}

} // namespace
