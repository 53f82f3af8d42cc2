#include "files/settings_table.h"
#include "main_window/desktop_memory.h"
#include "platform/virtual_clock.h"
#include "platform/window_placement.h"
#include "program/editing.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/window_fixture.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSet>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

// The keyboard and what the desktop remembers, on the real window against
// the simulated unit.
class DesktopWindowTest : public test::WindowFixture {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void start() {
        form = makeWindow(clock, port);
        form->Form_Load();
        messages.clear();
    }
    void startShown() {
        start();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    QString file(const QString& name) { return dir.filePath(name); }
    QAction* action(const char* name) {
        return form->findChild<QAction*>(QString::fromLatin1(name));
    }
    QStringList recentMenu() {
        QStringList paths;
        for (QAction* item :
             form->findChild<QMenu*>(QStringLiteral("mnuRecentPrograms"))->actions())
            if (item->data().isValid())
                paths << item->data().toString();
        return paths;
    }
    QTableView* grid() { return form->findChild<QTableView*>(QStringLiteral("DBGrid2")); }
    void selectLine(int row) {
        grid()->selectionModel()->select(grid()->model()->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
    }
    // Presses the key in the grid and says which editor it opened, if any.
    QString editorFor(const std::function<void()>& press) {
        QString title;
        test::AnswerModal([&title](QDialog* editor) {
            if (!editor)
                return;
            title = editor->windowTitle();
            editor->reject();
        });
        press();
        QCoreApplication::processEvents();
        // The offscreen platform does not give the window back its activation.
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        grid()->setFocus();
        return title;
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
};

TEST_F(DesktopWindowTest, MenuAndGridKeysRunTheirCommands) {
    startShown();
    test::WriteProgramFile(file("a.mdb"), {{"A10"}, {"W5"}, {"Q"}});
    dialogs.choose(file("a.mdb"));
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(file("a.mdb")));
    dialogs.choose(file("b.mdb"));
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(file("b.mdb")));

    // The grid: Insert and Enter open the editor, a double-click too, Delete deletes.
    grid()->setFocus();
    selectLine(1);
    EXPECT_EQ(editorFor([this] { QTest::keyClick(grid(), Qt::Key_Insert); }),
              QStringLiteral("Insert Command"));
    EXPECT_EQ(editorFor([this] { QTest::keyClick(grid(), Qt::Key_Return); }),
              QStringLiteral("Change Command"));
    selectLine(1);
    const QRect line = grid()->visualRect(grid()->model()->index(1, 3));
    ASSERT_TRUE(grid()->viewport()->rect().contains(line.center()));
    EXPECT_EQ(editorFor([&] {
                  // The test's double-click event comes without its press.
                  QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, line.center());
                  QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, line.center());
              }),
              QStringLiteral("Change Command"));
    selectLine(1);
    QTest::keyClick(grid(), Qt::Key_Delete);
    EXPECT_EQ(gridColumn(3).size(), 2);

    // From the Motion tab, F5 brings the Program tab and offers the send.
    form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0);
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_EQ(form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->currentIndex(), 1);
    ASSERT_NE(form->findChild<transfer::Form2*>(), nullptr);
    form->findChild<transfer::Form2*>()->close();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(gridColumn(3).isEmpty());
    QTest::keyClick(form.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(messages.texts(), QStringList{"The program is empty."});
}

