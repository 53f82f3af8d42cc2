#include "dryrun/dry_run_panel.h"
#include "dryrun/run_plot.h"
#include "dryrun/unit_run.h"
#include "files/settings_table.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/window_fixture.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

class DryRunWindowTest : public test::WindowFixture {
protected:
    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
};

// Program > Dry Run on the program being edited: a breakpoint set with F9
// stops the run before its line, which the grid marks; Step runs one line;
// the run goes on to Quit at x10 on the clock; a click on the plot selects
// the line that was running then; the plot is saved.
TEST_F(DryRunWindowTest, BreakpointStepPlotAndTheGrid) {
    test::WriteProgramFile(dir.filePath("dry.mdb"),
                           {{"N400\r@0G"}, {"O1"}, {"W1000"}, {"F"}, {"O2"}, {"&0_2"}, {"Q"}});
    form = makeWindow(clock, port);
    form->Form_Load();
    form->resize(1400, 800);
    form->show();
    dialogs.choose(dir.filePath("dry.mdb"));
    click("cmdOpen");
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    grid->selectRow(4);
    form->findChild<QAction*>(QStringLiteral("mnuToggleBreakpoint"))->trigger();
    EXPECT_TRUE(grid->model()->index(4, 0).data().isValid());
    form->findChild<QAction*>(QStringLiteral("mnuDryRun"))->trigger();
    auto* panel = form->findChild<dryrun::DryRunPanel*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(form->findChild<QDockWidget*>(QStringLiteral("dckDryRun"))->isVisible());
    const auto watch = [panel] {
        return panel->lblDryWatch->text();
    };

    QTest::mouseClick(panel->cmdDryRun, Qt::LeftButton);
    ASSERT_NE(panel->run(), nullptr);
    EXPECT_EQ(panel->run()->next(), 4); // stopped before O2
    EXPECT_TRUE(watch().contains(QStringLiteral("Outputs 1-on 2-off"))) << watch().toStdString();
    EXPECT_TRUE(watch().contains(QStringLiteral("Position 400"))) << watch().toStdString();
    QTest::mouseClick(panel->cmdDryStep, Qt::LeftButton);
    EXPECT_EQ(panel->run()->next(), 5);
    EXPECT_TRUE(watch().contains(QStringLiteral("Outputs 1-off 2-on")));
    EXPECT_TRUE(watch().contains(QStringLiteral("Loops: none"))) << watch().toStdString();
    // For the manual: paused after the breakpoint, its line and the next one marked.
    QCoreApplication::processEvents(); // the layouts catch up with the last texts
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty())
        form->grab().save(QDir(target).filePath(QStringLiteral("dry-run.png")));

    // Without the breakpoint, at x10: a second of the clock is ten of the run.
    grid->selectRow(4);
    form->findChild<QAction*>(QStringLiteral("mnuToggleBreakpoint"))->trigger();
    panel->cboDrySpeed->setCurrentIndex(1);
    QTest::mouseClick(panel->cmdDryRun, Qt::LeftButton);
    EXPECT_TRUE(panel->isRunning());
    clock.advance(0.1);
    EXPECT_TRUE(panel->isRunning()); // 1 s of program time: not at Quit yet
    clock.advance(1.0);
    EXPECT_FALSE(panel->isRunning());
    EXPECT_EQ(dryrun::runEndName(panel->run()->end()), QStringLiteral("quit"));
    EXPECT_TRUE(panel->lblDryFindings->text().startsWith(QStringLiteral("Cycle time: ")))
        << panel->lblDryFindings->text().toStdString();
    EXPECT_EQ(panel->run()->restingPosition(), 1200);
    // Travel limits of the axis: a warning past them, kept for the axis.
    panel->spnDryTravelHigh->setValue(1000);
    panel->chkDryTravel->setChecked(true);
    EXPECT_TRUE(panel->lblDryFindings->text().contains(
        QStringLiteral("Warning: the travel passes the limits 0 to 1000.")));
    EXPECT_EQ(form->settingsTable().preference(QStringLiteral("DryRunTravelLimitsAxis0")),
              QStringLiteral("0,1000"));

    // A click on the plot selects the line that ran then.
    auto* plot = panel->pltDryRun;
    const QPoint point(plot->width() / 2, plot->height() / 3);
    const double at = plot->timeAt(point);
    int expected = -1;
    for (const auto& line : panel->run()->executed())
        if (line.at <= at)
            expected = line.step;
    grid->clearSelection();
    QTest::mouseClick(plot, Qt::LeftButton, {}, point);
    ASSERT_TRUE(grid->selectionModel()->currentIndex().isValid());
    EXPECT_EQ(grid->selectionModel()->currentIndex().row(), expected);
    // And so does a line of the executed list.
    auto* executed = panel->lstDryExecuted;
    ASSERT_GT(executed->count(), 10);
    QTest::mouseClick(executed->viewport(), Qt::LeftButton, {},
                      executed->visualItemRect(executed->item(2)).center());
    EXPECT_EQ(grid->selectionModel()->currentIndex().row(), 2);

    dialogs.choose(dir.filePath("plot.svg"));
    QTest::mouseClick(panel->cmdDrySavePlot, Qt::LeftButton);
    QFile svg(dir.filePath("plot.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svg.readAll().startsWith("<svg"));
    EXPECT_TRUE(messages.boxes().isEmpty()) << messages.texts().join('|').toStdString();
}

// The run is what the boxes show when Run is pressed, and the panel tells
// where it stands: a schedule and a limit typed after the dock opened, the
// speed of the moment shown (waiting at F), the line it is paused before,
// how often a loop's body runs, the listing's words, and the keys.
TEST_F(DryRunWindowTest, TheRunIsWhatTheBoxesShow) {
    test::WriteProgramFile(dir.filePath("boxes.mdb"), {{"U0,1,1"}, {"O3"}, {"Q"}});
    form = makeWindow(clock, port);
    form->Form_Load();
    form->resize(1400, 800);
    form->show();
    dialogs.choose(dir.filePath("boxes.mdb"));
    click("cmdOpen");
    form->findChild<QAction*>(QStringLiteral("mnuDryRun"))->trigger();
    auto* panel = form->findChild<dryrun::DryRunPanel*>();
    ASSERT_NE(panel, nullptr);
    panel->txtDrySchedule->setText(QStringLiteral("0:0,0.5:1"));
    emit panel->txtDrySchedule->editingFinished();
    QTest::mouseClick(panel->cmdDryRun, Qt::LeftButton);
    EXPECT_EQ(dryrun::runEndName(panel->run()->end()), QStringLiteral("quit"));
    EXPECT_EQ(panel->run()->outputs(), 3);
    EXPECT_EQ(panel->run()->now(), 0.5);

    // A longer limit typed after the run was made.
    test::WriteProgramFile(dir.filePath("endless.mdb"), {{"W100"}, {"X0"}});
    dialogs.choose(dir.filePath("endless.mdb"));
    click("cmdOpen");
    panel->txtDrySchedule->clear();
    emit panel->txtDrySchedule->editingFinished();
    panel->reset();
    panel->spnDryTimeLimit->setValue(45);
    QTest::mouseClick(panel->cmdDryRun, Qt::LeftButton);
    EXPECT_EQ(panel->run()->now(), 45);
    EXPECT_TRUE(panel->lblDryFindings->text().contains(QStringLiteral("no Quit within 45 s")))
        << panel->lblDryFindings->text().toStdString();

    // Paused half a second into a move the program waits for at F: the
    // motor goes at full speed then, wherever the run itself has got to.
    test::WriteProgramFile(
        dir.filePath("move.mdb"),
        {{"N4000\r@0G"}, {"F", "Wait for the feed"}, {"N10\r@0G"}, {"&0_2"}, {"Q"}});
    dialogs.choose(dir.filePath("move.mdb"));
    click("cmdOpen");
    ASSERT_NE(panel->run(), nullptr); // another program: its own run
    EXPECT_EQ(panel->run()->steps().size(), 5);
    panel->cboDrySpeed->setCurrentIndex(0);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_TRUE(panel->isRunning());
    clock.advance(0.5);
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_FALSE(panel->isRunning());
    const QString watch = panel->lblDryWatch->text();
    EXPECT_TRUE(watch.contains(QStringLiteral("Speed 1500 steps/s"))) << watch.toStdString();
    // F holds the run in line 2 until the move ends: the run stands there,
    // and has travelled as far as the motor has come by then.
    EXPECT_TRUE(watch.contains(QStringLiteral("Waiting in line 2"))) << watch.toStdString();
    const QString findings = panel->lblDryFindings->text();
    EXPECT_TRUE(findings.contains(QStringLiteral("Travel: 0 to %1 steps")
                                      .arg(panel->run()->positionAt(panel->programTime()))))
        << findings.toStdString();
    EXPECT_FALSE(findings.contains(QStringLiteral("Travel: 0 to 0 "))) << findings.toStdString();
    QTest::keyClick(form.get(), Qt::Key_F10);
    QTest::keyClick(form.get(), Qt::Key_F10);
    EXPECT_TRUE(panel->lblDryWatch->text().contains(QStringLiteral("line 4 (runs 3 times)")))
        << panel->lblDryWatch->text().toStdString();
    auto* executed = panel->lstDryExecuted;
    ASSERT_GE(executed->count(), 3);
    EXPECT_FALSE(executed->item(0)->text().contains(QStringLiteral("@0G")))
        << executed->item(0)->text().toStdString();
    EXPECT_EQ(executed->item(0)->toolTip(), QStringLiteral("N4000@0G"));
    EXPECT_TRUE(executed->item(1)->text().endsWith(QStringLiteral("Wait for the feed")))
        << executed->item(1)->text().toStdString();
    QStringList keys;
    for (const auto& [item, key] : form->shortcutList())
        keys << item + QStringLiteral(": ") + key;
    for (const char* listed :
         {"Dry Run: Run or Pause: F8", "Dry Run: Step: F10", "Dry Run: Reset: Shift+F8"}) {
        EXPECT_TRUE(keys.join('|').contains(QString::fromLatin1(listed)))
            << keys.join('|').toStdString();
    }

    // Save Plot is named for the plot, beside the program.
    dialogs.choose(std::nullopt);
    QTest::mouseClick(panel->cmdDrySavePlot, Qt::LeftButton);
    EXPECT_EQ(dialogs.lastTitle, QStringLiteral("Save Plot"));
    EXPECT_EQ(dialogs.lastDirectory, dir.filePath("move-plot.png"));
}

// The dock at the window's first size, on a 1024x600 screen beside the
// machine view, and with text twice as large: every control it shows keeps
// the size it asks for, none lies over another, and it stays inside the
// window beside the tabs, which keep their own buttons whole.
TEST_F(DryRunWindowTest, TheDockFitsEverySize) {
    test::WriteProgramFile(dir.filePath("dry.mdb"), {{"N400\r@0G"}, {"O1"}, {"Q"}});
    QFile machine(dir.filePath("m.kqmachine"));
    ASSERT_TRUE(machine.open(QIODevice::WriteOnly));
    machine.write(R"({"name": "m", "units": [{"axis": 0, "program": "dry.mdb"}]})");
    machine.close();
    const QFont usual = QApplication::font();
    const struct {
        const char* name;
        QSize window;
        bool machineView;
        double scale;
    } sizes[] = {
        {"the first size", {900, 640}, false, 1},
        {"a 1024x600 screen, the machine view open", {1024, 568}, true, 1},
        {"twice as large", {960, 540}, true, 2},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.name);
        QFont font = usual;
        font.setPointSizeF(usual.pointSizeF() * size.scale);
        QApplication::setFont(font);
        form = makeWindow(clock, port);
        form->Form_Load();
        form->show();
        form->resize(size.window);
        dialogs.choose(dir.filePath("dry.mdb"));
        click("cmdOpen");
        form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(1);
        if (size.machineView) {
            ASSERT_TRUE(form->openMachineFile(machine.fileName()));
        }
        form->findChild<QAction*>(QStringLiteral("mnuDryRun"))->trigger();
        QCoreApplication::processEvents();
        auto* dock = form->findChild<QDockWidget*>(QStringLiteral("dckDryRun"));
        ASSERT_TRUE(dock->isVisible());
        EXPECT_TRUE(form->rect().contains(dock->geometry())) << size.name;
        for (auto* other : form->findChildren<QDockWidget*>()) {
            if (other != dock && other->isVisible() && !other->visibleRegion().isEmpty()) {
                EXPECT_FALSE(other->geometry().intersects(dock->geometry()))
                    << other->objectName().toStdString();
            }
        }
        const auto checkControls = [](QWidget* area, const char* where) {
            QList<QWidget*> shown;
            for (QWidget* control : area->findChildren<QWidget*>()) {
                const bool isControl = qobject_cast<QAbstractButton*>(control) ||
                                       qobject_cast<QComboBox*>(control) ||
                                       qobject_cast<QAbstractSpinBox*>(control);
                if (!isControl || !control->isVisibleTo(area->window()) ||
                    control->objectName().startsWith(QLatin1String("qt_")))
                    continue;
                if (control->parentWidget() && control->parentWidget()->inherits("QTabBar"))
                    continue;
                EXPECT_GE(control->width(), control->sizeHint().width())
                    << where << ": " << control->objectName().toStdString();
                EXPECT_GE(control->height(), control->minimumSizeHint().height())
                    << where << ": " << control->objectName().toStdString();
                shown << control;
            }
            for (QWidget* a : shown) {
                for (QWidget* b : shown) {
                    if (a < b && a->parentWidget() == b->parentWidget()) {
                        EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                            << where << ": " << a->objectName().toStdString() << " and "
                            << b->objectName().toStdString();
                    }
                }
            }
        };
        checkControls(dock, "dock");
        // Its width is whole: it scrolls up and down only (with text twice
        // as large on a narrow screen, sideways too).
        auto* scroll = dock->findChild<QScrollArea*>(QStringLiteral("scrDryRun"));
        ASSERT_NE(scroll, nullptr);
        if (size.scale == 1) {
            EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible())
                << scroll->widget()->minimumSizeHint().width() << " in " << scroll->width();
        }
        checkControls(form->findChild<QWidget*>(QStringLiteral("ProgramTab")), "Program tab");
        if (size.machineView) {
            // The machine view shares the dock's place; shown, its buttons are whole too.
            auto* machineDock = form->findChild<QDockWidget*>(QStringLiteral("dckMachine"));
            ASSERT_NE(machineDock, nullptr);
            machineDock->raise();
            QCoreApplication::processEvents();
            EXPECT_TRUE(form->rect().contains(machineDock->geometry()));
            checkControls(machineDock, "machine view");
        }
        // The Motion tab beside the docks: its buttons whole (its fields scroll).
        form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0);
        QCoreApplication::processEvents();
        checkControls(form->findChild<QWidget*>(QStringLiteral("MotionTab")), "Motion tab");
        form.reset();
    }
    QApplication::setFont(usual);
}

