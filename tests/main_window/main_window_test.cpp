#include "files/program_files.h"
#include "files/settings_table.h"
#include "link/device_port.h"
#include "link/qt_serial_port.h"
#include "main_window/main_window.h"
#include "main_window/opening_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

class MainWindowTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // COM 1 stands for the simulated unit; COM 2 for a device that is not there.
        QString error;
        ASSERT_TRUE(files::SettingsTable::createDefaultFile(settingsPath(), &error));
        files::SettingsTable settings;
        ASSERT_TRUE(settings.open(settingsPath()));
        settings.setPortDevice(1, link::SimulatedDevice);
        settings.setPortDevice(2, dir.filePath(QStringLiteral("no-such-tty")));
        settings.setPortDevice(3, QString());
        settings.setPortDevice(4, QString());
    }

    QString settingsPath() const { return dir.filePath(QStringLiteral("config.kqm")); }

    void setRecord(int record, const QString& value) {
        files::SettingsTable settings;
        ASSERT_TRUE(settings.open(settingsPath()));
        ASSERT_TRUE(settings.setRecord(record, value));
    }

    std::unique_ptr<ui::Form1> load() {
        auto form = makeWindow(clock, port);
        form->Form_Load();
        return form;
    }

    QString flag() {
        files::SettingsTable settings;
        return settings.open(dir.filePath(QStringLiteral("config.kqm")))
                   ? settings.record(files::SettingsTable::CleanExit).value_or(QString())
                   : QString();
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort* simulated = nullptr;
    link::DevicePort port{link::settingsFileResolver(dir.filePath(QStringLiteral("config.kqm"))),
                          [this](const QString& device) -> std::unique_ptr<platform::SerialPort> {
                              if (device != link::SimulatedDevice)
                                  return std::make_unique<link::QtSerialPort>(device);
                              auto unit = std::make_unique<simulator::SimulatedPort>(clock);
                              simulated = unit.get();
                              return unit;
                          }};
    test::FakeFileDialogs& fileDialogs = dialogs;
    ui::Services services = servicesWith(clock, port);
};