// A first day at the window, by keyboard: each row is what the user does and
// what must follow.
TEST_F(DesktopWindowTest, AFirstDayByKeyboard) {
    startShown();
    test::WriteProgramFile(file("a.mdb"), {{"A10"}, {"W5"}, {"Q"}});
    const QString caption = ui::Form1::Caption();
    const auto chosenCommand = [this] {
        const QModelIndexList rows = grid()->selectionModel()->selectedRows();
        const QString chosen =
            rows.size() == 1 ? gridColumn(2).at(rows.first().row()) : QStringLiteral("(none)");
        return chosen + QStringLiteral(" chosen in ") + gridColumn(2).join(' ');
    };
    // Answers the editor that the key opens: fills it in, or walks its pages.
    const auto inEditor = [this](const std::function<void(QDialog*)>& fill) {
        return [this, fill] {
            test::AnswerModal([fill](QDialog* editor) {
                if (editor)
                    fill(editor);
            });
        };
    };
    const auto press = [this](std::function<QWidget*()> target, Qt::Key key,
                              Qt::KeyboardModifiers modifiers = {}) {
        return [=, this] {
            QTest::keyClick(target(), key, modifiers);
            QCoreApplication::processEvents();
            form->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        };
    };
    const auto window = [this]() -> QWidget* {
        return form.get();
    };
    const auto inGrid = [this]() -> QWidget* {
        grid()->setFocus();
        return grid();
    };
    QStringList pagesVisited;
    QString opened;
    const auto tabBar = [this]() -> QWidget* {
        QTabBar* bar = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->tabBar();
        bar->setFocus();
        return bar;
    };
    const auto motionButton = [this]() -> QWidget* {
        auto* button = form->findChild<QPushButton*>(QStringLiteral("cmdStopAll"));
        button->setFocus();
        return button;
    };
    const auto shownTab = [this] {
        auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"));
        return tabs->tabText(tabs->currentIndex());
    };
    const auto then = [](std::function<void()> first, std::function<void()> second) {
        return [=] {
            first();
            second();
        };
    };
    const struct {
        const char* does;
        std::function<void()> act;
        std::function<QString()> shows;
        QString mustShow;
    } rows[] = {
        {"starts, in the working copy", [] {}, [this] { return form->windowTitle(); },
         "Untitled - " + caption},
        {"reads the button that opens Save As", [] {},
         [this] { return form->findChild<QPushButton*>(QStringLiteral("cmdSave"))->text(); },
         "Save As..."},
        {"presses Ctrl+S in the working copy and cancels",
         then([this] { dialogs.choose({}); }, press(window, Qt::Key_S, Qt::ControlModifier)),
         [this] { return QString::number(dialogs.shown); }, "1"},
        {"opens a.mdb with Ctrl+O",
         then([this] { dialogs.choose(file("a.mdb")); },
              press(window, Qt::Key_O, Qt::ControlModifier)),
         [this] { return form->windowTitle(); }, "a.mdb - " + caption},
        {"presses Ctrl+S in a.mdb", press(window, Qt::Key_S, Qt::ControlModifier),
         [this] { return form->statusBar()->currentMessage(); },
         QStringLiteral("Every change is already written to %1.")
             .arg(QDir::toNativeSeparators(file("a.mdb")))},
        {"presses Ctrl+Tab twice in the editor that Alt+Insert opens",
         then(inEditor([&pagesVisited](QDialog* editor) {
                  auto* pages = editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"));
                  for (int i = 0; i < 2; ++i) {
                      QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
                      pagesVisited << pages->tabText(pages->currentIndex());
                  }
                  editor->reject();
              }),
              press(inGrid, Qt::Key_Insert, Qt::AltModifier)),
         [&pagesVisited] { return pagesVisited.join(','); },
         "Program Parameters,Motion Parameters"},
        {"adds W7 with Alt+Insert",
         then(inEditor([](QDialog* editor) {
                  editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
                  auto* wait = editor->findChild<QRadioButton*>(QStringLiteral("optWait"));
                  QTest::mouseClick(wait, Qt::LeftButton, {}, QPoint(6, wait->height() / 2));
                  editor->findChild<QLineEdit*>(QStringLiteral("txtWait"))->setText("7");
                  QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")),
                                    Qt::LeftButton);
              }),
              press(inGrid, Qt::Key_Insert, Qt::AltModifier)),
         chosenCommand, "W7 chosen in A10 W5 Q W7"},
        {"inserts before A10 a goto to W5 chosen from the line list (it follows W5)",
         then(then([this] { selectLine(0); }, inEditor([](QDialog* editor) {
                       editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
                       auto* chooser =
                           editor->findChild<QComboBox*>(QStringLiteral("cboGotoTarget"));
                       chooser->setCurrentIndex(2); // the line of W5, at address 3
                       emit chooser->activated(2);
                       QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")),
                                         Qt::LeftButton);
                   })),
              press(inGrid, Qt::Key_Insert)),
         chosenCommand, "A10 chosen in X7 A10 W5 Q W7"},
        {"deletes that line with Delete", press(inGrid, Qt::Key_Delete), chosenCommand,
         "W5 chosen in X4 W5 Q W7"},
        {"undoes the delete with Ctrl+Z", press(window, Qt::Key_Z, Qt::ControlModifier),
         chosenCommand, "A10 chosen in X7 A10 W5 Q W7"},
        {"goes to the Motion tab with Ctrl+PgUp from the grid",
         press(inGrid, Qt::Key_PageUp, Qt::ControlModifier), shownTab, "Motion"},
        {"comes back with Ctrl+Tab from a button of the Motion tab",
         press(motionButton, Qt::Key_Tab, Qt::ControlModifier), shownTab, "Program"},
        {"adds with Alt+Insert while the tab bar has the focus",
         then(inEditor([&opened](QDialog* editor) {
                  opened = editor->windowTitle();
                  editor->reject();
              }),
              press(tabBar, Qt::Key_Insert, Qt::AltModifier)),
         [&opened] { return opened; }, "Add Command"},
        {"is back in the grid after the editor closed", [] {},
         [this] { return form->focusWidget() == grid() ? QStringLiteral("grid") : QString(); },
         "grid"},
        {"cancels a Change: the line stays chosen",
         then(inEditor([](QDialog* editor) { editor->reject(); }),
              press(inGrid, Qt::Key_Return)),
         chosenCommand, "A10 chosen in X7 A10 W5 Q W7"},
        {"presses Enter that reaches the grid as a key press, not as a shortcut (a window "
         "not active after a dialog)",
         then(inEditor([&opened](QDialog* editor) {
                  opened = editor->windowTitle();
                  editor->reject();
              }),
              [this] {
                  grid()->setFocus();
                  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                  QCoreApplication::sendEvent(grid(), &enter);
              }),
         [&opened] { return opened; }, "Change Command"},
        {"presses Insert on the tab bar with the Motion tab shown: nothing opens",
         then([this] { form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0); },
              then(inEditor([&opened](QDialog* editor) { opened = editor->windowTitle(); editor->reject(); }),
                   then([&opened] { opened = QStringLiteral("nothing"); },
                        press(tabBar, Qt::Key_Insert)))),
         [&opened] { return opened; }, "nothing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.does);
        row.act();
        EXPECT_EQ(row.shows(), row.mustShow);
    }
    EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join('|').toStdString();
}

