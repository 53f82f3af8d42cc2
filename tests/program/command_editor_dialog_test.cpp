#include "program/command_editor_dialog.h"
#include "support/fake_messages.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace kqm::program;

namespace {

class EditorTest : public ::testing::Test {
protected:
    std::unique_ptr<frmCommands> open(const QString& model = QStringLiteral("KQM20")) {
        auto dialog = std::make_unique<frmCommands>(messages, memory, model, QStringLiteral("3"));
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return dialog;
    }
    template <typename T> static T* child(QWidget* dialog, const QString& name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    static void click(QWidget* dialog, const QString& name) {
        // Near the left edge: a radio button takes clicks on its indicator and text.
        QWidget* widget = child<QWidget>(dialog, name);
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
    }
    static QString prompt(QWidget* dialog) {
        return child<QLabel>(dialog, QStringLiteral("lblStatusBar"))->text();
    }

    kqm::test::FakeMessages messages;
    EditorMemory memory;
};

TEST_F(EditorTest, OkWithoutAnOptionAsksForOne) {
    auto dialog = open();
    EXPECT_EQ(prompt(dialog.get()), QStringLiteral("Please choose a command."));
    auto* tabs = child<QTabWidget>(dialog.get(), "SSTab1");
    EXPECT_FALSE(tabs->isTabVisible(1));
    click(dialog.get(), "btnOK");
    tabs->setCurrentIndex(2);
    click(dialog.get(), "btnOK");
    EXPECT_EQ(messages.texts(),
              (QStringList{"Please select a command.", "Please select a command to add."}));
    EXPECT_EQ(messages.boxes().at(0).icon, kqm::platform::MessageIcon::Warning);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->EditedCommand().isEmpty());
}

// Ctrl+Tab moves between the shown pages only; picking a line for a loop or
// a goto chooses that command, as typing its address does.
TEST_F(EditorTest, CtrlTabAndTheLineChoosersLeadToACommand) {
    auto dialog = open();
    auto* tabs = child<QTabWidget>(dialog.get(), "SSTab1");
    for (const int expected : {2, 0, 2}) {
        QTest::keyClick(tabs, Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(tabs->currentIndex(), expected);
    }
    QVector<ProgramRow> rows(2);
    rows[0].command = QStringLiteral("A10");
    rows[1].command = QStringLiteral("Q");
    const struct {
        const char* chooser;
        QString command;
    } cases[] = {{"cboLoopTarget", "&3_"}, {"cboGotoTarget", "X3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chooser);
        dialog = open();
        dialog->setProgramLines(rows);
        child<QTabWidget>(dialog.get(), "SSTab1")->setCurrentIndex(2);
        auto* chooser = child<QComboBox>(dialog.get(), c.chooser);
        chooser->setCurrentIndex(2);
        emit chooser->activated(2);
        EXPECT_TRUE(prompt(dialog.get()).contains(QStringLiteral("address")))
            << prompt(dialog.get()).toStdString();
        if (c.command.startsWith('&'))
            QTest::keyClicks(child<QLineEdit>(dialog.get(), "txtLoopTimesToLoop"), "2");
        click(dialog.get(), "btnOK");
        EXPECT_TRUE(dialog->EditedCommand().startsWith(c.command))
            << dialog->EditedCommand().toStdString();
    }
    EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join('|').toStdString();
}

TEST_F(EditorTest, TypingAValueChecksItAndBuildsTheCommand) {
    auto dialog = open();
    click(dialog.get(), "optAcceleration");
    EXPECT_EQ(prompt(dialog.get()), QStringLiteral("Accel/Decel (1 to 255)"));
    auto* box = child<QLineEdit>(dialog.get(), "txtAcceleration");
    EXPECT_FALSE(child<QLineEdit>(dialog.get(), "txtBaseSpeed")->isVisible());
    QTest::keyClicks(box, QStringLiteral("2567"));
    EXPECT_EQ(box->text(), QStringLiteral("256")); // three characters at most
    click(dialog.get(), "btnOK");
    EXPECT_EQ(messages.texts(), QStringList{"Acceleration value out of range."});
    box->setText(QStringLiteral("255"));
    QTest::keyClicks(child<QLineEdit>(dialog.get(), "txtComment(0)"),
                     QString(40, QLatin1Char('c')));
    click(dialog.get(), "btnOK");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->EditedCommand(), QStringLiteral("A255"));
    EXPECT_EQ(dialog->EditedComment(), QString(30, QLatin1Char('c')));
}

TEST_F(EditorTest, GoMovesEmbedTheAxisAndEntryBoxesSelectTheirOption) {
    auto dialog = open();
    click(dialog.get(), "txtGoRelative");
    EXPECT_TRUE(child<QRadioButton>(dialog.get(), "optGoRelative")->isChecked());
    QTest::keyClicks(child<QLineEdit>(dialog.get(), "txtGoRelative"), QStringLiteral("1000"));
    QTest::keyClick(dialog.get(), Qt::Key_Return); // OK is the default button
    EXPECT_EQ(dialog->EditedCommand(), QStringLiteral("N1000\r@3G"));
}

TEST_F(EditorTest, PatternBoxesHoldOnlyZeroOrOneAndMoveAlong) {
    auto dialog = open();
    child<QTabWidget>(dialog.get(), "SSTab1")->setCurrentIndex(2);
    click(dialog.get(), "txtInput(1)");
    EXPECT_TRUE(child<QRadioButton>(dialog.get(), "optIfThen")->isChecked());
    auto* first = child<QLineEdit>(dialog.get(), "txtInput(1)");
    QTest::keyClicks(first, QStringLiteral("7"));
    EXPECT_EQ(first->text(), QString());
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1"));
    EXPECT_EQ(QApplication::focusWidget(), child<QLineEdit>(dialog.get(), "txtInput(2)"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1"));
    EXPECT_EQ(QApplication::focusWidget(), child<QLineEdit>(dialog.get(), "txtInput(4)"));
    click(dialog.get(), "btnOK");
    EXPECT_EQ(dialog->EditedCommand(), QStringLiteral("?13"));
}

TEST_F(EditorTest, ModelDecidesTheMoveOptions) {
    auto kqm20 = open();
    EXPECT_TRUE(child<QRadioButton>(kqm20.get(), "optGoAbsolute")->isVisible());
    EXPECT_TRUE(child<QRadioButton>(kqm20.get(), "optZero")->isVisible());
    EXPECT_FALSE(child<QRadioButton>(kqm20.get(), "optRegistration")->isVisible());
    auto kqm21 = open(QStringLiteral("KQM21"));
    EXPECT_FALSE(child<QRadioButton>(kqm21.get(), "optGoAbsolute")->isVisible());
    EXPECT_FALSE(child<QLineEdit>(kqm21.get(), "txtZero")->isVisible());
    EXPECT_TRUE(child<QRadioButton>(kqm21.get(), "optRegistration")->isVisible());
    EXPECT_TRUE(child<QLineEdit>(kqm21.get(), "txtRegistration")->isVisible());
}

TEST_F(EditorTest, PreloadSelectsEvenAHiddenOption) {
    frmCommands dialog(messages, memory, QStringLiteral("KQM20"), QStringLiteral("0"));
    dialog.preload(preloadFor(QStringLiteral("N500")), QStringLiteral("index"));
    dialog.show();
    EXPECT_TRUE(child<QRadioButton>(&dialog, "optRegistration")->isChecked());
    EXPECT_TRUE(child<QLineEdit>(&dialog, "txtRegistration")->isVisible());
    EXPECT_EQ(child<QLineEdit>(&dialog, "txtRegistration")->text(), QStringLiteral("500"));
    EXPECT_EQ(child<QLineEdit>(&dialog, "txtComment(0)")->text(), QStringLiteral("index"));

    frmCommands loop(messages, memory, QStringLiteral("KQM20"), QStringLiteral("0"));
    loop.preload(preloadFor(QStringLiteral("&12_5")), QStringLiteral(" "));
    loop.show();
    EXPECT_EQ(child<QTabWidget>(&loop, "SSTab1")->currentIndex(), 2);
    EXPECT_EQ(child<QLineEdit>(&loop, "txtLoopLineNumber")->text(), QStringLiteral("12"));
    EXPECT_EQ(child<QLineEdit>(&loop, "txtLoopTimesToLoop")->text(), QStringLiteral("5"));
    click(&loop, "btnOK");
    EXPECT_EQ(loop.EditedCommand(), QStringLiteral("&12_5"));

    frmCommands outputs(messages, memory, QStringLiteral("KQM20"), QStringLiteral("0"));
    outputs.preload(preloadFor(QStringLiteral("O3")), QString());
    outputs.show();
    click(&outputs, "btnOK");
    EXPECT_EQ(outputs.EditedCommand(), QStringLiteral("O0")); // pattern boxes start empty
}

// The editor used from the keyboard alone: typing into a box reached with Tab
// chooses its option, the arrows walk the shown options, a wrong value takes
// the focus back, and choices never move the layout.
TEST_F(EditorTest, TheKeyboardAloneChoosesWalksAndCorrects) {
    auto dialog = open();
    const auto focused = [] {
        return QApplication::focusWidget()->objectName();
    };
    auto* base = child<QLineEdit>(dialog.get(), "txtBaseSpeed");
    base->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(base, QStringLiteral("500"));
    EXPECT_TRUE(child<QRadioButton>(dialog.get(), "optBaseSpeed")->isChecked());
    EXPECT_EQ(prompt(dialog.get()), QStringLiteral("Base speed (steps/sec) 77 to 3500)"));
    EXPECT_EQ(base->text(), QStringLiteral("500"));
    EXPECT_EQ(focused(), QStringLiteral("txtBaseSpeed"));
    EXPECT_FALSE(child<QLineEdit>(dialog.get(), "txtAcceleration")->isVisible());

    // The KQM20's options, in their rows; Registration is the KQM21's.
    child<QRadioButton>(dialog.get(), "optBaseSpeed")->setFocus(Qt::TabFocusReason);
    const struct {
        Qt::Key key;
        const char* option;
    } walk[] = {{Qt::Key_Down, "optMaxSpeed"},    {Qt::Key_Down, "optGoRelative"},
                {Qt::Key_Right, "optGoAbsolute"}, {Qt::Key_Down, "optZero"},
                {Qt::Key_Up, "optGoAbsolute"},    {Qt::Key_Up, "optGoRelative"},
                {Qt::Key_Left, "optMaxSpeed"},    {Qt::Key_Up, "optBaseSpeed"},
                {Qt::Key_Up, "optAcceleration"},  {Qt::Key_Up, "optHome1"}};
    for (const auto& step : walk) {
        QTest::keyClick(QApplication::focusWidget(), step.key);
        EXPECT_EQ(focused(), QString::fromLatin1(step.option));
        EXPECT_TRUE(
            child<QRadioButton>(dialog.get(), QString::fromLatin1(step.option))->isChecked())
            << step.option;
    }

    // Loop: the box that was wrong gets the focus back, its text selected.
    child<QTabWidget>(dialog.get(), "SSTab1")->setCurrentIndex(2);
    auto* address = child<QLineEdit>(dialog.get(), "txtLoopLineNumber");
    auto* times = child<QLineEdit>(dialog.get(), "txtLoopTimesToLoop");
    const QRect addressPlace = address->geometry();
    const QRect waitPlace = child<QLineEdit>(dialog.get(), "txtWait")->geometry();
    auto* waitLabel = dialog->findChildren<QLabel*>().value(0);
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->text() == QStringLiteral("milliseconds"))
            waitLabel = label;
    address->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(address, QStringLiteral("12"));
    EXPECT_TRUE(child<QRadioButton>(dialog.get(), "optLoop")->isChecked());
    EXPECT_FALSE(waitLabel->isVisible()); // hidden with its box
    EXPECT_EQ(address->geometry(), addressPlace);
    times->setText(QStringLiteral("300"));
    click(dialog.get(), "btnOK");
    EXPECT_EQ(focused(), QStringLiteral("txtLoopTimesToLoop"));
    EXPECT_EQ(times->selectedText(), QStringLiteral("300"));
    QTest::keyClicks(times, QStringLiteral("3"));
    address->setText(QStringLiteral("9999"));
    click(dialog.get(), "btnOK");
    EXPECT_EQ(focused(), QStringLiteral("txtLoopLineNumber"));
    EXPECT_EQ(messages.texts(), (QStringList{"Number of times to loop out of range.",
                                             "Address number empty or invalid."}));
    click(dialog.get(), "optWait");
    EXPECT_TRUE(waitLabel->isVisible());
    EXPECT_FALSE(address->isVisible());
    EXPECT_EQ(child<QLineEdit>(dialog.get(), "txtWait")->geometry(), waitPlace);

    // Change opens with the focus in the value box.
    frmCommands change(messages, memory, QStringLiteral("KQM20"), QStringLiteral("0"));
    change.preload(preloadFor(QStringLiteral("M900")), QString());
    change.show();
    change.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&change));
    EXPECT_EQ(focused(), QStringLiteral("txtMaxSpeed"));
    // Escape closes it as Cancel does.
    QTest::keyClick(&change, Qt::Key_Escape);
    EXPECT_FALSE(change.isVisible());
    EXPECT_TRUE(change.EditedCommand().isEmpty());
}

TEST_F(EditorTest, CancelAndThePositionKeptBetweenOpenings) {
    auto first = open();
    first->move(first->x() + 37, first->y() + 21);
    const QPoint left = first->pos();
    click(first.get(), "btnCancel");
    EXPECT_TRUE(first->EditedCommand().isEmpty());
    EXPECT_FALSE(memory.FirstLoad);
    auto second = open();
    EXPECT_EQ(second->pos(), left);
    EXPECT_EQ(prompt(second.get()), QStringLiteral("Please choose a command."));
}

} // namespace

namespace {

// The wait box holds the largest wait the editor accepts.
TEST_F(EditorTest, TheWaitBoxTakesTenThousand) {
    auto dialog = open();
    child<QTabWidget>(dialog.get(), "SSTab1")->setCurrentIndex(2);
    click(dialog.get(), "optWait");
    auto* wait = child<QLineEdit>(dialog.get(), "txtWait");
    QTest::keyClicks(wait, QStringLiteral("100000"));
    EXPECT_EQ(wait->text(), QStringLiteral("10000"));
    click(dialog.get(), "btnOK");
    EXPECT_EQ(dialog->EditedCommand(), QStringLiteral("W10000"));
    EXPECT_TRUE(messages.boxes().isEmpty());
}

} // namespace
