#include "files/settings_table.h"
#include "main_window/main_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/test_form.h"
#include "support/window_fixture.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "transfer/transfer_log.h"
#include "transfer/upload.h"
#include "transfer/view.h"
#include "transfer/view_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

// The main window connected to the simulated unit on the virtual clock.
class TransferWindowTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = makeWindow(clock, port);
        form->Form_Load(); // connects to the simulated unit
        ASSERT_TRUE(form->linkState().UnitConnected);
        // The plain send; the read-back and the backup have tests of their own.
        sendOptions(false, false);
        port.clearWrites();
        messages.clear();
    }
    void sendOptions(bool verify, bool backup) {
        files::SettingsTable& settings = form->settingsTable();
        ASSERT_TRUE(settings.setPreferenceOn(files::SettingsTable::VerifySendPreference, verify));
        ASSERT_TRUE(
            settings.setPreferenceOn(files::SettingsTable::BackupBeforeSendPreference, backup));
    }
    void program(const QVector<test::Line>& lines) {
        for (const auto& line : lines)
            ASSERT_TRUE(program::addLine(form->programTable(), form->programState(), messages,
                                         line.command, line.comment)
                            .ok);
        ASSERT_TRUE(form->RefreshListing());
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
};

TEST_F(TransferWindowTest, SendListsTheFramesAndSendsOnOk) {
    program({{"A10"}, {"N500\r@0G"}, {"Q"}});
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Send Program"));
    EXPECT_TRUE(dialog->isModal());
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("List1"));
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("@0N500"));
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("@0G"));
    // While it is open there is no second one, and the axis it is aimed at stays.
    form->findChild<QAction*>(QStringLiteral("mnuSendProgram"))->trigger();
    EXPECT_EQ(form->findChildren<transfer::Form2*>().size(), 1);
    form->findChild<QAction*>(QStringLiteral("mnuAxisNum(3)"))->trigger();
    EXPECT_EQ(form->linkState().AxisAddress, QStringLiteral("0"));
    EXPECT_TRUE(form->linkState().UnitConnected);
    ASSERT_EQ(messages.boxes().size(), 1);
    messages.clear();

    QStringList progress;
    QStringList lines;
    auto* current = form->findChild<QLabel*>(QStringLiteral("lblCurrentCommand"));
    auto* line = form->findChild<QLabel*>(QStringLiteral("lblSendLine"));
    clock.addListener([&](double) {
        if (progress.isEmpty() || progress.last() != current->text())
            progress << current->text();
        if (lines.isEmpty() || lines.last() != line->text())
            lines << line->text();
    });
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_EQ(port.written(), QByteArray("\r@0E0\r@0A10\r@0N500\r@0G\r@0Q\r"));
    EXPECT_EQ(progress.first(), QStringLiteral("Sending: \r"));
    EXPECT_TRUE(progress.contains(QStringLiteral("Sending: E")));
    EXPECT_EQ(current->text(), QString());
    // Beside it, the line of how many: each in turn, gone at the end.
    lines.removeAll(QString());
    EXPECT_EQ(lines, (QStringList{"line 1 of 3", "line 2 of 3", "line 3 of 3"}));
    EXPECT_EQ(line->text(), QString());
    EXPECT_EQ(cursor.depth(), 0);
    EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
    EXPECT_EQ(port.unit().program().size(), 3);
    EXPECT_TRUE(messages.boxes().isEmpty());
    // The progress is over: the label tells of the program again.
    EXPECT_EQ(labelText("lblBytesUsed"), QStringLiteral("Memory: 12 of 2047 bytes used."));
}