TEST_F(MainWindowTest, ComesUpWithEveryNamedControl) {
    auto form = load();
    EXPECT_EQ(
        form->windowTitle(),
        QStringLiteral(
            "Untitled - QUORVEX MOTION - KQM20/KQM21 WIN Programmable Indexer - Version 1.65"));

    auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"));
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 4);
    const QStringList captions = {"Motion", "Program", "Terminal", "Debug"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tabs->tabText(i), captions.at(i));
    EXPECT_TRUE(tabs->isTabEnabled(0));
    EXPECT_TRUE(tabs->isTabEnabled(1));
    EXPECT_FALSE(tabs->isTabEnabled(2));
    EXPECT_FALSE(tabs->isTabEnabled(3));

    for (const char* name : {"cmdConnect",
                             "cmdOpen",
                             "cmdSave",
                             "cmdPrint",
                             "cmdCalculator",
                             "cmdExit",
                             "SSCommand1",
                             "cmdAdd",
                             "cmdChange",
                             "cmdInsert",
                             "cmdDelete",
                             "cmdSend",
                             "cmdUpload",
                             "cmdView",
                             "cmdRun",
                             "cmdStop",
                             "cmdEnableAutostart",
                             "cmdDisableAutostart",
                             "cmdClear",
                             "cmdDebugClear",
                             "cmdSendAccel",
                             "cmdSendBase",
                             "cmdSendMax",
                             "cmdJogSpeed",
                             "cmdAbsolutePosition",
                             "cmdDirPlus",
                             "cmdDirMinus",
                             "cmdSendGo",
                             "cmdAbsoluteMove",
                             "Command1",
                             "cmdHomeType0",
                             "cmdHomeType1",
                             "cmdStopAll",
                             "cmdVerifyParameters"})
        EXPECT_NE(form->findChild<QPushButton*>(QString::fromLatin1(name)), nullptr) << name;
    for (const char* name :
         {"lblConnected", "lblBytesUsed", "lblCurrentCommand", "lblCurrentFile", "lblJogSpeed",
          "lblDirection", "lblError", "lblVerifyInfo(0)", "lblVerifyInfo(2)", "lblVerifyInfo(3)",
          "lblVerifyInfo(6)", "lblVerifyInfo(7)", "lblVerifyInfo(8)"})
        EXPECT_NE(form->findChild<QLabel*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblVerifyInfo(1)")), nullptr);
    for (const char* name :
         {"chkOutput1", "chkOutput2", "chkInput1", "chkInput2", "chkInput3", "chkInput4"})
        EXPECT_NE(form->findChild<QCheckBox*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(form->findChild<QLineEdit*>(QStringLiteral("txtSendRel"))->text(), "400");
    EXPECT_EQ(form->findChild<QLineEdit*>(QStringLiteral("txtSendMax"))->text(), "1500");

    const std::pair<const char*, const char*> menuItems[] = {
        {"mnuNewProgram", "&New Program"},
        {"mnuOpenProgram", "&Open Program..."},
        {"mnuSaveProgramAs", "Save Program &As..."},
        {"mnuPrint", "&Print..."},
        {"mnuExit", "E&xit"},
        {"mnuConnect", "&Connect"},
        {"mnuCommSettings", "Communication &Settings..."},
        {"mnuAxisNum(0)", "Axis 0"},
        {"mnuAxisNum(31)", "Axis 31"},
        {"mnuAutostartOnOff(0)", "&Disable"},
        {"mnuAutostartOnOff(1)", "&Enable"},
    };
    for (const auto& [name, text] : menuItems) {
        auto* action = form->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->text(), QString::fromLatin1(text));
    }
    EXPECT_EQ(form->findChild<QMenu*>(QStringLiteral("mnuAxis"))->title(), "&Axis");
    EXPECT_EQ(form->findChild<QMenu*>(QStringLiteral("mnuAutostartProgram"))->title(),
              "Autostart &Program");

    auto* file = form->findChild<QLabel*>(QStringLiteral("lblCurrentFile"));
    EXPECT_EQ(file->text(), QDir::toNativeSeparators(dir.filePath(QStringLiteral("temp.mdb"))));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblBytesUsed"))->text(), QString());
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(flag(), QStringLiteral("0"));
}

TEST_F(MainWindowTest, GridShowsAddressTextAndCommentAtTheirWidths) {
    auto form = load();
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(grid->isColumnHidden(0));
    EXPECT_TRUE(grid->isColumnHidden(2));
    const int dpi = grid->logicalDpiX();
    // Address: its width, or its header's where that is wider.
    EXPECT_EQ(grid->columnWidth(1),
              std::max(800 * dpi / 1440, grid->horizontalHeader()->sectionSizeHint(1)));
    EXPECT_EQ(grid->columnWidth(3), 3500 * dpi / 1440);
    // The comments take at least their width, and the window's room beyond.
    EXPECT_GE(grid->columnWidth(4), 4000 * dpi / 1440);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainWindowTest, RecoveredProgramIsListedAndCloseRecordsCleanExit) {
    load()->close(); // first run, ends cleanly
    EXPECT_EQ(flag(), QStringLiteral("1"));
    {
        // The run ends without unloading (killed) with a program in the working copy.
        auto form = load();
        test::WriteProgramFile(dir.filePath(QStringLiteral("temp.mdb")),
                               {{"A10"}, {QStringLiteral("N500\r@0G")}, {"Q", "!", "done"}});
    }
    messages.clear();
    auto form = load();
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).text, files::RecoveryMessage);
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    ASSERT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(grid->model()->index(1, 1).data().toInt(), 3);
    EXPECT_EQ(grid->model()->index(1, 3).data().toString(), QStringLiteral("Go relative 500"));
    EXPECT_EQ(grid->model()->index(2, 4).data().toString(), QStringLiteral("done"));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblBytesUsed"))->text(),
              QStringLiteral("Memory: 12 of 2047 bytes used."));
    EXPECT_EQ(form->programState().ProgramSize, 12);
    EXPECT_EQ(flag(), QStringLiteral("0"));

    // The recovered program is unsaved: closing asks first; No closes.
    messages.clear();
    messages.answerNext(platform::MessageAnswer::No);
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdExit")), Qt::LeftButton);
    EXPECT_EQ(messages.texts(), QStringList{files::UnsavedNewWarning});
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(flag(), QStringLiteral("1"));
}