TEST_F(DesktopWindowTest, TheStopMotionKeyStopsFromTheTerminalAndDuringASend) {
    startShown();
    EXPECT_EQ(form->findChild<QPushButton*>(QStringLiteral("cmdStopAll"))->text(),
              QStringLiteral("Stop Motion (F12)"));
    action("mnuTerminal")->trigger();
    auto* terminal = form->findChild<QPlainTextEdit*>(QStringLiteral("txtTerminal"));
    port.clearWrites();
    QTest::keyClick(terminal, Qt::Key_F12);
    EXPECT_EQ(port.written(), QByteArray("@0.\r"));
    EXPECT_TRUE(terminal->toPlainText().isEmpty());
    // From another window of the tool as well.
    click("cmdCalculator");
    auto* calculator = form->findChild<QWidget*>(QStringLiteral("frmCalculator"));
    ASSERT_NE(calculator, nullptr);
    calculator->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(calculator));
    port.clearWrites();
    QTest::keyClick(calculator, Qt::Key_F12);
    EXPECT_EQ(port.written(), QByteArray("@0.\r"));
    calculator->close();

    for (const auto& line : QVector<test::Line>{{"A10"}, {"N500\r@0G"}, {"W5"}, {"Q"}})
        ASSERT_TRUE(program::addLine(form->programTable(), form->programState(), messages,
                                     line.command, line.comment)
                        .ok);
    ASSERT_TRUE(form->RefreshListing());
    form->settingsTable().setPreferenceOn(files::SettingsTable::VerifySendPreference, false);
    form->settingsTable().setPreferenceOn(files::SettingsTable::BackupBeforeSendPreference, false);
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    port.clearWrites();
    const double start = clock.now();
    bool pressed = false;
    clock.addListener([&](double now) {
        if (pressed || now - start < 1.45)
            return;
        pressed = true;
        QTest::keyClick(form.get(), Qt::Key_F12);
    });
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(port.written(), QByteArray("\r@0E0\r@0A10\r@0N500\r@0G\r@0Q\r@0.\r@0E0\r@0Q\r"));
    EXPECT_FALSE(port.unit().inProgramEntry());
    EXPECT_EQ(messages.texts().last(), transfer::stoppedSendMessage(2));
}