// The file changes while the send dialog is open: OK sends nothing, says so,
// and the dialog lists the lines as the file holds them now; OK then sends
// those.
TEST_F(TransferWindowTest, AProgramChangedWhileTheSendIsOpenIsShownAgain) {
    program({{"A10"}, {"N500\r@0G"}, {"Q"}});
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    const auto counted = [dialog] {
        const QString pace = dialog->findChild<QLabel*>(QStringLiteral("lblPace"))->text();
        const qsizetype at = pace.indexOf(QStringLiteral(" for "));
        return pace.mid(at + 5).section(QLatin1Char(' '), 0, 0).toInt();
    };
    const int before = counted();
    ASSERT_GT(before, 0);
    ASSERT_TRUE(program::changeLine(form->programTable(), form->programState(), messages, 0,
                                    QStringLiteral("A200"), QString())
                    .ok);
    messages.clear();
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_EQ(port.unit().program().size(), 0);
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("nothing was sent")));
    ASSERT_EQ(form->findChild<transfer::Form2*>(), dialog);
    EXPECT_EQ(dialog->findChild<QListWidget*>(QStringLiteral("List1"))->item(0)->text(),
              QStringLiteral("@0A200"));
    // The pace line counts the characters of the program listed now.
    EXPECT_EQ(counted(), before + 1);
    messages.clear();
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    ASSERT_EQ(port.unit().program().size(), 3);
    EXPECT_EQ(port.unit().program().first().operands.value(0), 200);
}

TEST_F(TransferWindowTest, SendRefusals) {
    click("cmdSend");
    EXPECT_EQ(messages.texts(), QStringList{"The program is empty."});
    program({{"A10"}, {"W10"}});
    messages.clear();
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_EQ(messages.texts(), QStringList{transfer::QuitRequiredMessage});
    EXPECT_TRUE(port.written().isEmpty());

    form->deviceLink().disconnectUnit();
    messages.clear();
    for (const char* button : {"cmdSend", "cmdUpload", "cmdView"})
        click(button);
    EXPECT_EQ(messages.boxes().size(), 3);
    EXPECT_TRUE(messages.boxes().at(0).text.startsWith("The KQM20 unit is not connected!"));
}

TEST_F(TransferWindowTest, UploadReplacesTheProgramAfterAsking) {
    port.unit().receive("@0E0\r@0A100\r@0W5\r@0&3_2\r@0Q\r");
    program({{"B600"}});
    messages.answerNext(platform::MessageAnswer::Cancel);
    click("cmdUpload");
    EXPECT_EQ(messages.texts(), QStringList{transfer::ReplaceWarning});
    EXPECT_EQ(gridColumn(3), QStringList{"Base Speed=600"});

    messages.clear();
    click("cmdUpload");
    ASSERT_EQ(messages.boxes().size(), 1); // the replacement question
    EXPECT_EQ(gridColumn(2), (QStringList{"A100", "W5", "&2,2", "Q"}));
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    EXPECT_FALSE(grid->isColumnHidden(0));
    EXPECT_TRUE(grid->isColumnHidden(3));
    EXPECT_TRUE(grid->isColumnHidden(4));
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 0);
    // The upload is over: the label tells of the program it left.
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblBytesUsed"))->text(),
              QStringLiteral("Memory: 15 of 2047 bytes used."));
    EXPECT_EQ(form->programState().ProgramSize, 15);
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblCurrentFile"))->text(),
              QDir::toNativeSeparators(dir.filePath("temp.mdb")));
    const auto stored = test::ReadProgramFile(dir.filePath("temp.mdb"));
    ASSERT_EQ(stored.size(), 4);
    EXPECT_EQ(stored[2].listing, QStringLiteral("Loop 2 Times to Line 2"));
    EXPECT_EQ(cursor.depth(), 0);
    // The upload is one step: undo gives back the program it replaced.
    form->findChild<QAction*>(QStringLiteral("mnuUndo"))->trigger();
    EXPECT_EQ(gridColumn(2), QStringList{"B600"});

    // From a named file, the upload goes into the working copy, and the
    // transfer log names the working copy, not the file it did not touch.
    test::WriteProgramFile(dir.filePath("named.mdb"), {{"B700"}, {"Q"}});
    dialogs.choose(dir.filePath("named.mdb"));
    form->findChild<QAction*>(QStringLiteral("mnuOpenProgram"))->trigger();
    messages.answerNext(platform::MessageAnswer::Ok);
    click("cmdUpload");
    const auto logged =
        transfer::readTransferLog(transfer::transferLogPath(paths.userDataDirectory()));
    ASSERT_FALSE(logged.isEmpty());
    EXPECT_EQ(logged.last().kind, "upload");
    EXPECT_EQ(logged.last().result, "uploaded");
    EXPECT_EQ(QFileInfo(logged.last().program).fileName(), "temp.mdb");
    EXPECT_EQ(test::ReadProgramFile(dir.filePath("named.mdb")).size(), 2);
}

