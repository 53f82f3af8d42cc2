#include "program/editing.h"
#include "program/program_document.h"
#include "program/sqlite_file.h"
#include "support/fake_messages.h"
#include "support/program_files.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::program;
using kqm::test::Line;

namespace {

class EditingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("edit.mdb"));
    }

    void program(const QVector<Line>& lines) {
        kqm::test::WriteProgramFile(path, lines);
        ASSERT_TRUE(table.open(path));
        ASSERT_TRUE(RefreshListing(table, state, messages).ok);
    }

    QStringList commands() {
        QStringList result;
        for (const ProgramRow& row : kqm::test::ReadProgramFile(path))
            result << row.command;
        return result;
    }

    QTemporaryDir dir;
    QString path;
    ProgramTable table;
    ProgramState state;
    kqm::test::FakeMessages messages;
};

TEST_F(EditingTest, AddToAnEmptyProgram) {
    program({});
    const EditResult result = addLine(table, state, messages, "A100", "");
    ASSERT_TRUE(result.ok);
    const auto rows = kqm::test::ReadProgramFile(path);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].lineNo, 1);
    EXPECT_EQ(rows[0].address, 0);
    EXPECT_EQ(rows[0].listing, QStringLiteral("Accel/Decel=100"));
    EXPECT_EQ(rows[0].comment, QStringLiteral(" "));
    EXPECT_EQ(state.bytesUsedCaption(), QStringLiteral("Memory: 3 of 2047 bytes used."));
    EXPECT_EQ(result.currentRow, 0); // the new line
    EXPECT_EQ(result.rows, rows);
}

TEST_F(EditingTest, VerbatimLinesKeepTheirText) {
    program({});
    ASSERT_TRUE(addLine(table, state, messages, "!hello there", "c").ok);
    const auto rows = kqm::test::ReadProgramFile(path);
    EXPECT_EQ(rows[0].command, QStringLiteral("hello there"));
    EXPECT_EQ(rows[0].listing, QStringLiteral("hello there"));
    QVector<ProgramRow> memory;
    appendProgramLine(memory, "W5", "");
    EXPECT_EQ(memory[0].listing, QStringLiteral("!"));
    EXPECT_EQ(memory[0].comment, QStringLiteral(" "));
}

TEST_F(EditingTest, InsertMovesLinesDownAndRenumbersBranches) {
    program({{"A1", "!", "one"},
             {"U0,1,3", "!", "two"},
             {"I1,2,2", "!", "three"},
             {"&4,5", "!", "four"},
             {"&12_5", "!", "five"},
             {"X12", "!", "six"}});
    const EditResult result = insertLine(table, state, messages, 2, "W10", "new");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(commands(), (QStringList{"A1", "U0,1,4", "W10", "I1,2,2", "&4,6", "&12_5", "X12"}));
    const auto rows = kqm::test::ReadProgramFile(path);
    EXPECT_EQ(rows[2].comment, QStringLiteral("new"));
    EXPECT_EQ(rows[3].comment, QStringLiteral("three"));
    EXPECT_EQ(rows[6].comment, QStringLiteral("six"));
    EXPECT_EQ(rows[6].lineNo, 7);
    EXPECT_EQ(rows[1].listing, QStringLiteral("If Not 1-on 2-off GOTO LINE 4"));
    EXPECT_EQ(result.currentRow, 3); // the line that was selected, one lower
}

TEST_F(EditingTest, InsertStripsMarkersInItsPass) {
    program({{"A1"}, {"W5"}});
    {
        SqliteFile file;
        ASSERT_TRUE(file.open(path));
        ASSERT_TRUE(file.exec("UPDATE Main SET Command = '~U0,1,1' WHERE rowid = 2"));
    }
    ASSERT_TRUE(insertLine(table, state, messages, 0, "Q", "").ok);
    EXPECT_EQ(commands(), (QStringList{"Q", "A1", "U0,1,1"}));
}

