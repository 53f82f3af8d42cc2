#include "program/edit_history.h"
#include "program/editing.h"
#include "program/program_document.h"
#include "support/fake_messages.h"
#include "support/program_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::program;
using kqm::test::Line;

namespace {

QStringList commandsOf(const QVector<ProgramRow>& rows) {
    QStringList commands;
    for (const ProgramRow& row : rows)
        commands << row.command;
    return commands;
}

// The window's document and another program (kqmctl, a second connection)
// on one file.
class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("shared.mdb"));
    }

    void bind(const QVector<Line>& lines) {
        kqm::test::WriteProgramFile(path, lines);
        QString error;
        ASSERT_TRUE(document.bind(path, true, &error)) << error.toStdString();
        ASSERT_TRUE(other.open(path));
    }

    QStringList fileCommands() { return commandsOf(kqm::test::ReadProgramFile(path)); }

    QTemporaryDir dir;
    QString path;
    kqm::test::FakeMessages messages;
    ProgramDocument document{messages};
    ProgramTable other;
    ProgramState otherState;
};

// An edit chosen on the grid is refused when another program changed the
// lines since they were shown: nothing changes, and the grid shows the file.
TEST_F(DocumentTest, AnEditChosenOnLinesThatChangedIsRefused) {
    const QVector<Line> program = {{"A10"}, {"B20"}, {"M30"}, {"W5"}, {"Q"}};
    const struct {
        const char* edit;
        std::function<EditPlan(const QVector<ProgramRow>&)> plan;
    } edits[] = {
        {"delete",
         [](const auto& rows) {
             return planDelete(rows, {4});
         }},
        {"change",
         [](const auto& rows) {
             return planChange(rows, 4, "W9", "");
         }},
        {"insert",
         [](const auto& rows) {
             return planInsert(rows, 4, "W9", "");
         }},
        {"move",
         [](const auto& rows) {
             return planMove(rows, 3, 1, -1);
         }},
        {"add",
         [](const auto& rows) {
             return planAdd(rows, "W9", "");
         }},
    };
    for (const auto& c : edits) {
        SCOPED_TRACE(c.edit);
        document.close();
        other.close();
        bind(program);
        const quint64 chosenOn = document.shownRevision();
        ASSERT_TRUE(insertLine(other, otherState, messages, 0, "Z0", "").ok);
        const QStringList afterOther = fileCommands();
        QSignalSpy refused(&document, &ProgramDocument::failed);
        // Chosen before the window looked again...
        EXPECT_FALSE(document.apply(c.plan));
        EXPECT_EQ(fileCommands(), afterOther);
        EXPECT_EQ(commandsOf(document.rows()), afterOther);
        ASSERT_EQ(refused.size(), 1);
        EXPECT_TRUE(
            refused.first().first().toString().contains(QStringLiteral("choose the lines again")));
        // ...and on rows the window has since replaced.
        EXPECT_FALSE(document.apply(c.plan, chosenOn));
        EXPECT_EQ(fileCommands(), afterOther);
    }
}

// The document looks at the file when asked (window activated, before an
// exchange, the watcher's hint): a change made elsewhere is shown and told;
// one that only refreshed line numbers and addresses is not.
TEST_F(DocumentTest, ChangesMadeElsewhereAreShown) {
    bind({{"A10"}, {"Q"}});
    QSignalSpy told(&document, &ProgramDocument::changedElsewhere);
    EXPECT_FALSE(document.catchUp());
    ASSERT_TRUE(RefreshListing(other, otherState, messages).ok);
    EXPECT_FALSE(document.catchUp());
    ASSERT_TRUE(addLine(other, otherState, messages, "W5", "").ok);
    EXPECT_TRUE(document.catchUp());
    EXPECT_EQ(commandsOf(document.rows()), (QStringList{"A10", "Q", "W5"}));
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.first().first().toString().contains(QStringLiteral("another program")));
    // The file watcher's hint arrives by itself.
    ASSERT_TRUE(deleteLine(other, otherState, messages, 2).ok);
    EXPECT_TRUE(told.wait(3000));
    EXPECT_EQ(commandsOf(document.rows()), (QStringList{"A10", "Q"}));
    // Now the grid is the file again, and the edit goes through.
    EXPECT_TRUE(document.apply([](const auto& rows) { return planDelete(rows, {1}); }));
    EXPECT_EQ(fileCommands(), QStringList{"A10"});
}