// During an upload's waits nothing may change the program or rebind the
// file: the upload writes only into the file it started with, and choosing
// the Motion tab meanwhile shows no busy box. (Stop Motion during an upload
// ends it: see AnUploadThatReadsNothingKeepsTheProgram.)
TEST_F(TransferWindowTest, NothingRebindsOrEditsDuringAnUpload) {
    port.unit().receive("@0E0\r@0A100\r@0W5\r@0Q\r");
    const QString named = dir.filePath("named.mdb");
    test::WriteProgramFile(named, {{"B600"}, {"Q"}});
    const QByteArray namedBefore = test::FileBytes(named);
    int actions = 0;
    clock.addListener([&](double) {
        if (!form->deviceLink().exchanges().isBusy() || actions > 0)
            return;
        ++actions;
        dialogs.choose(named);
        form->findChild<QAction*>(QStringLiteral("mnuOpenProgram"))->trigger();
        for (const char* name :
             {"cmdAdd", "cmdInsert", "cmdChange", "cmdDelete", "SSCommand1", "cmdSave"})
            click(name);
        form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0);
    });
    form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(1);
    click("cmdUpload");
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(messages.texts(), QStringList(7, link::BusyMessage));
    EXPECT_EQ(dialogs.shown, 0);
    EXPECT_EQ(test::FileBytes(named), namedBefore);
    EXPECT_EQ(labelText("lblCurrentFile"), QDir::toNativeSeparators(dir.filePath("temp.mdb")));
    EXPECT_EQ(gridColumn(2), (QStringList{"A100", "W5", "Q"}));
}

// Stop Motion or closing the window during a send: the line in hand is
// finished, program entry ends, and the unit is left with an empty program.
TEST_F(TransferWindowTest, StoppingOrClosingDuringASendLeavesNoHalfProgram) {
    program({{"A10"}, {"N500\r@0G"}, {"W5"}, {"Q"}});
    form->show();
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "Stop Motion");
        messages.clear();
        if (closing) {
            messages.answerNext(platform::MessageAnswer::Ok);
            messages.answerNext(platform::MessageAnswer::No); // the unsaved program
        }
        click("cmdSend");
        auto* dialog = form->findChild<transfer::Form2*>();
        ASSERT_NE(dialog, nullptr);
        bool interrupted = false;
        port.clearWrites();
        const double start = clock.now();
        clock.addListener([&](double now) {
            if (interrupted || now - start < 1.45)
                return;
            interrupted = true;
            if (closing)
                form->close();
            else
                click("cmdStopAll");
        });
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(port.written(), QByteArray("\r@0E0\r@0A10\r@0N500\r@0G\r@0Q\r@0.\r@0E0\r@0Q\r"));
        EXPECT_FALSE(port.unit().inProgramEntry());
        EXPECT_EQ(port.unit().uploadReply(), QByteArray("Q\r*"));
        EXPECT_EQ(messages.texts().first(), transfer::stoppedSendMessage(2));
        EXPECT_EQ(messages.texts().size(), closing ? 2 : 1);
        EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
        EXPECT_EQ(form->isVisible(), !closing);
    }
}

// A line that starts to flood or drip after the connection: the readout,
// the view and the upload each end within their deadline and say why.
TEST_F(TransferWindowTest, AFloodedLineEndsEveryExchangeAndSaysWhy) {
    for (const double rate : {1.0e6, 20.0}) {
        for (const char* button : {"cmdVerifyParameters", "cmdView", "cmdUpload"}) {
            SCOPED_TRACE(std::string(button) + (rate > 100 ? " flood" : " drip"));
            port.unit().faults().noiseRate = 0;
            click("cmdConnect");
            ASSERT_TRUE(form->linkState().UnitConnected);
            messages.clear();
            messages.answerNext(platform::MessageAnswer::Ok); // the upload's question
            port.unit().faults().noiseRate = rate;
            port.unit().faults().noiseAfterFrames = static_cast<int>(port.unit().frameCount());
            const double start = clock.now();
            click(button);
            EXPECT_LT(clock.now() - start, 16.0);
            EXPECT_FALSE(form->linkState().UnitConnected);
            EXPECT_EQ(labelText("lblConnected"), QStringLiteral("The Unit is NOT Connected"));
            EXPECT_TRUE(messages.texts().last().contains(QStringLiteral("keeps sending data")))
                << messages.texts().join('|').toStdString();
        }
    }
}