TEST_F(EditingTest, DeleteShiftsBranchesDownAndKeepsAPosition) {
    program({{"A1"}, {"B100"}, {"M900"}, {"W4"}, {"U0,1,4"}, {"U0,1,6"}, {"U0,1,2"}});
    const EditResult result = deleteLine(table, state, messages, 3);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(commands(), (QStringList{"A1", "B100", "M900", "U0,1,3", "U0,1,5", "U0,1,2"}));
    EXPECT_EQ(result.currentRow, 3);

    // Deleting the last line makes the new last line current.
    EXPECT_EQ(deleteLine(table, state, messages, 5).currentRow, 4);
    // A branch to line 1 becomes 0 when line 1 goes.
    program({{"A1"}, {"U0,1,1"}});
    ASSERT_TRUE(deleteLine(table, state, messages, 0).ok);
    EXPECT_EQ(commands(), QStringList{"U0,1,0"});
}

TEST_F(EditingTest, DeletingTheOnlyLineEmptiesTheProgram) {
    program({{"A1"}});
    const EditResult result = deleteLine(table, state, messages, 0);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(commands().isEmpty());
    EXPECT_EQ(state.ProgramSize, 0);
    EXPECT_EQ(state.bytesUsedCaption(), QString());
    EXPECT_EQ(result.currentRow, std::nullopt);
}

TEST_F(EditingTest, ChangeRewritesOneLineOnly) {
    program({{"A1", "!", "keep"}, {"U0,1,2"}, {"&1,1"}});
    const EditResult result = changeLine(table, state, messages, 0, "B700", "");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(commands(), (QStringList{"B700", "U0,1,2", "&1,1"}));
    const auto rows = kqm::test::ReadProgramFile(path);
    EXPECT_EQ(rows[0].comment, QStringLiteral(" "));
    EXPECT_EQ(rows[1].address, 4); // the new size moved the later lines
    EXPECT_EQ(result.currentRow, 0); // the changed line stays the place
    EXPECT_FALSE(changeLine(table, state, messages, 7, "Q", "").ok);
}

TEST_F(EditingTest, PreconditionsName) {
    EXPECT_EQ(preconditionMessage(EditOperation::Insert, 0, std::nullopt),
              QStringLiteral("Use Add command to insert a command into an empty program"));
    EXPECT_EQ(preconditionMessage(EditOperation::Insert, 2, std::nullopt),
              QStringLiteral("Please select a location to insert a new line."));
    EXPECT_EQ(preconditionMessage(EditOperation::Change, 0, 0),
              QStringLiteral("Cannot change empty program"));
    EXPECT_EQ(preconditionMessage(EditOperation::Change, 2, 2),
              QStringLiteral("Please select a program line to change."));
    EXPECT_EQ(preconditionMessage(EditOperation::Delete, 0, std::nullopt),
              QStringLiteral("Cannot delete empty program"));
    EXPECT_EQ(preconditionMessage(EditOperation::Delete, 1, std::nullopt),
              QStringLiteral("Please select a program line to delete."));
    EXPECT_EQ(preconditionMessage(EditOperation::Delete, 1, 0), std::nullopt);
}

TEST_F(EditingTest, AFailedWriteLeavesTheProgramAsItWas) {
    program({{"A1"}, {"U0,1,2"}, {"Q"}});
    const QByteArray before = kqm::test::FileBytes(path);
    SqliteFile blocker;
    ASSERT_TRUE(blocker.open(path));
    ASSERT_TRUE(blocker.exec("BEGIN IMMEDIATE"));
    const EditResult result = insertLine(table, state, messages, 0, "W5", "");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
    blocker.exec("ROLLBACK");
    blocker.close();
    EXPECT_EQ(kqm::test::FileBytes(path), before);
}

} // namespace

