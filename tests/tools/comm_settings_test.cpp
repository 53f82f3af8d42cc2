#include "files/settings_table.h"
#include "link/device_port.h"
#include "main_window/main_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/window_fixture.h"
#include "tools/comm_settings.h"
#include "tools/comm_settings_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm;
using files::SettingsTable;

namespace {

// The main window on a device port: COM 1 is the simulated unit, and what
// each later open gets is recorded.
class CommSettingsTest : public test::WindowFixture {
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

    std::optional<QString> record(int number) {
        SettingsTable settings;
        if (!settings.open(dir.filePath("config.kqm")))
            return std::nullopt;
        return settings.record(number);
    }

    // Opens the dialog from the Setup menu; the driver answers it.
    void openDialog(std::function<void(QDialog*)> driver) {
        test::AnswerModal([driver = std::move(driver)](QDialog* dialog) {
            ASSERT_NE(dialog, nullptr);
            driver(dialog);
        });
        form->findChild<QAction*>(QStringLiteral("mnuCommSettings"))->trigger();
    }

    static QListWidget* list(QDialog* dialog, const char* name) {
        return dialog->findChild<QListWidget*>(QString::fromLatin1(name));
    }
    static void press(QDialog* dialog, const char* name) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(name)),
                          Qt::LeftButton);
    }

    platform::VirtualClock clock;
    QStringList opened; // "device settings" of every open
    simulator::SimulatedPort* unit = nullptr;
    link::DevicePort port{link::settingsFileResolver(dir.filePath("config.kqm")),
                          [this](const QString& device) -> std::unique_ptr<platform::SerialPort> {
                              auto made = std::make_unique<simulator::SimulatedPort>(clock);
                              if (device != link::SimulatedDevice)
                                  made->failOpens(platform::SerialPort::OpenFailure::NotFound,
                                                  device);
                              unit = made.get();
                              return made;
                          }};
};

TEST_F(CommSettingsTest, EntriesAreWrittenExactly) {
    EXPECT_EQ(tools::comPortEntries(), (QStringList{"COM 1", "COM 2", "COM 3", "COM 4"}));
    EXPECT_EQ(tools::baudRateEntries(), (QStringList{"300    [2]", "600    [3]", "1200  [4]",
                                                     "2400  [5]", "4800  [6]", "9600  [7]"}));
}

TEST_F(CommSettingsTest, CancelStillEndsTheConnection) {
    ASSERT_TRUE(form->linkState().UnitConnected);
    openDialog([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Communication Settings"));
        EXPECT_EQ(list(dialog, "lstComPorts")->currentRow(), 0);
        EXPECT_EQ(list(dialog, "lstBaudRates")->currentRow(), 5);
        press(dialog, "btnCancel");
    });
    EXPECT_FALSE(form->linkState().UnitConnected);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblConnected"))->text(),
              QStringLiteral("The Unit is NOT Connected"));
    EXPECT_EQ(record(SettingsTable::ComPort), QStringLiteral("1"));
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(CommSettingsTest, ChangingThePortWritesBothRecordsAndTheNextConnectUsesIt) {
    openDialog([](QDialog* dialog) {
        list(dialog, "lstComPorts")->setCurrentRow(1);
        auto* device = dialog->findChild<QComboBox*>(QStringLiteral("cboDevice"));
        EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("lblDevice"))->text(),
                  QStringLiteral("Device of COM 2:"));
        device->setCurrentIndex(device->findData(link::SimulatedDevice));
        press(dialog, "btnOK");
    });
    EXPECT_EQ(messages.texts(), QStringList{tools::SettingsChangedMessage});
    EXPECT_EQ(record(SettingsTable::ComPort), QStringLiteral("2"));
    EXPECT_EQ(record(SettingsTable::BaudRate), QStringLiteral("9600"));
    EXPECT_EQ(form->linkState().ComPortNumber, 2);
    SettingsTable settings;
    ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
    EXPECT_EQ(settings.portDevice(2), link::SimulatedDevice);

    messages.clear();
    form->cmdConnect_Click();
    EXPECT_TRUE(form->linkState().UnitConnected);
    EXPECT_EQ(port.CommPort(), 2);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->settings(), QStringLiteral("9600,N,8,1"));
}

