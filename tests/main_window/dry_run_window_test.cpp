#include "dryrun/dry_run_panel.h"
#include "dryrun/run_plot.h"
#include "files/settings_table.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>

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

} // namespace