TEST_F(MainWindowTest, SplashLoadsAndShowsTheMainWindow) {
    ui::Opening splash;
    EXPECT_EQ(ui::Opening::titleLine(),
              QStringLiteral("Programmable Indexer - KQM20/KQM21 Program   Version 1.65"));
    auto mainWindow = makeWindow(clock, port);
    ui::startUp(splash, *mainWindow);
    EXPECT_TRUE(mainWindow->isVisible());
    EXPECT_FALSE(splash.isVisible());
    mainWindow->close();
}

TEST_F(MainWindowTest, ConnectsAtStartUpToTheSimulatedUnit) {
    auto form = load();
    auto* label = form->findChild<QLabel*>(QStringLiteral("lblConnected"));
    EXPECT_EQ(label->text(),
              QStringLiteral("The Unit is Connected (simulated unit, KQM20 on axis 0, COM 1)"));
    EXPECT_TRUE(label->styleSheet().contains(QStringLiteral("rgb(0, 0, 255)")));
    EXPECT_TRUE(form->linkState().UnitConnected);
    ASSERT_NE(simulated, nullptr);
    // Identification, then the readout because the Motion tab shows.
    EXPECT_EQ(simulated->written(), QByteArray("\r@0.\r@0!\r@0$\r@0VA\r@0VB\r@0VM\r@0VJ\r@0V+\r"
                                               "@0VN\r@0!\r@0VZ\r@0$\r@0I\r"));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblVerifyInfo(0)"))->text(),
              QStringLiteral("Acceleration: 16\r"));
    EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("mnuAxisNum(0)"))->isChecked());
    EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(MainWindowTest, StartsOfflineWhenTheDeviceIsMissing) {
    setRecord(files::SettingsTable::ComPort, QStringLiteral("2"));
    auto form = load();
    auto* label = form->findChild<QLabel*>(QStringLiteral("lblConnected"));
    EXPECT_EQ(label->text(), QStringLiteral("The Unit is NOT Connected"));
    EXPECT_TRUE(label->styleSheet().contains(QStringLiteral("rgb(255, 0, 0)")));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(messages.boxes().isEmpty()); // start-up says nothing of its own

    // The connect button says what went wrong.
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdConnect")), Qt::LeftButton);
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_TRUE(messages.boxes().at(0).text.startsWith(QStringLiteral("Error Opening Com Port2")));
    EXPECT_EQ(messages.boxes().at(1).text, link::didNotConnectMessage());
}

TEST_F(MainWindowTest, Kqm21ChangesTheMotionPanel) {
    // The unit is made on first open: choose its model before start-up connects.
    auto form = makeWindow(clock, port);
    auto* move = form->findChild<QPushButton*>(QStringLiteral("cmdAbsoluteMove"));
    EXPECT_EQ(move->text(), QStringLiteral("Move to Position"));
    form->Form_Load();
    ASSERT_NE(simulated, nullptr);
    simulated->unit().setModel(QStringLiteral("KQM21"));
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdConnect")), Qt::LeftButton);
    EXPECT_EQ(form->linkState().UnitModel, QStringLiteral("KQM21"));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblConnected"))->text(),
              QStringLiteral("The Unit is Connected (simulated unit, KQM21 on axis 0, COM 1)"));
    EXPECT_EQ(move->text(), QStringLiteral("Registration Mark Index"));
    EXPECT_TRUE(form->findChild<QPushButton*>(QStringLiteral("cmdAbsolutePosition"))->isHidden());
    EXPECT_TRUE(form->findChild<QLineEdit*>(QStringLiteral("txtSendAbsolute"))->isHidden());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(MainWindowTest, AxisMenuStoresTheAddressAndDisconnects) {
    auto form = load();
    ASSERT_TRUE(form->linkState().UnitConnected);
    form->findChild<QAction*>(QStringLiteral("mnuAxisNum(12)"))->trigger();
    EXPECT_EQ(form->linkState().AxisAddress, QStringLiteral("12"));
    EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("mnuAxisNum(12)"))->isChecked());
    EXPECT_FALSE(form->findChild<QAction*>(QStringLiteral("mnuAxisNum(0)"))->isChecked());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblConnected"))->text(),
              QStringLiteral("The Unit is NOT Connected"));
    files::SettingsTable settings;
    ASSERT_TRUE(settings.open(settingsPath()));
    EXPECT_EQ(settings.record(files::SettingsTable::Axis), QStringLiteral("12"));
}