#ifndef KQM_SANITIZED // the sanitizers keep freed memory aside
// A run of ten million lines keeps an even sample of itself: the window's
// memory after it is within 50 MB of where it was before.
TEST_F(DryRunWindowTest, ALongRunKeepsItsMemoryBounded) {
    const auto residentMb = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1.0;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        return -1.0;
    };
    test::WriteProgramFile(dir.filePath("long.mdb"),
                           {{"W1"}, {"&0_255"}, {"&0_255"}, {"&0_75"}, {"Q"}});
    form = makeWindow(clock, port);
    form->Form_Load();
    form->show();
    dialogs.choose(dir.filePath("long.mdb"));
    click("cmdOpen");
    form->findChild<QAction*>(QStringLiteral("mnuDryRun"))->trigger();
    auto* panel = form->findChild<dryrun::DryRunPanel*>();
    panel->spnDryTimeLimit->setValue(10000);
    const double before = residentMb();
    ASSERT_GT(before, 0);
    QTest::mouseClick(panel->cmdDryRun, Qt::LeftButton);
    while (panel->isRunning())
        clock.advance(0.04);
    EXPECT_EQ(dryrun::runEndName(panel->run()->end()), QStringLiteral("quit"));
    EXPECT_GT(panel->run()->linesExecuted(), 9000000);
    EXPECT_LT(residentMb() - before, 50);
}
#endif