TEST_F(CommSettingsTest, OkWithoutChangesWritesNothing) {
    SettingsTable settings;
    ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
    settings.setRecord(SettingsTable::BaudRate, QStringLiteral("9600 "));
    settings.close();
    openDialog([](QDialog* dialog) { press(dialog, "btnOK"); });
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(record(SettingsTable::BaudRate), QStringLiteral("9600 ")); // untouched
}

TEST_F(CommSettingsTest, StoredValuesWithoutAnEntry) {
    form->deviceLink().choosePort(7, 19200);
    openDialog([](QDialog* dialog) {
        EXPECT_TRUE(list(dialog, "lstComPorts")->selectedItems().isEmpty());
        EXPECT_TRUE(list(dialog, "lstBaudRates")->selectedItems().isEmpty());
        list(dialog, "lstComPorts")->setCurrentRow(2);
        press(dialog, "btnOK");
    });
    EXPECT_EQ(record(SettingsTable::ComPort), QStringLiteral("3"));
    EXPECT_EQ(record(SettingsTable::BaudRate), QStringLiteral("19200"));
    EXPECT_EQ(form->linkState().BaudRate, 19200);
}

TEST_F(CommSettingsTest, ATypedDevicePathIsKept) {
    openDialog([](QDialog* dialog) {
        list(dialog, "lstComPorts")->setCurrentRow(3);
        dialog->findChild<QComboBox*>(QStringLiteral("cboDevice"))
            ->setEditText(QStringLiteral("/dev/ttyUSB7"));
        press(dialog, "btnOK");
    });
    SettingsTable settings;
    ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
    EXPECT_EQ(settings.portDevice(4), QStringLiteral("/dev/ttyUSB7"));
    EXPECT_EQ(settings.portDevice(1), link::SimulatedDevice);

    // The next connect tries that device and says what went wrong.
    messages.clear();
    form->cmdConnect_Click();
    EXPECT_FALSE(form->linkState().UnitConnected);
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_TRUE(messages.boxes().at(0).text.startsWith(QStringLiteral("Error Opening Com Port4")));
}

} // namespace

namespace {

// A pace shorter than twice a character's time on the line is not offered,
// and a stored one falls back to the sure pace.
TEST(CommSettingsPaces, OnlyWhatTheBaudRateCarries) {
    const struct {
        int baud;
        QList<bool> offered; // 0.1, 0.05, 0.02, 0.01
    } cases[] = {{300, {true, false, false, false}},
                 {600, {true, true, false, false}},
                 {9600, {true, true, true, true}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        tools::frmCommSettings dialog(1, c.baud, {}, {});
        dialog.setPaces({0.01, 0.1, 0.1, 0.1});
        auto* pace = dialog.findChild<QComboBox*>(QStringLiteral("cboSendPace"));
        auto* model = qobject_cast<QStandardItemModel*>(pace->model());
        ASSERT_NE(model, nullptr);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(model->item(i)->isEnabled(), c.offered.at(i)) << i;
        EXPECT_EQ(pace->currentIndex(), c.baud == 9600 ? 3 : 0);
    }
}

// A device the platform gives no description of is listed bare.
TEST(CommSettingsDevices, ADeviceWithoutDescriptionIsListedBare) {
    tools::frmCommSettings dialog(1, 9600, {}, {{"/dev/ttyS0", ""}, {"/dev/ttyUSB0", "FT232R"}});
    auto* device = dialog.findChild<QComboBox*>(QStringLiteral("cboDevice"));
    ASSERT_NE(device->findData(QStringLiteral("/dev/ttyS0")), -1);
    EXPECT_EQ(device->itemText(device->findData(QStringLiteral("/dev/ttyS0"))),
              QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(device->itemText(device->findData(QStringLiteral("/dev/ttyUSB0"))),
              QStringLiteral("/dev/ttyUSB0 - FT232R"));
}

} // namespace