TEST_F(DesktopWindowTest, RecentProgramsKeepTheLastEightAndDropAMissingOne) {
    start();
    QStringList opened;
    for (int i = 0; i < 9; ++i) {
        opened.prepend(file(QStringLiteral("p%1.mdb").arg(i)));
        test::WriteProgramFile(opened.first(), {{"Q"}});
        dialogs.choose(opened.first());
        click("cmdOpen");
    }
    EXPECT_EQ(recentMenu(), opened.mid(0, 8));
    // Choosing one opens it and brings it to the front, once.
    form->findChild<QMenu*>(QStringLiteral("mnuRecentPrograms"))->actions().at(3)->trigger();
    EXPECT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(opened.at(3)));
    EXPECT_EQ(recentMenu().first(), opened.at(3));
    EXPECT_EQ(recentMenu().size(), 8);
    EXPECT_EQ(recentMenu().count(opened.at(3)), 1);

    messages.clear();
    ASSERT_TRUE(QFile::remove(opened.at(5)));
    const int missing = static_cast<int>(recentMenu().indexOf(opened.at(5)));
    form->findChild<QMenu*>(QStringLiteral("mnuRecentPrograms"))->actions().at(missing)->trigger();
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("no longer there")));
    EXPECT_FALSE(recentMenu().contains(opened.at(5)));
    EXPECT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(opened.at(3)));
}

// The first start: as large as the Motion tab needs to show unscrolled, at
// most 90 % of the screen, centred; on any screen the window is whole on it.
TEST_F(DesktopWindowTest, TheFirstStartShowsTheMotionTabWholeWhereTheScreenAllows) {
    const struct {
        QSize wanted;
        QRect area;
        QRect place;
    } places[] = {
        {{900, 723}, {0, 0, 1920, 1080}, {510, 178, 900, 723}},
        {{900, 723}, {0, 0, 1024, 600}, {62, 30, 900, 540}},
        {{1200, 723}, {0, 24, 960, 516}, {48, 50, 864, 464}}, // 1920x1080 at 2x, a panel on top
    };
    for (const auto& p : places)
        EXPECT_EQ(platform::firstWindowPlace(p.wanted, p.area), p.place) << p.area.width();

    start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(form->geometry()));
    auto* fields = form->findChild<QWidget*>(QStringLiteral("MotionFields"));
    ASSERT_NE(fields, nullptr);
    // The window asks for the fields whole (and no less than its first
    // 900x640); where the screen has room, it has it.
    const QSize most = screen.size() * 9 / 10;
    const QSize wanted = form->sizeHint().expandedTo(QSize(900, 640)).boundedTo(most);
    EXPECT_GE(form->width(), wanted.width());
    EXPECT_GE(form->height(), wanted.height());
    EXPECT_LE(form->width(), std::max(most.width(), form->minimumWidth()));
    EXPECT_LE(form->height(), std::max(most.height(), form->minimumHeight()));
}