TEST_F(TransferWindowTest, UploadFromASilentUnitLeavesAnEmptyProgram) {
    port.unit().faults().silent = true;
    click("cmdUpload");
    EXPECT_EQ(messages.texts(), QStringList{transfer::NotRespondingMessage});
    EXPECT_TRUE(gridColumn(2).isEmpty());
    EXPECT_FALSE(form->linkState().UnitConnected);
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblConnected"))->text(),
              QStringLiteral("The Unit is NOT Connected"));
}

TEST_F(TransferWindowTest, ViewListsTheUnitsOwnListing) {
    port.unit().receive("@0E0\r@0A100\r@0N5\r@0G\r@0Q\r");
    click("cmdView");
    auto* view = form->findChild<transfer::frmView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->windowTitle(), QStringLiteral("View Program"));
    EXPECT_EQ(view->entries(), (QStringList{"0000 A100", "0003 N5,G", "Q"}));
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Note: Branching destinations are shown in terms of addresses, not "
                             "line numbers."));
    EXPECT_TRUE(port.written().endsWith("@0*0\r"));
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(cursor.depth(), 0);

    port.unit().faults().silent = true;
    click("cmdView");
    EXPECT_EQ(messages.texts(), QStringList{transfer::ListingIncompleteMessage});
}

TEST_F(TransferWindowTest, MotionPanelThroughTheWindow) {
    auto* tabs = form->findChild<QTabWidget*>(QStringLiteral("SSTab2"));
    tabs->setCurrentIndex(1);
    port.clearWrites();
    port.unit().setInputs(5);
    tabs->setCurrentIndex(0); // choosing the Motion tab reads the unit
    EXPECT_TRUE(port.written().startsWith("@0VA\r"));
    EXPECT_TRUE(form->findChild<QCheckBox*>(QStringLiteral("chkInput1"))->isChecked());
    EXPECT_FALSE(form->findChild<QCheckBox*>(QStringLiteral("chkInput2"))->isChecked());
    EXPECT_TRUE(form->findChild<QCheckBox*>(QStringLiteral("chkInput3"))->isChecked());

    port.clearWrites();
    form->findChild<QLineEdit*>(QStringLiteral("txtJogSpeed"))->setText(QStringLiteral("1200"));
    click("cmdJogSpeed");
    EXPECT_TRUE(port.written().startsWith("@0J1200\r@0VA\r")); // then the readout
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblJogSpeed"))->text(),
              QStringLiteral("Jog Speed: 1200\r"));

    port.clearWrites();
    auto* output = form->findChild<QCheckBox*>(QStringLiteral("chkOutput2"));
    QTest::mouseClick(output, Qt::LeftButton, {}, QPoint(6, output->height() / 2));
    EXPECT_EQ(port.written(), QByteArray("@0O2\r"));
    EXPECT_EQ(port.unit().outputs(), 2);

    port.clearWrites();
    click("cmdStopAll");
    EXPECT_EQ(port.written(), QByteArray("@0.\r"));
    form->findChild<QAction*>(QStringLiteral("mnuAutostartOnOff(1)"))->trigger();
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_TRUE(port.unit().autostart());
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(cursor.depth(), 0);
}

TEST_F(TransferWindowTest, CtsDropsDuringThePacedRequest) {
    const double start = clock.now();
    clock.addListener([this, start](double now) {
        if (now - start > 0.15)
            port.unit().faults().ctsFalse = true;
    });
    click("cmdUpload");
    EXPECT_EQ(messages.texts(), (QStringList{link::CtsBusyError, transfer::NotRespondingMessage}));
    EXPECT_EQ(port.written(), QByteArray("VE")); // the carriage return never went out
    EXPECT_FALSE(form->linkState().UnitConnected);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
    EXPECT_EQ(cursor.depth(), 0);
}