// Trace on Unit from the panel: a unit that holds another program runs
// nothing and the user is told; one whose motor is slower than the model is
// drawn over it, the report says so, and one click takes the fitted value
// for the axis; F12 in the middle of a trace ends it and stops the unit.
TEST_F(DryRunWindowTest, TraceOnUnitShowsTheUnitOverTheModel) {
    port.line().setProgramRunner(dryrun::unitProgramRunner(400));
    const QStringList program{"A10", "B300", "M3000", "N3000\r@0G", "F", "W300", "N1000\r@0G", "Q"};
    QVector<test::Line> lines;
    for (const QString& command : program)
        lines.push_back({command});
    test::WriteProgramFile(dir.filePath("trace.mdb"), lines);
    form = makeWindow(clock, port);
    form->Form_Load();
    form->resize(1400, 800);
    form->show();
    dialogs.choose(dir.filePath("trace.mdb"));
    click("cmdOpen");
    form->findChild<QAction*>(QStringLiteral("mnuDryRun"))->trigger();
    auto* panel = form->findChild<dryrun::DryRunPanel*>();
    ASSERT_NE(panel, nullptr);
    messages.clear();

    QTest::mouseClick(panel->cmdDryTrace, Qt::LeftButton);
    EXPECT_TRUE(messages.texts().join(' ').contains(QStringLiteral("Nothing was run: the unit holds no program")))
        << messages.texts().join(' ').toStdString();
    EXPECT_FALSE(panel->showsTrace());

    QByteArray frames = "@0E0\r";
    for (const QString& command : program)
        frames += "@0" + command.toLatin1() + '\r';
    port.unit().receive(frames);
    QTest::mouseClick(panel->cmdDryTrace, Qt::LeftButton);
    const QString report = panel->lblDryTrace->text();
    EXPECT_TRUE(report.contains(QStringLiteral("standstill"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("longer than the model"))) << report.toStdString();
    ASSERT_TRUE(panel->showsTrace());
    EXPECT_TRUE(panel->pltDryRun->data().traced);
    EXPECT_FALSE(panel->pltDryRun->data().measured.isEmpty());
    EXPECT_EQ(panel->pltDryRun->data().measured.last().y(), 4000);
    ASSERT_TRUE(panel->cmdDryUseFit->isVisible());
    QCoreApplication::processEvents();
    if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty())
        form->grab().save(QDir(target).filePath(QStringLiteral("trace.png")));
    QTest::mouseClick(panel->cmdDryUseFit, Qt::LeftButton);
    EXPECT_NEAR(panel->spnDryAccelUnit->value(), 400, 20);
    EXPECT_EQ(form->settingsTable().preference(QStringLiteral("DryRunAccelUnitAxis0")),
              QString::number(panel->spnDryAccelUnit->value()));
    EXPECT_TRUE(panel->showsTrace()); // the trace stays, with the model refitted
    EXPECT_TRUE(panel->lblDryTrace->text().contains(QStringLiteral("now uses")));

    // F12 while the unit runs: the buttons follow the trace, and the unit stops.
    bool pressed = false;
    bool buttonsFollowed = false;
    const double stopAt = clock.now() + 2.5;
    clock.addListener([&](double now) {
        if (pressed || now < stopAt)
            return;
        pressed = true;
        // No dialog of the panel's can hold the readings up meanwhile.
        buttonsFollowed = !panel->cmdDryTrace->isEnabled() && panel->cmdDryTraceStop->isEnabled() &&
                          !panel->cmdDrySavePlot->isEnabled() && !panel->cmdDryReset->isEnabled();
        QTest::keyClick(form.get(), Qt::Key_F12);
    });
    QTest::mouseClick(panel->cmdDryTrace, Qt::LeftButton);
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(buttonsFollowed);
    EXPECT_TRUE(panel->lblDryTrace->text().contains(QStringLiteral("stopped")))
        << panel->lblDryTrace->text().toStdString();
    EXPECT_FALSE(port.unit().running());
    EXPECT_TRUE(panel->cmdDryTrace->isEnabled());
    EXPECT_FALSE(panel->cmdDryTraceStop->isEnabled());

    // Another program: the trace of this one is no longer shown.
    test::WriteProgramFile(dir.filePath("other.mdb"), {{"A20"}, {"Q"}});
    dialogs.choose(dir.filePath("other.mdb"));
    click("cmdOpen");
    EXPECT_FALSE(panel->showsTrace());
    EXPECT_TRUE(panel->lblDryTrace->text().isEmpty());
    EXPECT_FALSE(panel->pltDryRun->data().traced);
}

} // namespace
