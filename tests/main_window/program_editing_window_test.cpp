#include "main_window/main_window.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/test_form.h"
#include "support/window_fixture.h"

#include "program/editing.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

// The Edit menu, the clipboard, moves, the check panel and the branch target
// chooser, on program files opened in the real window (the unit offline).
class ProgramEditingWindowTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = makeWindow(clock, port);
        form->Form_Load();
        messages.clear();
        grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    }

    QString file(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    void open(const char* name, const QVector<test::Line>& lines) {
        test::WriteProgramFile(file(name), lines);
        dialogs.choose(file(name));
        click("cmdOpen");
        ASSERT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(file(name)));
    }
    QAction* action(const char* name) {
        return form->findChild<QAction*>(QString::fromLatin1(name));
    }
    void trigger(const char* name) { action(name)->trigger(); }
    void select(int first, int last) {
        grid->selectionModel()->select(
            QItemSelection(grid->model()->index(first, 0), grid->model()->index(last, 4)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QList<int> selected() {
        QList<int> rows;
        for (const QModelIndex& index : grid->selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    QStringList commands(const char* name) {
        QStringList result;
        for (const program::ProgramRow& row : test::ReadProgramFile(file(name)))
            result << row.command;
        return result;
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
    QTableView* grid = nullptr;
};

TEST_F(ProgramEditingWindowTest, UndoAndRedoNameTheStepAndRestoreTheTable) {
    open("ABC.MDB", {{"A10", "!", "ramp"}, {"W5"}, {"M3000"}, {"Q"}});
    EXPECT_FALSE(action("mnuUndo")->isEnabled());
    const QStringList listing = gridColumn(3);
    const QString memory = labelText("lblBytesUsed");

    // Several lines go as one step.
    select(1, 2);
    click("cmdDelete");
    EXPECT_EQ(gridColumn(3), (QStringList{"Accel/Decel=10", "Quit"}));
    EXPECT_EQ(action("mnuUndo")->text(), QStringLiteral("&Undo Delete lines 2-3"));
    EXPECT_EQ(commands("ABC.MDB"), (QStringList{"A10", "Q"}));

    trigger("mnuUndo");
    EXPECT_EQ(gridColumn(3), listing);
    EXPECT_EQ(gridColumn(4).first(), QStringLiteral("ramp"));
    EXPECT_EQ(labelText("lblBytesUsed"), memory);
    EXPECT_EQ(selected(), QList<int>{1}); // the line that was current
    EXPECT_EQ(commands("ABC.MDB"), (QStringList{"A10", "W5", "M3000", "Q"}));
    EXPECT_FALSE(action("mnuUndo")->isEnabled());
    EXPECT_EQ(action("mnuRedo")->text(), QStringLiteral("&Redo Delete lines 2-3"));

    trigger("mnuRedo");
    EXPECT_EQ(commands("ABC.MDB"), (QStringList{"A10", "Q"}));
    EXPECT_FALSE(action("mnuRedo")->isEnabled());
    EXPECT_TRUE(messages.boxes().isEmpty());

    // The history is the file's: opening it again brings it back.
    open("OTHER.MDB", {{"Q"}});
    EXPECT_FALSE(action("mnuUndo")->isEnabled());
    dialogs.choose(file("ABC.MDB"));
    click("cmdOpen");
    EXPECT_EQ(action("mnuUndo")->text(), QStringLiteral("&Undo Delete lines 2-3"));
    // A new program starts with none.
    click("SSCommand1");
    EXPECT_FALSE(action("mnuUndo")->isEnabled());
    EXPECT_FALSE(action("mnuRedo")->isEnabled());
}

// File > Export and Import: the text file gives back the same program; a
// wrong line is named as FILE:LINE and nothing changes; an import is one
// undo step.
// After each edit the user's line, or the one that took its place, stays
// selected: what the user does, and the line selected after it.
TEST_F(ProgramEditingWindowTest, TheUsersPlaceIsKeptAfterEveryEdit) {
    open("PLACE.MDB", {{"A10"}, {"W5"}, {"M3000"}, {"Q"}});
    const auto okOn = [](const char* option, const char* box, const char* value) {
        test::AnswerModal([=](QDialog* editor) {
            ASSERT_NE(editor, nullptr);
            editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
            auto* button = editor->findChild<QRadioButton*>(QString::fromLatin1(option));
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
            editor->findChild<QLineEdit*>(QString::fromLatin1(box))->setText(value);
            QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")),
                              Qt::LeftButton);
        });
    };
    const struct {
        const char* does;
        int chosen;
        std::function<void()> act;
        int after;
    } steps[] = {
        {"change line 2", 1,
         [&] {
             okOn("optWait", "txtWait", "7");
             trigger("mnuChangeLine");
         },
         1},
        {"insert before 2", 1,
         [&] {
             okOn("optWait", "txtWait", "8");
             trigger("mnuInsertLine");
         },
         2},
        {"delete line 3", 2, [&] { trigger("mnuDeleteLines"); }, 2},
        {"add (Alt+Insert)", 0,
         [&] {
             okOn("optWait", "txtWait", "9");
             trigger("mnuAddLine");
         },
         4},
        {"undo the add", 4, [&] { trigger("mnuUndo"); }, 0}, // the line chosen before it
        {"undo the delete", 1, [&] { trigger("mnuUndo"); }, 2},
    };
    EXPECT_EQ(action("mnuAddLine")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Insert));
    for (const auto& step : steps) {
        SCOPED_TRACE(step.does);
        select(step.chosen, step.chosen);
        step.act();
        EXPECT_EQ(selected(), QList<int>{step.after});
    }
    EXPECT_EQ(commands("PLACE.MDB"), (QStringList{"A10", "W8", "W7", "M3000", "Q"}));
}

// Another program (kqmctl) inserts a line while the user has line 4 chosen:
// Delete takes nothing away, and the grid and the status line show the file
// as it is now.
TEST_F(ProgramEditingWindowTest, ADeleteAfterAChangeElsewhereTakesNothing) {
    open("ABC.MDB", {{"A10"}, {"W5"}, {"M3000"}, {"Q"}});
    select(3, 3);
    program::ProgramTable other;
    ASSERT_TRUE(other.open(file("ABC.MDB")));
    program::ProgramState state;
    ASSERT_TRUE(program::insertLine(other, state, messages, 0, "B20", "").ok);
    click("cmdDelete");
    EXPECT_EQ(commands("ABC.MDB"), (QStringList{"B20", "A10", "W5", "M3000", "Q"}));
    EXPECT_EQ(gridColumn(2), commands("ABC.MDB"));
    EXPECT_TRUE(form->statusBar()->currentMessage().contains(QStringLiteral("another program")));
}

TEST_F(ProgramEditingWindowTest, ExportAndImportThroughTheFileMenu) {
    open("SRC.MDB", {{"A10", "!", "semi; colon"}, {"N500\r@0G"}, {"&3_2", "!", " "}, {"Q"}});
    const auto original = test::ReadProgramFile(file("SRC.MDB"));
    dialogs.choose(file("s&rc.txt"));
    trigger("mnuExportProgram");
    ASSERT_TRUE(QFile::exists(file("s&rc.txt")));
    // Named for what it does, offering the program's name beside it.
    EXPECT_EQ(dialogs.lastTitle, QStringLiteral("Export Program"));
    EXPECT_EQ(QFileInfo(dialogs.lastDirectory).fileName(), QStringLiteral("SRC.txt"));

    open("DEST.MDB", {{"W5"}, {"Q"}});
    // Refused by line, with the same reader and words as kqmctl import: a
    // line the unit does not accept, and text that is not UTF-8 (not taken
    // in with its comments garbled).
    const struct {
        const char* name;
        QByteArray text;
        const char* said;
    } refused[] = {
        {"bad.txt", "KQM program text 1\nA10\nB1\n", "bad.txt:3:"},
        {"latin.txt", "KQM program text 1\nA10 ; caf\xe9\nQ\n", "latin.txt:2: not UTF-8 text"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        QFile bad(file(r.name));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write(r.text);
        bad.close();
        dialogs.choose(file(r.name));
        trigger("mnuImportProgram");
        ASSERT_EQ(messages.boxes().size(), 1);
        EXPECT_TRUE(messages.texts().first().contains(QLatin1String(r.said)))
            << messages.texts().first().toStdString();
        EXPECT_EQ(commands("DEST.MDB"), (QStringList{"W5", "Q"}));
        messages.clear();
    }

    dialogs.choose(file("s&rc.txt"));
    trigger("mnuImportProgram");
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(dialogs.lastTitle, QStringLiteral("Import Program"));
    EXPECT_EQ(QDir(dialogs.lastDirectory), QFileInfo(file("s&rc.txt")).absoluteDir());
    auto imported = test::ReadProgramFile(file("DEST.MDB"));
    ASSERT_EQ(imported.size(), original.size());
    for (qsizetype i = 0; i < original.size(); ++i) {
        imported[i].rowid = original[i].rowid;
        EXPECT_EQ(imported[i], original[i]);
    }
    EXPECT_EQ(action("mnuUndo")->text(), QStringLiteral("&Undo Import s&&rc.txt"));
    trigger("mnuUndo");
    EXPECT_EQ(commands("DEST.MDB"), (QStringList{"W5", "Q"}));

    // Export never writes over the open program file.
    messages.clear();
    const QByteArray before = test::FileBytes(file("DEST.MDB"));
    dialogs.choose(file("DEST.MDB"));
    trigger("mnuExportProgram");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QLatin1String("would replace the program file")));
    EXPECT_EQ(test::FileBytes(file("DEST.MDB")), before);
}

TEST_F(ProgramEditingWindowTest, CopyAndPasteBetweenTwoProgramFiles) {
    open("FROM.MDB", {{"A10", "!", "first"}, {"N500\r@0G", "!", "tab\there"}, {"W5"}, {"Q"}});
    select(0, 1);
    trigger("mnuCopy");
    open("TO.MDB", {{"B100"}, {"Q"}});
    select(1, 1);
    trigger("mnuPaste");
    EXPECT_EQ(commands("TO.MDB"), (QStringList{"B100", "A10", "N500\r@0G", "Q"}));
    EXPECT_EQ(gridColumn(4).mid(1, 2), (QStringList{"first", "tab\there"}));
    EXPECT_EQ(selected(), (QList<int>{1, 2})); // the pasted lines
    EXPECT_EQ(action("mnuUndo")->text(), QStringLiteral("&Undo Paste 2 lines"));

    // Nothing selected: at the end. Cut takes the lines out as one step.
    grid->clearSelection();
    trigger("mnuPaste");
    EXPECT_EQ(commands("TO.MDB").size(), 6);
    select(4, 5);
    trigger("mnuCut");
    EXPECT_EQ(commands("TO.MDB"), (QStringList{"B100", "A10", "N500\r@0G", "Q"}));

    // Text from an editor: a wrong line is named and nothing is pasted.
    QGuiApplication::clipboard()->setText(QStringLiteral("A10\nA999\n"));
    select(0, 0);
    trigger("mnuPaste");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QLatin1String("Line 2:")));
    EXPECT_EQ(commands("TO.MDB"), (QStringList{"B100", "A10", "N500\r@0G", "Q"}));
    messages.clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("W7\n"));
    trigger("mnuPaste");
    EXPECT_EQ(commands("TO.MDB").first(), QStringLiteral("W7"));
}