// A box an edit shows (an unknown command) waits until the file's write lock
// is given up: another program may write while the box is open, and what it
// writes stays, in the file and in the window.
TEST_F(DocumentTest, BoxesWaitUntilTheFileIsFree) {
    struct WritingMessages final : kqm::platform::Messages {
        std::function<void()> whileOpen;
        kqm::platform::MessageAnswer show(kqm::platform::MessageIcon, const QString&,
                                          kqm::platform::MessageButtons) override {
            whileOpen();
            return kqm::platform::MessageAnswer::Ok;
        }
    } boxes;
    bool written = false;
    ProgramDocument* shown = nullptr;
    boxes.whileOpen = [&] {
        if (written)
            return; // the boxes of the window's catching up
        written = addLine(other, otherState, messages, "W5", "").ok;
        // The box's own event loop lets the file watcher's hint in.
        shown->catchUp();
    };
    ProgramDocument window(boxes);
    shown = &window;
    kqm::test::WriteProgramFile(path, {{"A10"}});
    QString error;
    ASSERT_TRUE(window.bind(path, true, &error));
    ASSERT_TRUE(other.open(path));
    EXPECT_TRUE(window.apply([](const auto& rows) { return planAdd(rows, "%%", ""); }));
    EXPECT_TRUE(written);
    EXPECT_EQ(fileCommands(), (QStringList{"A10", "%%", "W5"}));
    // And the window shows it, not the lines it read before the box.
    EXPECT_EQ(commandsOf(window.rows()), (QStringList{"A10", "%%", "W5"}));
}

// A document held by an exchange refuses every change itself; an upload
// stores only into the file it was made for.
TEST_F(DocumentTest, AHeldDocumentRefusesChanges) {
    bind({{"A10"}});
    bool held = true;
    document.setChangeGuard([&held] { return held; });
    const auto add = [](const auto& rows) {
        return planAdd(rows, "W5", "");
    };
    EXPECT_FALSE(document.apply(add));
    EXPECT_FALSE(document.undo());
    held = false;
    EXPECT_TRUE(document.apply(add));
    const quint64 binding = document.binding();
    QString error;
    QString other = dir.filePath(QStringLiteral("other.mdb"));
    kqm::test::WriteProgramFile(other, {{"B1"}});
    ASSERT_TRUE(document.bind(other, true, &error));
    EXPECT_FALSE(document.replaceRows({ProgramRow{0, 0, 0, "Q", "!", " ", {}}}, &error,
                                      QStringLiteral("Upload program"), binding));
    EXPECT_EQ(commandsOf(kqm::test::ReadProgramFile(other)), QStringList{"B1"});
}

// The undo history can be trusted: steps restore refreshed rows, a refresh
// is no change made elsewhere, every column of a record comes back, and an
// upload's undo gives back the program it replaced with the earlier steps.
TEST_F(DocumentTest, UndoGivesBackWhatWasThere) {
    // A file never refreshed by this tool, with a sixth column.
    kqm::test::WriteProgramFile(path, {{"A10"}, {"B20"}, {"Q"}});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "extra");
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec("ALTER TABLE Main ADD COLUMN Operator TEXT"));
        ASSERT_TRUE(query.exec("UPDATE Main SET Operator = 'kept ' || rowid"));
    }
    QSqlDatabase::removeDatabase("extra");
    ASSERT_TRUE(other.open(path));
    ASSERT_TRUE(deleteLine(other, otherState, messages, 1).ok);
    ASSERT_TRUE(RefreshListing(other, otherState, messages).ok);
    QString error;
    ASSERT_TRUE(document.bind(path, true, &error));
    QSignalSpy failed(&document, &ProgramDocument::failed);
    ASSERT_TRUE(document.undo()) << failed.value(0).value(0).toString().toStdString();
    const auto restored = kqm::test::ReadProgramFile(path);
    ASSERT_EQ(restored.size(), 3);
    QVector<ProgramRow> refreshed = restored;
    computeListing(refreshed, messages);
    EXPECT_EQ(restored, refreshed);
    EXPECT_EQ(restored[1].listing, QStringLiteral("Base Speed=20"));
    const auto whole = other.readRows();
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->at(1).extra, QVariantList{QStringLiteral("kept 2")});
    ASSERT_TRUE(document.redo());
    ASSERT_TRUE(document.undo());

    // An upload (an import alike) is one step on top of the others.
    ASSERT_TRUE(document.apply([](const auto& rows) { return planAdd(rows, "W5", ""); }));
    QVector<ProgramRow> uploaded(1);
    uploaded[0].command = QStringLiteral("M99");
    ASSERT_TRUE(document.replaceRows(uploaded, &error));
    EXPECT_EQ(fileCommands(), QStringList{"M99"});
    ASSERT_TRUE(document.undo());
    EXPECT_EQ(fileCommands(), (QStringList{"A10", "B20", "Q", "W5"}));
    EXPECT_EQ(document.undoLabel(), QStringLiteral("Add line 4"));
}

