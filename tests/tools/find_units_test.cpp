#include "files/settings_table.h"
#include "link/device_port.h"
#include "link/link.h"
#include "main_window/main_window.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace kqm;
using files::SettingsTable;

namespace {

// The main window on COM 1, which stands for a line with three simulated
// units: a KQM20 at axis 0, a KQM21 at 3 and a KQM20 at 7.
class FindUnitsTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QString error;
        ASSERT_TRUE(SettingsTable::createDefaultFile(dir.filePath("config.kqm"), &error));
        SettingsTable settings;
        ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
        settings.setPortDevice(1, link::SimulatedDevice);
        for (int p = 2; p <= 4; ++p)
            settings.setPortDevice(p, QString());
        settings.close();
        form = makeWindow(clock, port);
        form->Form_Load();
        messages.clear();
    }

    // Runs Find Units; the driver gets the dialog once its first scan ended.
    void findUnits(std::function<void(QDialog*)> driver) {
        test::AnswerModal([driver = std::move(driver)](QDialog* dialog) {
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->objectName(), QStringLiteral("frmFindUnits"));
            auto* scan = dialog->findChild<QPushButton*>(QStringLiteral("cmdScan"));
            auto* progress = dialog->findChild<QProgressBar*>(QStringLiteral("prgScan"));
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return scan->isEnabled() && progress->value() == progress->maximum(); },
                5000));
            driver(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        form->findChild<QAction*>(QStringLiteral("mnuFindUnits"))->trigger();
    }

    static QStringList rows(QDialog* dialog) {
        auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("tblUnits"));
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table->columnCount(); ++column)
                cells << table->item(row, column)->text();
            texts << cells.join(QLatin1Char(' '));
        }
        return texts;
    }

    QList<int> checkedAxes() {
        QList<int> checked;
        for (int axis = 0; axis < 32; ++axis) {
            if (form->findChild<QAction*>(QStringLiteral("mnuAxisNum(%1)").arg(axis))->isChecked())
                checked << axis;
        }
        return checked;
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort* line = nullptr;
    link::DevicePort port{link::settingsFileResolver(dir.filePath("config.kqm")),
                          [this](const QString&) -> std::unique_ptr<platform::SerialPort> {
                              auto made = std::make_unique<simulator::SimulatedPort>(clock);
                              made->addUnit(QStringLiteral("KQM21"), 3);
                              made->addUnit(QStringLiteral("KQM20"), 7);
                              line = made.get();
                              return made;
                          }};
};

TEST_F(FindUnitsTest, ListsTheUnitsAndTheChosenOneBecomesTheAxis) {
    ASSERT_TRUE(form->linkState().UnitConnected);
    ASSERT_EQ(checkedAxes(), QList<int>{0});
    findUnits([](QDialog* dialog) {
        EXPECT_EQ(rows(dialog), (QStringList{"0 KQM20 1.65", "3 KQM21 1.65", "7 KQM20 1.65"}));
        dialog->findChild<QTableWidget*>(QStringLiteral("tblUnits"))->selectRow(1);
        if (const QString target = qEnvironmentVariable("KQM_SCREENSHOT_DIR"); !target.isEmpty()) {
            dialog->grab().save(QDir(target).filePath(QStringLiteral("find-units.png")));
        }
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdUseAxis")),
                          Qt::LeftButton);
    });
    // As if "Axis 3" had been chosen in the Axis menu.
    EXPECT_EQ(checkedAxes(), QList<int>{3});
    EXPECT_EQ(form->linkState().AxisAddress, QStringLiteral("3"));
    SettingsTable settings;
    ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
    EXPECT_EQ(settings.record(SettingsTable::Axis), QStringLiteral("3"));
    EXPECT_TRUE(messages.boxes().isEmpty());
    // ...and connected to at once, the label naming the unit and its axis.
    EXPECT_TRUE(form->linkState().UnitConnected);
    EXPECT_EQ(form->linkState().UnitModel, QStringLiteral("KQM21"));
    EXPECT_TRUE(form->findChild<QLabel*>(QStringLiteral("lblConnected"))
                    ->text()
                    .contains(QStringLiteral("KQM21 on axis 3, COM 1")));
    EXPECT_EQ(form->deviceLink().farEnd().addressedAxis(), QStringLiteral("3"));
}

TEST_F(FindUnitsTest, OnAClosedPortTheScanOpensItAndClosesItAgain) {
    form->findChild<QAction*>(QStringLiteral("mnuAxisNum(5)"))->trigger();
    ASSERT_FALSE(port.PortOpen());
    ASSERT_NE(line, nullptr);
    line->clearWrites();
    findUnits([](QDialog* dialog) {
        EXPECT_EQ(rows(dialog).size(), 3);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdClose")),
                          Qt::LeftButton);
    });
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(checkedAxes(), QList<int>{5});

    // The dialog's own Stop Motion reaches the connected unit.
    form->findChild<QAction*>(QStringLiteral("mnuAxisNum(7)"))->trigger();
    form->cmdConnect_Click();
    ASSERT_TRUE(form->linkState().UnitConnected);
    line->line().unitAt(7)->receive("@7S\r");
    ASSERT_TRUE(line->line().unitAt(7)->moving());
    findUnits([](QDialog* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdStopMotion")),
                          Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdClose")),
                          Qt::LeftButton);
    });
    EXPECT_FALSE(line->line().unitAt(7)->moving());
    EXPECT_TRUE(line->written().startsWith("\r@0$\r")) << line->written().left(40).toStdString();
}

TEST_F(FindUnitsTest, RefusedWhileAnotherExchangeRuns) {
    link::Link::Exchange exchange(form->deviceLink());
    form->findChild<QAction*>(QStringLiteral("mnuFindUnits"))->trigger();
    EXPECT_EQ(messages.texts(), QStringList{link::BusyMessage});
}

} // namespace