TEST_F(MainWindowTest, TerminalSendsKeysAndDebugTabUnlocks) {
    auto form = load();
    auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"));
    form->findChild<QAction*>(QStringLiteral("mnuTerminal"))->trigger();
    EXPECT_TRUE(tabs->isTabEnabled(2));
    EXPECT_EQ(tabs->currentIndex(), 2);

    auto* terminal = form->findChild<QPlainTextEdit*>(QStringLiteral("txtTerminal"));
    simulated->clearWrites();
    QTest::keyClicks(terminal, QStringLiteral("@0$"));
    QTest::keyClick(terminal, Qt::Key_Return);
    EXPECT_EQ(simulated->written(), QByteArray("@0$\r"));
    EXPECT_TRUE(terminal->toPlainText().startsWith(QStringLiteral("@0$")));
    EXPECT_EQ(simulated->unit().frames().last(), QByteArray("@0$"));

    terminal->setPlainText(QString(5001, QLatin1Char('x')));
    QTest::keyClick(terminal, Qt::Key_A);
    EXPECT_EQ(terminal->toPlainText().size(), 1003);
    EXPECT_TRUE(terminal->toPlainText().endsWith(QLatin1Char('a')));

    // Clicks on the tab control while the terminal shows unlock the debug tab.
    QTabBar* bar = tabs->tabBar();
    const QPoint onTerminal = bar->tabRect(2).center();
    for (int i = 0; i <= link::LinkState::DebugModeOn; ++i)
        QTest::mouseClick(bar, Qt::LeftButton, {}, onTerminal);
    EXPECT_TRUE(tabs->isTabEnabled(3));
    EXPECT_TRUE(form->linkState().debugEchoOn());

    auto* debug = form->findChild<QPlainTextEdit*>(QStringLiteral("txtDebug"));
    QTest::keyClick(terminal, Qt::Key_Q);
    EXPECT_EQ(debug->toPlainText(), QStringLiteral("q"));
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdDebugClear")),
                      Qt::LeftButton);
    EXPECT_TRUE(debug->toPlainText().isEmpty());
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdClear")), Qt::LeftButton);
    EXPECT_TRUE(terminal->toPlainText().isEmpty());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(MainWindowTest, TerminalKeyWithThePortClosedExplains) {
    setRecord(files::SettingsTable::ComPort, QStringLiteral("3"));
    auto form = load();
    form->findChild<QAction*>(QStringLiteral("mnuTerminal"))->trigger();
    auto* terminal = form->findChild<QPlainTextEdit*>(QStringLiteral("txtTerminal"));
    QTest::keyClick(terminal, Qt::Key_A);
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(
        messages.boxes().at(0).text.startsWith(QStringLiteral("The Com Port is not Open!")));
    EXPECT_EQ(terminal->toPlainText(), QStringLiteral("a"));
}