TEST_F(DesktopWindowTest, TheNextStartRestoresPlaceFolderTabAndRecentPrograms) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect place(screen.x() + 40, screen.y() + 30, 700, 500);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString program = file(QStringLiteral("sub/p.mdb"));
    test::WriteProgramFile(program, {{"Q"}});
    start();
    form->setGeometry(place);
    dialogs.choose(program);
    click("cmdOpen"); // shows the Program tab
    form->close();
    form.reset();

    start();
    EXPECT_EQ(form->geometry(), place);
    EXPECT_EQ(form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->currentIndex(), 1);
    EXPECT_EQ(recentMenu(), QStringList{program});
    click("cmdOpen");
    EXPECT_EQ(QDir::cleanPath(dialogs.lastDirectory), QDir::cleanPath(file("sub")));
    form->close();
    form.reset();

    // A place left on a screen that is gone comes back onto this one.
    {
        files::SettingsTable settings;
        ASSERT_TRUE(settings.open(file("config.kqm")));
        ASSERT_TRUE(settings.setPreference(ui::desktop::WindowGeometryPreference,
                                           QStringLiteral("9000,-7000,700,500,0")));
    }
    start();
    EXPECT_TRUE(screen.contains(form->geometry()));
    EXPECT_EQ(form->geometry().size(), place.size());
}

// Made as small as it goes, every control of the Motion and Program tabs
// keeps the size its text needs (the Motion tab's fields scroll), and Stop
// Motion stays whole, outside the scrolling. The grid's comments take a
// wider window's room.
TEST_F(DesktopWindowTest, ASmallWindowKeepsItsControlsWholeAndStopMotionInSight) {
    startShown();
    auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"));
    form->resize(500, 380);
    QCoreApplication::processEvents();
    EXPECT_GE(form->width(), 640);
    EXPECT_GE(form->height(), 480);
    for (int tab : {0, 1}) {
        tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        for (QWidget* control : tabs->currentWidget()->findChildren<QWidget*>()) {
            if (!control->isVisibleTo(form.get()) ||
                !(qobject_cast<QPushButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                  qobject_cast<QCheckBox*>(control)))
                continue;
            EXPECT_GE(control->width(), control->minimumSizeHint().width())
                << control->objectName().toStdString() << " at tab " << tab;
            EXPECT_GE(control->height(), control->minimumSizeHint().height())
                << control->objectName().toStdString() << " at tab " << tab;
        }
    }
    tabs->setCurrentIndex(0);
    QCoreApplication::processEvents();
    auto* stop = form->findChild<QPushButton*>(QStringLiteral("cmdStopAll"));
    const QRect stopPlace(stop->mapTo(form.get(), QPoint(0, 0)), stop->size());
    EXPECT_TRUE(form->rect().contains(stopPlace));
    EXPECT_GE(stop->height(), stop->minimumSizeHint().height());
    for (QWidget* up = stop->parentWidget(); up; up = up->parentWidget())
        EXPECT_EQ(qobject_cast<QScrollArea*>(up), nullptr) << "Stop Motion scrolls away";
    auto* fields = form->findChild<QScrollArea*>(QStringLiteral("scrMotion"));
    ASSERT_NE(fields, nullptr);
    EXPECT_LT(fields->viewport()->height(), fields->widget()->minimumSizeHint().height())
        << "at this size the fields should need the scrolling";
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty())
        form->grab().save(QDir(target).filePath(QStringLiteral("motion-tab-smallest.png")));

    tabs->setCurrentIndex(1);
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty())
        form->grab().save(QDir(target).filePath(QStringLiteral("program-tab-smallest.png")));
    test::WriteProgramFile(file("a.mdb"), {{"A10", "!", "a comment"}});
    dialogs.choose(file("a.mdb"));
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QHeaderView* header = grid()->horizontalHeader();
    const int narrow = header->sectionSize(4);
    form->resize(1200, 700);
    QCoreApplication::processEvents();
    EXPECT_GT(header->sectionSize(4), narrow + 300);
    EXPECT_EQ(header->sectionPosition(4) + header->sectionSize(4), header->viewport()->width());
}