// The window's send keeps the unit's program first and reads the new one
// back; File > Unit Backups lists what was kept and opens or sends it.
TEST_F(TransferWindowTest, VerifiedSendsKeepTheUnitsProgramFirst) {
    sendOptions(true, true);
    const auto sendNow = [this](const QVector<test::Line>& lines) {
        form->programTable().close();
        test::WriteProgramFile(dir.filePath(QStringLiteral("temp.mdb")), lines);
        ASSERT_TRUE(form->programTable().open(dir.filePath(QStringLiteral("temp.mdb"))));
        ASSERT_TRUE(form->RefreshListing());
        click("cmdSend");
        auto* dialog = form->findChild<transfer::Form2*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->findChild<QCheckBox*>(QStringLiteral("chkVerify"))->isChecked());
        EXPECT_TRUE(dialog->findChild<QCheckBox*>(QStringLiteral("chkBackup"))->isChecked());
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
        QCoreApplication::processEvents();
    };
    sendNow({{"A10"}, {"N500\r@0G"}, {"Q"}});
    EXPECT_EQ(messages.texts(),
              QStringList{QStringLiteral("The unit holds the program (3 lines verified)")});
    // The read-back of the empty unit came before the opening frame.
    EXPECT_TRUE(port.written().startsWith("VE\r\r@0E0\r")) << port.written().toStdString();
    messages.clear();
    sendNow({{"W5"}, {"Q"}});
    EXPECT_EQ(messages.texts(),
              QStringList{QStringLiteral("The unit holds the program (2 lines verified)")});
    // Both sends are in the transfer log, with the backups they kept.
    const auto logged =
        transfer::readTransferLog(transfer::transferLogPath(paths.userDataDirectory()));
    ASSERT_EQ(logged.size(), 2);
    for (const auto& entry : logged) {
        EXPECT_EQ(entry.result, QStringLiteral("verified"));
        EXPECT_EQ(entry.program, dir.filePath(QStringLiteral("temp.mdb")));
        EXPECT_TRUE(QFileInfo::exists(entry.backup)) << entry.backup.toStdString();
    }
    EXPECT_NE(logged.at(0).sha256, logged.at(1).sha256);

    messages.clear();
    test::AnswerModal([](QDialog* backups) {
        ASSERT_NE(backups, nullptr);
        auto* table = backups->findChild<QTableWidget*>(QStringLiteral("tblBackups"));
        ASSERT_EQ(table->rowCount(), 2);
        EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("3")); // the first program, newest
        EXPECT_EQ(table->item(0, 5)->text(), QStringLiteral("12"));
        EXPECT_EQ(table->item(1, 4)->text(), QStringLiteral("no program"));
        // Which line it was kept from: the device the port stands for.
        EXPECT_FALSE(table->item(0, 1)->text().isEmpty());
        EXPECT_NE(table->item(0, 1)->text(), QStringLiteral("-"));
        table->selectRow(1);
        EXPECT_FALSE(
            backups->findChild<QPushButton*>(QStringLiteral("cmdOpenBackup"))->isEnabled());
        table->selectRow(0);
        QTest::mouseClick(backups->findChild<QPushButton*>(QStringLiteral("cmdOpenBackup")),
                          Qt::LeftButton);
    });
    messages.answerNext(platform::MessageAnswer::Ok); // replace the current program
    form->findChild<QAction*>(QStringLiteral("mnuUnitBackups"))->trigger();
    QStringList commands;
    for (const auto& row : test::ReadProgramFile(dir.filePath(QStringLiteral("temp.mdb"))))
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"A10", "N500,G", "Q"}));

    // Sent back: the send dialog lists the kept program's frames.
    test::AnswerModal([](QDialog* backups) {
        ASSERT_NE(backups, nullptr);
        QTest::mouseClick(backups->findChild<QPushButton*>(QStringLiteral("cmdSendBackup")),
                          Qt::LeftButton);
    });
    form->findChild<QAction*>(QStringLiteral("mnuUnitBackups"))->trigger();
    auto* send = form->findChild<transfer::Form2*>();
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->findChild<QListWidget*>(QStringLiteral("List1"))->count(), 4);
    send->close();
}