TEST_F(MainWindowTest, ClosingDuringAnExchangeEndsItFirst) {
    auto form = load();
    form->show();
    bool closeAsked = false;
    clock.addListener([&](double) {
        if (form->deviceLink().exchanges().isBusy() && !closeAsked) {
            closeAsked = true;
            EXPECT_FALSE(form->close()); // refused while the exchange runs
        }
    });
    const double before = clock.now();
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("cmdConnect")), Qt::LeftButton);
    EXPECT_TRUE(closeAsked);
    EXPECT_LT(clock.now() - before, 1.0); // the identification stopped early
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(flag(), QStringLiteral("1"));
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(MainWindowTest, TheMotionTabFollowsThePositionWhileTheMotorMoves) {
    form = load();
    auto* moving = form->findChild<QLabel*>(QStringLiteral("lblMoving"));
    ASSERT_NE(moving, nullptr);
    EXPECT_TRUE(moving->text().isEmpty());
    const auto position = [this] {
        const QString text = labelText("lblVerifyInfo(7)");
        EXPECT_TRUE(text.startsWith(QStringLiteral("Position: "))) << text.toStdString();
        return text.mid(10).trimmed().toLongLong();
    };
    click("Command1"); // Slew
    EXPECT_EQ(moving->text(), QStringLiteral("Moving"));
    clock.advance(1.5);
    const qint64 first = position();
    EXPECT_GT(first, 0);

    // A click in the middle of a position query runs at once; then the
    // following goes on.
    bool clicked = false;
    clock.addListener([&](double) {
        if (!clicked && form->deviceLink().background().running()) {
            clicked = true;
            click("cmdVerifyParameters");
        }
    });
    clock.advance(1.0);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(labelText("lblVerifyInfo(0)"), QStringLiteral("Acceleration: 16\r"));
    clock.advance(1.0);
    EXPECT_GT(position(), first);
    EXPECT_EQ(moving->text(), QStringLiteral("Moving"));

    click("cmdStopAll");
    clock.advance(2.0);
    EXPECT_TRUE(moving->text().isEmpty());
    const qsizetype asked = simulated->written().count("VZ");
    clock.advance(3.0);
    EXPECT_EQ(simulated->written().count("VZ"), asked);

    // Closing the window ends the following.
    click("cmdHomeType0");
    EXPECT_EQ(moving->text(), QStringLiteral("Moving"));
    form->close();
    EXPECT_TRUE(moving->text().isEmpty());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

// Answers the next modal command editor: the driver fills it in and presses a button.
void answerEditor(std::function<void(QDialog*)> driver) {
    test::AnswerModal([driver = std::move(driver)](QDialog* editor) {
        ASSERT_NE(editor, nullptr);
        driver(editor);
    });
}

void choose(QDialog* editor, const char* option, const char* box = nullptr,
            const QString& text = QString()) {
    auto* button = editor->findChild<QRadioButton*>(QString::fromLatin1(option));
    ASSERT_NE(button, nullptr) << option;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    if (box)
        editor->findChild<QLineEdit*>(QString::fromLatin1(box))->setText(text);
}

void press(QDialog* editor, const char* name) {
    QTest::mouseClick(editor->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

TEST_F(MainWindowTest, EditingThroughTheProgramTab) {
    auto form = load();
    const int cursorBefore = cursor.timesShown(); // the start-up readout shows it too
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    const auto listing = [grid](int row) {
        return grid->model()->index(row, 3).data().toString();
    };
    const auto click = [&form](const char* name) {
        QTest::mouseClick(form->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    };

    answerEditor([](QDialog* editor) {
        EXPECT_EQ(editor->windowTitle(), QStringLiteral("Add Command"));
        choose(editor, "optAcceleration", "txtAcceleration", QStringLiteral("100"));
        press(editor, "btnOK");
    });
    click("cmdAdd");
    ASSERT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(listing(0), QStringLiteral("Accel/Decel=100"));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblBytesUsed"))->text(),
              QStringLiteral("Memory: 3 of 2047 bytes used."));

    answerEditor([](QDialog* editor) {
        choose(editor, "optStop");
        press(editor, "btnOK");
    });
    click("cmdAdd");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    // The added line is the place now.
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 1);

    // Insert needs a selected line.
    grid->clearSelection();
    click("cmdInsert");
    EXPECT_EQ(messages.texts(), QStringList{"Please select a location to insert a new line."});
    messages.clear();
    grid->selectRow(1);
    answerEditor([](QDialog* editor) {
        EXPECT_EQ(editor->windowTitle(), QStringLiteral("Insert Command"));
        editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
        choose(editor, "optWait", "txtWait", QStringLiteral("10"));
        press(editor, "btnOK");
    });
    click("cmdInsert");
    ASSERT_EQ(grid->model()->rowCount(), 3);
    EXPECT_EQ(listing(1), QStringLiteral("Wait 10"));
    EXPECT_EQ(listing(2), QStringLiteral("Stop Motion"));
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 2);
    EXPECT_EQ(cursor.depth(), 0);
    EXPECT_EQ(cursor.timesShown() - cursorBefore, 1);

    // Change opens on the line's command; Cancel leaves it as it was.
    grid->selectRow(1);
    answerEditor([](QDialog* editor) {
        EXPECT_EQ(editor->windowTitle(), QStringLiteral("Change Command"));
        EXPECT_TRUE(editor->findChild<QRadioButton*>(QStringLiteral("optWait"))->isChecked());
        EXPECT_EQ(editor->findChild<QLineEdit*>(QStringLiteral("txtWait"))->text(), "10");
        press(editor, "btnCancel");
    });
    click("cmdChange");
    EXPECT_EQ(listing(1), QStringLiteral("Wait 10"));
    // The line stays chosen: the next Change opens on it, with no word.
    ASSERT_FALSE(grid->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 1);
    answerEditor([](QDialog* editor) {
        editor->findChild<QLineEdit*>(QStringLiteral("txtWait"))->setText(QStringLiteral("20"));
        editor->findChild<QLineEdit*>(QStringLiteral("txtComment(2)"))->setText("pause");
        press(editor, "btnOK");
    });
    click("cmdChange");
    EXPECT_EQ(listing(1), QStringLiteral("Wait 20"));
    EXPECT_EQ(grid->model()->index(1, 4).data().toString(), QStringLiteral("pause"));

    grid->selectRow(2);
    click("cmdDelete");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 1);
    EXPECT_EQ(cursor.depth(), 0);
    EXPECT_TRUE(messages.boxes().isEmpty());

    // The edits are in the working copy on disk.
    const auto rows = test::ReadProgramFile(dir.filePath(QStringLiteral("temp.mdb")));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].command, QStringLiteral("W20"));
}