namespace {

// A table whose largest rowid is the largest there is: Add and Insert number
// the records afresh instead of wrapping round to the smallest rowid.
TEST_F(EditingTest, TheLargestRowidNeverOverflows) {
    program({{"A10"}, {"W5"}});
    ASSERT_TRUE(table.file().exec(QStringLiteral("UPDATE Main SET rowid = 9223372036854775807 "
                                                 "WHERE rowid = (SELECT max(rowid) FROM Main)")));
    ASSERT_TRUE(
        table.file().exec(QStringLiteral("UPDATE Main SET rowid = 3 WHERE Command = 'A10'")));
    ASSERT_TRUE(addLine(table, state, messages, "Q", "").ok);
    EXPECT_EQ(commands(), (QStringList{"A10", "W5", "Q"}));
    ASSERT_TRUE(insertLine(table, state, messages, 0, "B100", "").ok);
    EXPECT_EQ(commands(), (QStringList{"B100", "A10", "W5", "Q"}));
    const auto rows = kqm::test::ReadProgramFile(path);
    EXPECT_EQ(rows.last().lineNo, 4);
}

// The five fields named in another order are read and written by name;
// unnamed fields are read by position.
TEST_F(EditingTest, NamedFieldsInAnotherOrderAreReadByName) {
    {
        ProgramTable made;
        ASSERT_TRUE(made.file().open(path));
        ASSERT_TRUE(made.file().exec(QStringLiteral(
            "CREATE TABLE Main (Comment TEXT, Command TEXT, Listing TEXT, Address INTEGER, "
            "LineNo INTEGER)")));
        ASSERT_TRUE(made.file().exec(QStringLiteral(
            "INSERT INTO Main VALUES ('ramp', 'A10', '!', 0, 0), (' ', 'Q', '!', 0, 0)")));
    }
    ASSERT_TRUE(table.open(path));
    ASSERT_TRUE(addLine(table, state, messages, "W5", "pause").ok);
    const auto rows = table.readRows();
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 3);
    EXPECT_EQ(rows->at(0).command, QStringLiteral("A10"));
    EXPECT_EQ(rows->at(0).comment, QStringLiteral("ramp"));
    EXPECT_EQ(rows->at(2).lineNo, 3);
    EXPECT_EQ(rows->at(2).address, 5);
    EXPECT_EQ(rows->at(2).listing, QStringLiteral("Wait 5"));
    EXPECT_EQ(rows->at(2).comment, QStringLiteral("pause"));
}

// One writer at a time: another program that holds the file's write lock is
// waited for, and the edit then works on the rows as they are; one that
// holds it past the busy time-out makes the edit fail with a message that
// names the file, and nothing changes. A record that is gone is no success.
TEST_F(EditingTest, OneWriterAtATime) {
    const struct {
        const char* hold; // seconds the other program holds the lock
        bool edited;
        QStringList commands;
    } cases[] = {
        {"1", true, {"A10", "W5", "B600"}},
        {"3", false, {"A10", "W5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hold);
        table.close();
        program({{"A10"}});
        QProcess other;
        other.start(QStringLiteral("sqlite3"), {path});
        ASSERT_TRUE(other.waitForStarted());
        other.write(QByteArray("BEGIN IMMEDIATE;\nINSERT INTO Main (Command) VALUES ('W5');\n"
                               "SELECT 'locked';\n.shell sleep ") +
                    c.hold + "\nCOMMIT;\n");
        other.closeWriteChannel();
        ASSERT_TRUE(other.waitForReadyRead(5000));
        const EditResult result = addLine(table, state, messages, "B600", "");
        ASSERT_TRUE(other.waitForFinished(10000));
        EXPECT_EQ(result.ok, c.edited) << result.error.toStdString();
        if (!c.edited) {
            EXPECT_TRUE(result.error.contains(QStringLiteral("another program is changing")))
                << result.error.toStdString();
            EXPECT_TRUE(result.error.contains(QDir::toNativeSeparators(path)));
        }
        // The other program's line is there; ours only when it waited its turn.
        EXPECT_EQ(commands(), c.commands);
    }
    ProgramRow gone;
    gone.rowid = 999;
    EXPECT_FALSE(table.updateRows({gone}));
    EXPECT_TRUE(table.lastError().contains(QStringLiteral("no longer in the file")));
    EXPECT_FALSE(table.deleteRows({999}));
}

// Replacing the program (import, upload, a backup opened) replaces every row
// in the file, also one that another program added after the window read it.
TEST_F(EditingTest, ReplacingTheProgramReplacesEveryRowInTheFile) {
    program({{"A10"}, {"Q"}});
    table.close();
    ProgramDocument document(messages);
    QString error;
    ASSERT_TRUE(document.bind(path, true, &error)) << error.toStdString();
    ProgramTable other;
    ASSERT_TRUE(other.open(path));
    ProgramState otherState;
    ASSERT_TRUE(addLine(other, otherState, messages, "B600", "").ok);
    QVector<ProgramRow> replacement(2);
    replacement[0].command = QStringLiteral("W5");
    replacement[1].command = QStringLiteral("Q");
    ASSERT_TRUE(document.replaceRows(replacement, &error, QStringLiteral("Import")))
        << error.toStdString();
    EXPECT_EQ(commands(), (QStringList{"W5", "Q"}));
}

} // namespace