// A faster pace that the unit cannot follow is caught by the read-back; the
// window says so and sends again at 0.1 s when asked.
TEST_F(TransferWindowTest, AFasterPaceIsProvedByTheReadBack) {
    sendOptions(true, false);
    ASSERT_TRUE(form->settingsTable().setSendPace(form->linkState().ComPortNumber, 0.02));
    port.unit().faults().slowReceiver = 0.05;
    program({{"A10"}, {"W5"}, {"Q"}});
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("lblPace"))->text().contains("0.02 s"));
    messages.answerNext(platform::MessageAnswer::Yes); // send again at 0.1 s
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_EQ(messages.texts().size(), 2) << messages.texts().join('\n').toStdString();
    EXPECT_TRUE(messages.texts().first().contains(QLatin1String("faster pace of 0.02 s")));
    EXPECT_EQ(messages.texts().last(),
              QStringLiteral("The unit holds the program (3 lines verified)"));
    EXPECT_EQ(port.unit().program().size(), 3);
    EXPECT_FALSE(port.unit().inProgramEntry());
}

// An upload that reads nothing replaces nothing: a silent unit, or Stop
// while the reply is awaited, leaves the program being edited as it was.
TEST_F(TransferWindowTest, AnUploadThatReadsNothingKeepsTheProgram) {
    const struct {
        const char* name;
        std::function<void()> fault;
        QString said;
    } cases[] = {
        {"a silent unit", [this] { port.unit().faults().silent = true; },
         transfer::NotRespondingMessage},
        {"Stop while the reply is awaited",
         [this] {
             port.unit().faults().replyDelay = 0.4;
             clock.addListener([this, armed = true](double) mutable {
                 if (armed && port.written().endsWith("VE\r")) {
                     armed = false;
                     form->findChild<QAction*>(QStringLiteral("mnuStopMotion"))->trigger();
                 }
             });
         },
         transfer::UploadStoppedMessage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        program({{"B600"}, {"Q"}});
        const QStringList before = gridColumn(2);
        c.fault();
        messages.clear();
        messages.answerNext(platform::MessageAnswer::Ok); // replace the program
        click("cmdUpload");
        EXPECT_EQ(messages.texts().last(), c.said);
        EXPECT_EQ(gridColumn(2), before);
        port.unit().faults() = {};
        if (!form->linkState().UnitConnected)
            form->cmdConnect_Click();
        ASSERT_TRUE(form->linkState().UnitConnected);
    }
}

// F12 reaches the unit whatever window or dialog of the tool has the keys,
// modal or not: the motor that slews stops, by a frame of its own.
TEST_F(TransferWindowTest, StopKeyReachesTheUnitFromEveryDialog) {
    program({{"A10"}, {"Q"}});
    const auto trigger = [this](const char* name) {
        return [this, name] {
            form->findChild<QAction*>(QString::fromLatin1(name))->trigger();
        };
    };
    const QList<QPair<const char*, std::function<void()>>> openers = {
        {"the command editor",
         [this] {
             click("cmdAdd");
         }},
        {"Find Units", trigger("mnuFindUnits")},
        {"the communication settings", trigger("mnuCommSettings")},
        {"the unit backups", trigger("mnuUnitBackups")},
        {"the send dialog",
         [this] {
             click("cmdSend");
         }},
        {"a message box",
         [this] {
             QMessageBox box(QMessageBox::Warning, QStringLiteral("KQM"), QStringLiteral("?"),
                             QMessageBox::Ok, form.get());
             box.exec();
         }},
        {"a file dialog",
         [this] {
             QFileDialog dialog(form.get());
             dialog.setOption(QFileDialog::DontUseNativeDialog);
             dialog.exec();
         }},
    };
    for (const auto& [name, open] : openers) {
        SCOPED_TRACE(name);
        port.unit().receive("@0S\r");
        ASSERT_TRUE(port.unit().moving());
        const qsizetype framesBefore = port.unit().frameCount();
        bool pressed = false;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            QTest::keyClick(modal->focusWidget() ? modal->focusWidget() : modal, Qt::Key_F12);
            pressed = true;
            EXPECT_FALSE(port.unit().moving());
            modal->close();
        });
        open();
        QCoreApplication::processEvents(); // the send dialog is shown, not run
        EXPECT_TRUE(pressed);
        EXPECT_EQ(port.unit().framesSince(framesBefore).count("@0."), 1);
        if (!form->linkState().UnitConnected)
            form->cmdConnect_Click();
    }
    // The unit's listing window has a Stop Motion of its own.
    port.unit().receive("@0S\r");
    click("cmdView");
    auto* view = form->findChild<transfer::frmView*>();
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("cmdStopMotion")),
                      Qt::LeftButton);
    EXPECT_FALSE(port.unit().moving());
    view->close();
}

} // namespace