// Escape closes every dialog of the window, modal or not.
TEST_F(DesktopWindowTest, EscapeClosesEveryDialog) {
    start();
    test::WriteProgramFile(file("a.mdb"), {{"A10"}, {"Q"}});
    dialogs.choose(file("a.mdb"));
    action("mnuOpenProgram")->trigger();
    // The settings dialog ends the connection: it comes after the unit's.
    const char* const opening[] = {"mnuSendProgram", "mnuViewProgram",       "mnuFindUnits",
                                   "mnuUnitBackups", "mnuKeyboardShortcuts", "mnuChangeLine",
                                   "mnuCommSettings"};
    QStringList closed;
    for (const char* name : opening) {
        QString shown;
        QTimer::singleShot(0, [&shown, &closed] {
            QDialog* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            for (QWidget* top : QApplication::topLevelWidgets())
                if (!dialog && top->isVisible() && qobject_cast<QDialog*>(top))
                    dialog = qobject_cast<QDialog*>(top);
            if (!dialog)
                return;
            shown = dialog->objectName();
            QTest::keyClick(dialog, Qt::Key_Escape);
            if (dialog->isVisible())
                dialog->reject(); // so that the test goes on
            else
                closed << shown;
        });
        action(name)->trigger();
        QCoreApplication::processEvents();
        EXPECT_FALSE(shown.isEmpty()) << name << " showed no dialog";
    }
    EXPECT_EQ(closed, (QStringList{"Form2", "frmView", "frmFindUnits", "frmUnitBackups",
                                   "dlgKeyboardShortcuts", "frmCommands", "frmCommSettings"}));
    EXPECT_TRUE(messages.boxes().isEmpty()) << messages.texts().join('|').toStdString();
}

// Print offers a PDF beside the program, under its name; for a program never
// saved, in the folder the file dialogs start in.
TEST_F(DesktopWindowTest, PrintOffersThePdfBesideTheProgram) {
    start();
    QDir(dir.path()).mkdir(QStringLiteral("line 3"));
    const QString program = dir.filePath(QStringLiteral("line 3/cutter.v2.mdb"));
    test::WriteProgramFile(program, {{"A10"}, {"Q"}});
    dialogs.choose(program);
    action("mnuOpenProgram")->trigger();
    action("mnuPrint")->trigger();
    EXPECT_EQ(printDialogs.suggested, dir.filePath(QStringLiteral("line 3/cutter.v2.pdf")));

    action("mnuNewProgram")->trigger();
    messages.clear();
    ASSERT_TRUE(program::addLine(form->programTable(), form->programState(), messages,
                                 QStringLiteral("Q"), QString())
                    .ok);
    action("mnuPrint")->trigger();
    EXPECT_EQ(QFileInfo(printDialogs.suggested).fileName(), QStringLiteral("program.pdf"));
    EXPECT_EQ(QFileInfo(printDialogs.suggested).absolutePath(), QFileInfo(program).absolutePath())
        << "the folder the last file was chosen in";
}