// A change cut off half-way leaves a journal; the commands that only read
// see the program as it was before that change.
TEST_F(DocumentTest, AFileWhoseLastChangeWasCutOffReadsAsBefore) {
    kqm::test::WriteProgramFile(path, {{"A10"}, {"Q"}});
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {path});
    ASSERT_TRUE(writer.waitForStarted());
    // A small cache spills the change into the file before it is committed.
    writer.write("PRAGMA cache_size = 1;\nBEGIN;\nUPDATE Main SET Command = 'X';\n"
                 "INSERT INTO Main (Command) SELECT randomblob(100000);\n"
                 ".shell kill -9 $PPID\n");
    writer.closeWriteChannel();
    writer.waitForFinished(10000);
    ASSERT_TRUE(QFile::exists(path + QStringLiteral("-journal")));
    ProgramTable reader;
    ASSERT_TRUE(reader.open(path, SqliteFile::Mode::ReadOnly)) << reader.lastError().toStdString();
    const auto rows = reader.readRows();
    ASSERT_TRUE(rows);
    EXPECT_EQ(commandsOf(*rows), (QStringList{"A10", "Q"}));
}

// Two kqmctl processes and the window's document edit one file at once.
// After every round: each edit reported done is in the file, the stored line
// numbers and addresses are what a refresh computes, the history fits the
// table (its last step can be undone), and the window shows the file.
TEST_F(DocumentTest, TwoWritersAndTheWindowLoseNothing) {
    // Every line's comment is its own, so a line is known by it.
    bind({{"A10", "!", "c1"}, {"B20", "!", "c2"}, {"Q", "!", "c3"}});
    QRandomGenerator random(2311);
    const QString kqmctl = QStringLiteral(KQMCTL_PATH);
    int token = 0;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        // Half the rounds edit, half take steps back and forth.
        const bool editing = round % 2 == 0;
        QProcess writers[2];
        QStringList tokens;
        // The window's user chose a line before the others started.
        const quint64 chosenOn = document.shownRevision();
        const int chosen = random.bounded(static_cast<int>(document.rows().size()));
        const QString chosenLine = document.rows().at(chosen).comment;
        for (QProcess& writer : writers) {
            QStringList arguments;
            if (editing) {
                const QString mark = QStringLiteral("t%1").arg(++token);
                tokens << mark;
                arguments =
                    random.bounded(2)
                        ? QStringList{"edit", path, "add", "wait", "5", "--comment", mark}
                        : QStringList{"edit", path, "insert", "1", "wait", "5", "--comment", mark};
            } else {
                arguments = {random.bounded(2) ? "undo" : "redo", path};
            }
            writer.start(kqmctl, arguments);
        }
        // The window changes its chosen line while they run or after they
        // ended: that line, or none.
        const QString mine = QStringLiteral("w%1").arg(round);
        const auto changeChosen = [&] {
            return document.apply(
                [&](const auto& rows) { return planChange(rows, chosen, "W6", mine); }, chosenOn);
        };
        const bool late = random.bounded(2) == 1;
        bool changed = !late && changeChosen();
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(writers[i].waitForFinished(20000));
            if (editing && writers[i].exitCode() != 0)
                ADD_FAILURE() << writers[i].readAllStandardError().toStdString();
        }
        if (late)
            changed = changeChosen();
        if (changed && editing) {
            QStringList comments;
            for (const ProgramRow& row : kqm::test::ReadProgramFile(path))
                comments << row.comment;
            EXPECT_TRUE(comments.contains(mine));
            EXPECT_FALSE(comments.contains(chosenLine)) << "another line than the chosen changed";
        }
        const auto rows = kqm::test::ReadProgramFile(path);
        QStringList comments;
        for (const ProgramRow& row : rows)
            comments << row.comment;
        for (const QString& mark : std::as_const(tokens))
            EXPECT_TRUE(comments.contains(mark)) << mark.toStdString();
        QVector<ProgramRow> refreshed = rows;
        computeListing(refreshed, messages);
        for (qsizetype i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].lineNo, refreshed[i].lineNo);
            EXPECT_EQ(rows[i].address, refreshed[i].address);
        }
        {
            Transaction trial(other.file());
            const HistoryMove move = undoStep(other);
            EXPECT_TRUE(move.ok || move.nothing) << move.error.toStdString();
        }
        document.catchUp();
        EXPECT_TRUE(sameLines(document.rows(), rows));
    }
}

} // namespace