TEST_F(ProgramEditingWindowTest, PastedBranchesPointWhereTheCopiedOnesDid) {
    // The copied loop goes back to the copy of line 2; the goto still to line 1.
    open("LOOP.MDB", {{"W5"}, {"A100"}, {"&2,2"}, {"X0"}, {"Q"}});
    select(1, 3);
    trigger("mnuCopy");
    select(4, 4);
    trigger("mnuPaste");
    EXPECT_EQ(commands("LOOP.MDB"),
              (QStringList{"W5", "A100", "&2,2", "X0", "A100", "&2,5", "X0", "Q"}));
    EXPECT_TRUE(messages.boxes().isEmpty());

    // From an editor nothing says where a branch pointed: as written, and said.
    QGuiApplication::clipboard()->setText(QStringLiteral("&2,1\n"));
    select(0, 0);
    trigger("mnuPaste");
    EXPECT_EQ(commands("LOOP.MDB").first(), QStringLiteral("&2,1"));
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QLatin1String("Line 1 (&2,1)")));
}

TEST_F(ProgramEditingWindowTest, MovesCarryTheSelectionAndItsBranches) {
    // Line 4 loops back to line 2 (address 3): it keeps naming that line.
    open("MOVE.MDB", {{"A10"}, {"W5"}, {"M3000"}, {"&3_2"}, {"Q"}});
    select(1, 2);
    trigger("mnuMoveUp");
    EXPECT_EQ(commands("MOVE.MDB"), (QStringList{"W5", "M3000", "A10", "&0_2", "Q"}));
    EXPECT_EQ(selected(), (QList<int>{0, 1}));
    trigger("mnuMoveUp"); // at the top already
    trigger("mnuMoveDown");
    trigger("mnuMoveDown");
    EXPECT_EQ(commands("MOVE.MDB"), (QStringList{"A10", "&8_2", "W5", "M3000", "Q"}));
    EXPECT_EQ(selected(), (QList<int>{2, 3}));
    EXPECT_EQ(action("mnuUndo")->text(), QStringLiteral("&Undo Move lines 2-3 down"));
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(ProgramEditingWindowTest, TheCheckPanelListsProblemsAndGoesToTheirLines) {
    open("CHECK.MDB", {{"A10"}, {"X99"}, {"W5"}});
    auto* problems = form->findChild<QListWidget*>(QStringLiteral("lstProblems"));
    ASSERT_NE(problems, nullptr);
    ASSERT_GE(problems->count(), 2);
    QStringList texts;
    for (int i = 0; i < problems->count(); ++i)
        texts << problems->item(i)->text();
    EXPECT_TRUE(texts.filter(QStringLiteral("Line 2: error:")).size() == 1)
        << texts.join('\n').toStdString();
    EXPECT_TRUE(texts.filter(QStringLiteral("Line 3: error:")).size() >= 1)
        << texts.join('\n').toStdString();
    EXPECT_TRUE(labelText("lblProblems").contains(QLatin1String("error")));

    const QRect place = problems->visualItemRect(problems->item(0));
    QTest::mouseClick(problems->viewport(), Qt::LeftButton, {}, place.center());
    EXPECT_EQ(selected(), QList<int>{problems->item(0)->data(Qt::UserRole).toInt() - 1});

    // The goto chooser fills in a line's address; the check is then clean.
    select(1, 1);
    test::AnswerModal([](QDialog* editor) {
        ASSERT_NE(editor, nullptr);
        auto* chooser = editor->findChild<QComboBox*>(QStringLiteral("cboGotoTarget"));
        ASSERT_NE(chooser, nullptr);
        ASSERT_EQ(chooser->count(), 4);
        EXPECT_EQ(chooser->itemText(3), QStringLiteral("Line 3 (address 7): Wait 5"));
        chooser->setCurrentIndex(3);
        emit chooser->activated(3);
        EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("txtGotoLineNumber"))->text(),
                  QStringLiteral("7"));
        QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    click("cmdChange");
    select(2, 2);
    test::AnswerModal([](QDialog* editor) {
        ASSERT_NE(editor, nullptr);
        editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
        auto* quit = editor->findChild<QRadioButton*>(QStringLiteral("optQuit"));
        QTest::mouseClick(quit, Qt::LeftButton, {}, QPoint(6, quit->height() / 2));
        QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    click("cmdChange");
    EXPECT_EQ(commands("CHECK.MDB"), (QStringList{"A10", "X7", "Q"}));
    EXPECT_EQ(problems->count(), 0);
    EXPECT_EQ(labelText("lblProblems"), QStringLiteral("Program check: no problems found."));
}

// A program as it is being written: the panel shows an error and two
// warnings. With KQM_SCREENSHOT_DIR set, the window is saved there as the
// picture the README shows.
TEST_F(ProgramEditingWindowTest, TheCheckPanelOnAProgramBeingWritten) {
    open("CUT.MDB", {{"A20", "!", "ramp"},
                     {"M500", "!", "top speed"},
                     {"B800", "!", "start speed"},
                     {"N4000\r@0G", "!", "feed one part"},
                     {"W250", "!", "let it settle"},
                     {"&9_5", "!", "five parts"},
                     {"X70", "!", "next batch"},
                     {"Q", "!", "done"},
                     {"O1", "!", "lamp on"}});
    auto* problems = form->findChild<QListWidget*>(QStringLiteral("lstProblems"));
    QStringList texts;
    for (int i = 0; i < problems->count(); ++i)
        texts << problems->item(i)->text();
    const QString all = texts.join('\n');
    EXPECT_EQ(texts.filter(QStringLiteral("Line 3: warning:")).size(), 1) << all.toStdString();
    EXPECT_EQ(texts.filter(QStringLiteral("Line 7: error:")).size(), 1) << all.toStdString();
    EXPECT_EQ(texts.filter(QStringLiteral("Line 9: error:")).size(), 1) << all.toStdString();
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty()) {
        form->resize(1000, 640);
        select(6, 6);
        form->grab().save(QDir(target).filePath(QStringLiteral("program-tab-check.png")));
    }
}

} // namespace