TEST_F(DesktopWindowTest, HelpListsEveryShortcutAndTheButtonsNameTheirFrames) {
    start();
    // An edit gives Undo a text that names its step; the list names it as it is.
    ASSERT_TRUE(program::addLine(form->programTable(), form->programState(), messages,
                                 QStringLiteral("Q"), QString())
                    .ok);
    form->RefreshListing();
    action("mnuKeyboardShortcuts")->trigger();
    auto* table = form->findChild<QTableWidget*>(QStringLiteral("tblShortcuts"));
    ASSERT_NE(table, nullptr);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        rows << table->item(row, 0)->text() + QStringLiteral(": ") + table->item(row, 1)->text();
    EXPECT_TRUE(rows.contains(QStringLiteral("Unit > Stop Motion: F12")));
    EXPECT_TRUE(rows.contains(QStringLiteral("File > Open Program: Ctrl+O")));
    EXPECT_TRUE(rows.contains(QStringLiteral("Edit > Change Line: Return, Enter")));
    int withKeys = 0;
    for (const QAction* each : form->findChildren<QAction*>())
        withKeys += each->shortcuts().isEmpty() ? 0 : 1;
    // No key missing from the list, and Escape besides.
    EXPECT_EQ(table->rowCount(), withKeys + 1);
    EXPECT_EQ(rows.last(), QStringLiteral("Close a dialog, a box or the calculator: Esc"));
    EXPECT_TRUE(rows.contains(QStringLiteral("Next Tab: Ctrl+Tab, Ctrl+PgDown")));
    // In menu order, each by its own name.
    const qsizetype saveAs = rows.indexOf(QStringLiteral("File > Save Program As: Ctrl+Shift+S"));
    ASSERT_GE(saveAs, 0);
    EXPECT_EQ(rows.value(saveAs + 1),
              QStringLiteral("Save (every change is written at once): Ctrl+S"));
    EXPECT_TRUE(rows.contains(QStringLiteral("Previous Tab: Ctrl+Shift+Tab, Ctrl+PgUp")));
    EXPECT_TRUE(rows.contains(QStringLiteral("Edit > Undo: Ctrl+Z"))) << rows.join('\n').toStdString();
    // Every menu item has a mnemonic of its own within its menu.
    for (const QMenu* menu : form->menuBar()->findChildren<QMenu*>()) {
        QSet<QChar> letters;
        for (const QAction* item : menu->actions()) {
            if (item->isSeparator() || item->text().isEmpty() ||
                item->objectName().startsWith(QLatin1String("mnuRecent")) ||
                item->objectName().startsWith(QLatin1String("mnuAxisNum")))
                continue;
            const qsizetype at = QString(item->text()).remove(QStringLiteral("&&")).indexOf('&');
            EXPECT_GE(at, 0) << item->text().toStdString() << " has no mnemonic";
            if (at < 0)
                continue;
            const QChar letter = QString(item->text()).remove(QStringLiteral("&&")).at(at + 1).toLower();
            EXPECT_FALSE(letters.contains(letter))
                << item->text().toStdString() << " shares its mnemonic in "
                << menu->title().toStdString();
            letters.insert(letter);
        }
    }

    action("mnuAbout")->trigger();
    ASSERT_EQ(messages.texts().size(), 1);
    for (const QString& part :
         {QStringLiteral(KQM_VERSION), QStringLiteral("MIT"), QString::fromLatin1(qVersion()),
          QDir::toNativeSeparators(dir.path())})
        EXPECT_TRUE(messages.texts().first().contains(part)) << part.toStdString();

    action("mnuAxisNum(3)")->trigger();
    for (const char* tab : {"MotionTab", "ProgramTab"}) {
        for (const QPushButton* push :
             form->findChild<QWidget*>(QString::fromLatin1(tab))->findChildren<QPushButton*>())
            EXPECT_FALSE(push->toolTip().isEmpty()) << push->objectName().toStdString();
    }
    EXPECT_TRUE(form->findChild<QPushButton*>(QStringLiteral("cmdSendGo"))
                    ->toolTip()
                    .contains(QStringLiteral("@3N<steps> then @3G")));
    EXPECT_TRUE(form->findChild<QPushButton*>(QStringLiteral("cmdRun"))
                    ->toolTip()
                    .contains(QStringLiteral("@3R0")));
}

} // namespace
