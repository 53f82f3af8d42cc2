#include "support/program_files.h"
#include "support/run_kqmctl.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString err;
};

Outcome edit(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(KQMCTL_PATH), QStringList{"edit"} + arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

TEST(KqmctlEdit, BuildsAProgramAsTheWindowWould) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("line.mdb"));
    kqm::test::WriteProgramFile(file, {});
    EXPECT_EQ(edit({file, "add", "accel", "100", "--comment", "ramp"}).status, 0);
    EXPECT_EQ(edit({file, "add", "move", "1000", "--axis", "3"}).status, 0);
    EXPECT_EQ(edit({file, "add", "U", "--comment", "x"}).status, 2);
    EXPECT_EQ(edit({file, "add", "if-inputs", "1", "", "1", "0"}).status, 0);
    EXPECT_EQ(edit({file, "add", "quit"}).status, 0);
    EXPECT_EQ(edit({file, "insert", "2", "loop", "0", "5"}).status, 0);
    EXPECT_EQ(edit({file, "change", "1", "wait", "10"}).status, 0);
    EXPECT_EQ(edit({file, "delete", "4"}).status, 0);
    EXPECT_EQ(edit({file, "change", "2", "loop", "0", "6", "--comment", "again"}).status, 0);

    const auto rows = kqm::test::ReadProgramFile(file);
    QStringList commands;
    for (const auto& row : rows)
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"W10", "&0_6", "N1000\r@3G", "Q"}));
    EXPECT_EQ(rows[0].comment, QStringLiteral("ramp")); // change without --comment keeps it
    EXPECT_EQ(rows[1].comment, QStringLiteral("again"));
    EXPECT_EQ(rows[3].address, 17);
    EXPECT_EQ(rows[3].listing, QStringLiteral("Quit"));

    // Values are checked as the editor checks them; nothing is written then.
    const QByteArray before = kqm::test::FileBytes(file);
    Outcome refused = edit({file, "add", "accel", "256"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, QStringLiteral("Acceleration value out of range.\n"));
    refused = edit({file, "insert", "1", "loop", "12", "0"});
    EXPECT_EQ(refused.err, QStringLiteral("Number of times to loop out of range.\n"));
    EXPECT_EQ(edit({file, "delete", "9"}).status, 2);
    EXPECT_EQ(edit({file, "change", "0", "quit"}).status, 2);
    EXPECT_EQ(edit({file, "add", "wait"}).status, 2);
    EXPECT_EQ(edit({file, "frob", "1"}).status, 2);
    EXPECT_EQ(kqm::test::FileBytes(file), before);
    EXPECT_EQ(edit({dir.filePath("none.mdb"), "add", "quit"}).status, 2);
}

// A mistyped name never makes a file, and an empty program gets the
// operations' own words.
TEST(KqmctlEdit, OpensOnlyExistingFilesAndSaysWhatAnEmptyProgramAllows) {
    QTemporaryDir dir;
    const QString typo = dir.filePath(QStringLiteral("tpyo.mdb"));
    const QStringList operations[] = {
        {"add", "quit"}, {"insert", "1", "quit"}, {"change", "1", "quit"}, {"delete", "1"}};
    for (const QStringList& operation : operations) {
        const Outcome missing = edit(QStringList{typo} + operation);
        EXPECT_EQ(missing.status, 2) << missing.err.toStdString();
        EXPECT_TRUE(missing.err.contains(QStringLiteral("does not exist")));
        EXPECT_FALSE(QFile::exists(typo));
    }
    const QString empty = dir.filePath(QStringLiteral("empty.mdb"));
    kqm::test::WriteProgramFile(empty, {});
    const QByteArray before = kqm::test::FileBytes(empty);
    const struct {
        QStringList arguments;
        QString message;
    } cases[] = {
        {{"insert", "1", "quit"}, "Use Add command to insert a command into an empty program\n"},
        {{"change", "1", "quit"}, "Cannot change empty program\n"},
        {{"delete", "1"}, "Cannot delete empty program\n"},
    };
    for (const auto& c : cases) {
        const Outcome refused = edit(QStringList{empty} + c.arguments);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, c.message);
    }
    EXPECT_EQ(kqm::test::FileBytes(empty), before);
}


using kqm::test::CliRun;

CliRun kqmctl(const QStringList& arguments) {
    return kqm::test::runKqmctl(arguments);
}

// kqmctl edit records its changes in the file's history; undo, redo and
// history walk it as the window's Edit menu does.
TEST(KqmctlEdit, UndoRedoAndHistoryWalkTheFilesHistory) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("undo.mdb"));
    kqm::test::WriteProgramFile(file, {});
    EXPECT_EQ(kqmctl({"undo", file}).status, 1); // nothing yet
    EXPECT_EQ(edit({file, "add", "accel", "100"}).status, 0);
    EXPECT_EQ(edit({file, "add", "quit"}).status, 0);
    EXPECT_EQ(edit({file, "insert", "2", "wait", "5"}).status, 0);
    const QByteArray edited = kqm::test::FileBytes(file);

    CliRun run = kqmctl({"undo", file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, QStringLiteral("Undone: Insert line 2\nMemory: 5 of 2047 bytes used.\n"));
    EXPECT_EQ(kqmctl({"history", file}).out,
              QStringLiteral("1\tAdd line 1\n2\tAdd line 2\n3\tInsert line 2\t(undone)\n"));
    EXPECT_EQ(kqmctl({"redo", file}).status, 0);
    run = kqmctl({"redo", file});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("nothing to redo"))) << run.err.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kqmctl({"undo", file}).status, 0);
    EXPECT_TRUE(kqm::test::ReadProgramFile(file).isEmpty());
    EXPECT_EQ(kqmctl({"undo", file}).status, 1);
    EXPECT_EQ(kqmctl({"history", dir.filePath("none.mdb")}).status, 2);
    EXPECT_EQ(kqmctl({"undo"}).status, 2);
    // History only reads.
    const QByteArray before = kqm::test::FileBytes(file);
    EXPECT_EQ(kqmctl({"history", file}).status, 0);
    EXPECT_EQ(kqm::test::FileBytes(file), before);
    EXPECT_NE(before, edited);
}

} // namespace
