#include "files/machine_file.h"
#include "main_window/machine_view.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/send_refusals.h"
#include "support/window_fixture.h"
#include "transfer/line_fixture.h"
#include "transfer/proven_pace.h"
#include "transfer/send_dialog.h"
#include "transfer/transfer_log.h"
#include "transfer/transfer_log_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QProgressBar>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

class MachineWindowTest : public test::WindowFixture {
protected:
    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};

    static void store(simulator::SimulatedUnit& unit, const QStringList& program) {
        test::LineFixture::store(unit, program);
    }
    static QStringList heldBy(const simulator::SimulatedUnit& unit) {
        return test::LineFixture::heldBy(unit);
    }
    QStringList states(QTableWidget* grid) const {
        QStringList texts;
        for (int row = 0; row < grid->rowCount(); ++row)
            texts << grid->item(row, ui::MachineView::StateColumn)->text();
        return texts;
    }
    void trigger(const char* name) {
        form->findChild<QAction*>(QString::fromLatin1(name))->trigger();
    }
};

// Open a machine of three units (one in step, one that differs, one not on
// the line), check and send it, stop a send, open a unit's program, save the
// machine, read the transfer log, and find the unit's fastest pace.
TEST_F(MachineWindowTest, CheckSendStopOpenSaveLogAndPace) {
    simulator::SimulatedUnit& second = port.addUnit(QStringLiteral("KQM20"), 1);
    store(port.unit(), {"A10", "W5", "Q"});
    store(second, {"B600", "Q"});
    test::WriteProgramFile(dir.filePath("feeder.mdb"), {{"A10"}, {"W5"}, {"Q"}});
    test::WriteProgramFile(dir.filePath("clamp.mdb"), {{"B700"}, {"Q"}});
    const QString machinePath = dir.filePath("press.kqmachine");
    {
        QFile file(machinePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"name": "press", "units": [{"axis": 0, "program": "feeder.mdb"},
            {"axis": 1, "program": "clamp.mdb", "model": "KQM20"},
            {"axis": 3, "program": "clamp.mdb"}]})");
    }
    form = makeWindow(clock, port);
    form->Form_Load();
    form->resize(1200, 760);
    form->show();
    dialogs.choose(machinePath);
    trigger("mnuOpenMachine");
    EXPECT_EQ(dialogs.lastTitle, QStringLiteral("Open Machine"));
    ASSERT_TRUE(form->findChild<QDockWidget*>(QStringLiteral("dckMachine"))->isVisible());
    auto* grid = form->findChild<QTableWidget*>(QStringLiteral("grdMachine"));
    EXPECT_EQ(states(grid), QStringList(3, QStringLiteral("not checked")));
    EXPECT_NE(form->findChild<QAction*>(QStringLiteral("mnuRecentMachine(0)")), nullptr);

    click("cmdCheckAll");
    EXPECT_EQ(states(grid), (QStringList{"in step", "differs (line 1)", "no unit"}));
    EXPECT_EQ(heldBy(second), (QStringList{"B600", "Q"})); // the check changed nothing
    EXPECT_EQ(labelText("lblMachineSummary"), "Check All: 1 in step, 1 differs, 1 no unit");
    // The positions of the KQM20 units come in turn, in the background.
    clock.advance(2.5);
    EXPECT_FALSE(grid->item(0, ui::MachineView::PositionColumn)->text().isEmpty());
    EXPECT_FALSE(grid->item(1, ui::MachineView::PositionColumn)->text().isEmpty());
    EXPECT_EQ(form->linkState().AxisAddress, "0"); // the user's axis stays current

    // Stop during the send of the unit that differs: the rest are not sent.
    store(port.unit(), {"A20", "Q"});
    auto* firstBar = form->findChild<QProgressBar*>(QStringLiteral("prgUnit(0)"));
    QMetaObject::Connection stopping =
        QObject::connect(firstBar, &QProgressBar::valueChanged, [this](int value) {
            if (value >= 40)
                trigger("mnuStopMotion");
        });
    click("cmdSendAll");
    QObject::disconnect(stopping);
    EXPECT_NE(states(grid).at(0), "in step");
    // Why it was not sent, with what the check had found kept.
    EXPECT_EQ(states(grid).at(1), "differs (line 1); not sent: the run was stopped");
    EXPECT_EQ(heldBy(second), (QStringList{"B600", "Q"}));

    // Send All again: both units are sent, with backups, and logged.
    click("cmdSendAll");
    EXPECT_EQ(states(grid), (QStringList{"in step", "in step", "no unit"}));
    EXPECT_EQ(heldBy(second), (QStringList{"B700", "Q"}));
    EXPECT_EQ(grid->item(1, ui::MachineView::ProgressColumn), nullptr);
    EXPECT_EQ(form->findChild<QProgressBar*>(QStringLiteral("prgUnit(1)"))->value(), 100);
    EXPECT_EQ(form->findChild<QProgressBar*>(QStringLiteral("prgUnit(1)"))->format(), "sent");
    EXPECT_EQ(labelText("lblMachineSummary"), "Send All: 2 sent, 1 no unit");
    QCoreApplication::processEvents();
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty())
        form->grab().save(QDir(target).filePath(QStringLiteral("machine-view.png")));

    // Double-click: the unit's program in the editor, its axis current.
    emit grid->cellDoubleClicked(1, 0);
    EXPECT_TRUE(form->windowTitle().startsWith("clamp.mdb")) << form->windowTitle().toStdString();
    EXPECT_TRUE(form->findChild<QAction*>(QStringLiteral("mnuAxisNum(1)"))->isChecked());
    // The open program becomes the third unit's, and the machine is saved.
    grid->selectRow(2);
    click("cmdUseProgram");
    click("cmdSaveMachine");
    QString problem;
    const auto saved = files::readMachineFile(machinePath, &problem);
    ASSERT_TRUE(saved) << problem.toStdString();
    EXPECT_EQ(QFileInfo(saved->units.at(2).program).fileName(), "clamp.mdb");
    EXPECT_EQ(saved->units.at(1).model, "KQM20");

    // The transfer log: filtered by axis, exported as shown.
    trigger("mnuTransferLog");
    auto* log = form->findChild<transfer::frmTransferLog*>();
    ASSERT_NE(log, nullptr);
    log->findChild<QComboBox*>(QStringLiteral("cboLogAxis"))->setCurrentIndex(2); // axis 1
    ASSERT_FALSE(log->shown().isEmpty());
    for (const transfer::TransferLogEntry& entry : log->shown())
        EXPECT_EQ(entry.axis, 1);
    dialogs.choose(dir.filePath("log.csv"));
    QTest::mouseClick(log->findChild<QPushButton*>(QStringLiteral("cmdExportCsv")), Qt::LeftButton);
    QFile csv(dir.filePath("log.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count("\r\n"), log->shown().size() + 1);
    log->close();

    // Setup > Find Fastest Pace on the connected unit (axis 1 now).
    messages.clear();
    messages.answerNext(platform::MessageAnswer::Yes);
    trigger("mnuFindFastestPace");
    ASSERT_FALSE(messages.texts().isEmpty());
    // The simulated unit takes even characters back to back.
    EXPECT_TRUE(messages.texts().last().contains("verified twice in a row is back to back"))
        << messages.texts().last().toStdString();
    EXPECT_EQ(heldBy(second), (QStringList{"B700", "Q"}));
    EXPECT_EQ(transfer::provenPace(transfer::provenPacesPath(paths.userDataDirectory()),
                                   {port.deviceName(), 1, "KQM20", form->linkState().UnitRevision}),
              0.0);
    // The send dialog offers that pace for this unit, with the read-back.
    form->findChild<QAction*>(QStringLiteral("mnuSendProgram"))->trigger();
    auto* send = form->findChild<transfer::Form2*>();
    ASSERT_NE(send, nullptr);
    send->findChild<QCheckBox*>(QStringLiteral("chkVerify"))->setChecked(true);
    EXPECT_TRUE(send->findChild<QLabel*>(QStringLiteral("lblPace"))
                    ->text()
                    .startsWith("Pace: characters back to back"));
    send->close();
}

} // namespace