TEST_F(MainWindowTest, EditingPreconditionsOnAnEmptyProgram) {
    auto form = load();
    for (const char* name : {"cmdInsert", "cmdChange", "cmdDelete"})
        QTest::mouseClick(form->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    EXPECT_EQ(messages.texts(),
              (QStringList{"Use Add command to insert a command into an empty program",
                           "Cannot change empty program", "Cannot delete empty program"}));
    for (const auto& box : messages.boxes())
        EXPECT_EQ(box.icon, platform::MessageIcon::Warning);
}

// On a large screen the Motion tab's buttons keep a button's width (Stop
// Motion spans the tab), and the grid's headers are whole.
TEST_F(MainWindowTest, SizesHoldOnALargeScreen) {
    auto form = load();
    form->resize(1920, 1080);
    form->show();
    form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0);
    QCoreApplication::processEvents();
    for (const char* name : {"cmdSendGo", "cmdHomeType1", "cmdVerifyParameters", "Command1"}) {
        auto* push = form->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_LT(push->width(), 400) << name;
        EXPECT_GE(push->width(), push->sizeHint().width()) << name;
    }
    EXPECT_GT(form->findChild<QPushButton*>(QStringLiteral("cmdStopAll"))->width(), 1000);
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    for (int column = 0; column < 5; ++column) {
        if (grid->isColumnHidden(column))
            continue;
        EXPECT_GE(grid->columnWidth(column), grid->horizontalHeader()->sectionSizeHint(column))
            << column;
    }
}

} // namespace