namespace {

// Every refusal of a send, through the window's Send and the machine view's
// Send All: the same text, and nothing reaches the unit.
TEST_F(MachineWindowTest, EverySenderRefusesWhatASendRefuses) {
    store(port.unit(), {"A10", "Q"});
    form = makeWindow(clock, port);
    form->Form_Load();
    form->resize(1200, 760);
    form->show();
    const QString machinePath = dir.filePath("m.kqmachine");
    int n = 0;
    for (const test::RefusedProgram& refused : test::refusedPrograms()) {
        SCOPED_TRACE(refused.name);
        const QString name = QStringLiteral("refused%1.mdb").arg(++n);
        const QString program = dir.filePath(name);
        test::WriteProgramFile(program, refused.lines);
        {
            QFile file(machinePath);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(
                QStringLiteral(R"({"name": "line", "units": [{"axis": 0, "program": "%1"}]})")
                    .arg(name)
                    .toUtf8());
        }
        dialogs.choose(program);
        trigger("mnuOpenProgram");
        messages.clear();
        click("cmdSend");
        // The dialog opens for a program without Quit; OK then refuses it.
        if (auto* dialog = form->findChild<transfer::Form2*>()) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")),
                              Qt::LeftButton);
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(form->findChild<transfer::Form2*>(), nullptr);
        ASSERT_FALSE(messages.texts().isEmpty());
        EXPECT_TRUE(messages.texts().last().startsWith(refused.says))
            << messages.texts().join('|').toStdString();

        dialogs.choose(machinePath);
        trigger("mnuOpenMachine");
        click("cmdSendAll");
        auto* grid = form->findChild<QTableWidget*>(QStringLiteral("grdMachine"));
        ASSERT_EQ(grid->rowCount(), 1) << messages.texts().join('|').toStdString();
        const QTableWidgetItem* state = grid->item(0, ui::MachineView::StateColumn);
        EXPECT_TRUE((state->text() + state->toolTip()).contains(refused.says))
            << state->text().toStdString() << " | " << state->toolTip().toStdString();
        EXPECT_EQ(heldBy(port.unit()), (QStringList{"A10", "Q"}));
    }
}

} // namespace
