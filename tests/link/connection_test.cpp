#include "files/settings_table.h"
#include "link/connection.h"
#include "link/device_port.h"
#include "link/unit_scan.h"
#include "link_fixture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm;
using files::SettingsTable;
using platform::MessageIcon;

namespace {

class ConnectionTest : public ::testing::Test, public test::LinkFixture {
protected:
    void SetUp() override {
        port.Close();
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("config.kqm"));
        QString error;
        ASSERT_TRUE(SettingsTable::createDefaultFile(path, &error));
        ASSERT_TRUE(settings.open(path));
    }

    QTemporaryDir dir;
    SettingsTable settings;
    link::Connection connection{deviceLink};

    // The connection reads the stored settings afresh at each attempt.
    bool connectAction() { return connection.connectAction(files::readCommSettings(settings)); }
    int loadCommSettings() {
        return connection.LoadCommSettings(files::readCommSettings(settings));
    }
    int chooseAxis(int index) {
        const int item = connection.chooseAxis(index);
        files::storeAxisAddress(settings, state.AxisAddress, messages);
        return item;
    }
};

TEST_F(ConnectionTest, IdentifiesAKqm20WithTheGreetingFrames) {
    state.AxisAddress = QStringLiteral("0");
    ASSERT_TRUE(connectAction());
    EXPECT_TRUE(state.UnitConnected);
    EXPECT_EQ(state.UnitModel, QStringLiteral("KQM20"));
    EXPECT_EQ(port.settings(), QStringLiteral("9600,N,8,1"));
    EXPECT_EQ(port.CommPort(), 1);
    EXPECT_EQ(port.written(), QByteArray("\r@0.\r@0!\r@0$\r"));
    // Half a second before each frame; the reply to "!" is read (one more
    // 0.1 s pause) before the version query.
    const auto times = timesOf("@");
    ASSERT_EQ(times.size(), 3);
    EXPECT_NEAR(times[0], 0.5, 1e-6);
    EXPECT_NEAR(times[1], 1.0, 1e-6);
    EXPECT_NEAR(times[2], 1.6, 1e-6);
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(ConnectionTest, IdentifiesAKqm21AtAnyAxis) {
    port.unit().setModel(QStringLiteral("KQM21"));
    port.unit().setAxis(17);
    chooseAxis(17);
    EXPECT_EQ(settings.record(SettingsTable::Axis), QStringLiteral("17"));
    ASSERT_TRUE(connectAction());
    EXPECT_EQ(state.UnitModel, QStringLiteral("KQM21"));
    EXPECT_TRUE(port.written().startsWith("\r@17."));
}

TEST_F(ConnectionTest, RefusedRepliesEndOfflineWithBothMessages) {
    const struct {
        const char* name;
        void (*setUp)(simulator::SimulatedUnit&);
    } cases[] = {
        {"lower case",
         [](simulator::SimulatedUnit& u) {
             u.setModel(QStringLiteral("kqm21"));
         }},
        {"leading blank",
         [](simulator::SimulatedUnit& u) {
             u.setModel(QStringLiteral(" KQM20"));
         }},
        {"silent",
         [](simulator::SimulatedUnit& u) {
             u.faults().silent = true;
         }},
        {"garbage",
         [](simulator::SimulatedUnit& u) {
             u.faults().garbage = true;
         }},
        {"wrong axis",
         [](simulator::SimulatedUnit& u) {
             u.setAxis(5);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        simulator::SimulatedPort fresh(clock);
        c.setUp(fresh.unit());
        link::Link freshLink(fresh, clock, messages, state);
        link::Connection attempt(freshLink);
        state.UnitModel = QStringLiteral("KQM21");
        messages.clear();
        EXPECT_FALSE(attempt.connectAction(files::readCommSettings(settings)));
        EXPECT_FALSE(state.UnitConnected);
        EXPECT_EQ(state.UnitModel, QStringLiteral("KQM20"));
        EXPECT_FALSE(fresh.PortOpen());
        ASSERT_EQ(messages.boxes().size(), 2);
        EXPECT_EQ(messages.boxes().at(0).text, link::DidNotConnectError);
        EXPECT_EQ(messages.boxes().at(0).icon, MessageIcon::None);
        EXPECT_EQ(messages.boxes().at(1).text,
                  QStringLiteral("The unit did not CONNECT.  \r\rPlease check Baud Rate Setting, "
                                 "Baud Rate Switches, Axis Setting, Cables, Com Port Setting "
                                 "and Power."));
        EXPECT_EQ(messages.boxes().at(1).icon, MessageIcon::Critical);
    }
}

TEST_F(ConnectionTest, StaleDataIsShownAndTheAttemptGoesOn) {
    port.unit().faults().staleOnOpen = "old reply";
    ASSERT_TRUE(connectAction());
    EXPECT_EQ(messages.texts(),
              QStringList{QStringLiteral("This data was in the serial port [old reply]")});
}

TEST_F(ConnectionTest, PortThatCannotBeOpenedSaysWhy) {
    settings.setRecord(SettingsTable::ComPort, QStringLiteral("2"));
    port.failOpens(platform::SerialPort::OpenFailure::Busy, QStringLiteral("busy"));
    EXPECT_FALSE(connectAction());
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_EQ(messages.boxes().at(0).text,
              QStringLiteral("Error Opening Com Port2 - The com port is already open by another "
                             "device (mouse, modem, etc.) or it does not exist. (simulated unit: "
                             "busy)"));

    messages.clear();
    port.failOpens(platform::SerialPort::OpenFailure::PermissionDenied, QStringLiteral("denied"));
    EXPECT_FALSE(connectAction());
    ASSERT_EQ(messages.boxes().size(), 2);
    EXPECT_TRUE(messages.boxes().at(0).text.contains(QStringLiteral("dialout")));

    port.failOpens(platform::SerialPort::OpenFailure::None, QString());
    ASSERT_TRUE(port.open());
    EXPECT_FALSE(connection.OpenComPort(9600, 2));
    // The port control still holds the number of the last attempt.
    EXPECT_EQ(state.LastCommError, QStringLiteral("Com Port 2 is already open"));
}

TEST_F(ConnectionTest, ConnectingAgainReidentifies) {
    ASSERT_TRUE(connectAction());
    port.clearWrites();
    ASSERT_TRUE(connectAction());
    EXPECT_EQ(port.written(), QByteArray("\r@0.\r@0!\r@0$\r"));
}

TEST_F(ConnectionTest, ChoosingAnAxisStoresItAndEndsTheConnection) {
    ASSERT_TRUE(connectAction());
    EXPECT_EQ(chooseAxis(12), 12);
    EXPECT_EQ(settings.record(SettingsTable::Axis), QStringLiteral("12"));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(state.UnitConnected);
    EXPECT_TRUE(messages.boxes().isEmpty());
    port.open();
    port.clearWrites();
    deviceLink.writeFrame(QStringLiteral("$"));
    EXPECT_EQ(port.written(), QByteArray("@12$\r"));
}

TEST_F(ConnectionTest, LoadCommSettingsReadsAndRepairsStoredValues) {
    const struct {
        QString stored;
        QString address;
        int item;
        int boxes;
    } cases[] = {{"5 ", "5", 5, 0}, {"B", "B", 11, 0}, {"31", "31", 31, 0}, {"12x", "12", 12, 0},
                 {"45", "0", 0, 1}, {"G", "G", -1, 0}, {"", "", -1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        settings.setRecord(SettingsTable::Axis, c.stored);
        messages.clear();
        EXPECT_EQ(loadCommSettings(), c.item);
        EXPECT_EQ(state.AxisAddress, c.address);
        EXPECT_EQ(messages.boxes().size(), c.boxes);
    }

    settings.setRecord(SettingsTable::ComPort, QStringLiteral("COM3"));
    settings.setRecord(SettingsTable::BaudRate, QStringLiteral("fast"));
    messages.clear();
    loadCommSettings();
    EXPECT_EQ(messages.boxes().size(), 2);
    EXPECT_EQ(state.ComPortNumber, 1);
    EXPECT_EQ(state.BaudRate, 9600);

    settings.setRecord(SettingsTable::ComPort, QStringLiteral("3"));
    settings.setRecord(SettingsTable::BaudRate, QStringLiteral("2400"));
    loadCommSettings();
    EXPECT_EQ(state.ComPortNumber, 3);
    EXPECT_EQ(state.BaudRate, 2400);
}

TEST_F(ConnectionTest, UnplugDuringIdentificationReportsTheError) {
    ASSERT_TRUE(connection.OpenComPort(9600, 1));
    clock.addListener([this](double now) {
        if (now > 0.7)
            port.unplug();
    });
    EXPECT_FALSE(connection.IdentifyUnit(QStringLiteral("0")));
    EXPECT_FALSE(state.UnitConnected);
    EXPECT_EQ(messages.texts(), QStringList{link::ConnectErrorMessage});
}

TEST_F(ConnectionTest, PortLostDuringIdentificationShowsTwoBoxes) {
    clock.addListener([this](double now) {
        if (now > 0.7)
            port.unplug();
    });
    EXPECT_FALSE(connectAction());
    EXPECT_EQ(messages.texts(),
              (QStringList{link::ConnectErrorMessage, link::didNotConnectMessage()}));
    EXPECT_TRUE(state.LastCommError.isEmpty());
}

// The simulated unit that the tool chose because no port was there gives
// way to a real adapter at a later start; the user's own choice stays.
TEST_F(ConnectionTest, AnAutomaticSimulatedUnitGivesWayToARealAdapter) {
    const auto nothing = [] {
        return QStringList{"sim", "", "", ""};
    };
    const auto adapter = [] {
        return QStringList{"/dev/ttyUSB0", "/dev/ttyS0", "", ""};
    };
    link::ensurePortDevices(settings, nothing);
    EXPECT_EQ(settings.portDevice(1), QStringLiteral("sim"));
    link::ensurePortDevices(settings, nothing);
    EXPECT_EQ(settings.portDevice(1), QStringLiteral("sim"));
    link::ensurePortDevices(settings, adapter);
    EXPECT_EQ(settings.portDevice(1), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(settings.portDevice(2), QString()); // a port the user left empty stays so

    settings.setPortDevice(1, QStringLiteral("sim")); // the user's choice
    link::ensurePortDevices(settings, adapter);
    EXPECT_EQ(settings.portDevice(1), QStringLiteral("sim"));
}

TEST_F(ConnectionTest, AStoredBaudRateOfZeroIsNoRateRatherThanNoNumber) {
    settings.setRecord(SettingsTable::BaudRate, QStringLiteral("0"));
    loadCommSettings();
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("not a rate")));
    EXPECT_EQ(state.BaudRate, 9600);
    messages.clear();
    settings.setRecord(SettingsTable::BaudRate, QStringLiteral("fast"));
    loadCommSettings();
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("not a number")));
}

} // namespace

namespace {

// A send cut off in another process (killed, the cable pulled) leaves the
// unit storing frames, perhaps with half a frame in its buffer, and the
// link here knows nothing of it. The connect and a scan's question reach it
// again, and say that its program memory must be sent again.
TEST(LeftInProgramEntry, ConnectAndScanReachTheUnitAgain) {
    const struct {
        const char* name;
        QByteArray left; // what the cut-off send put on the line
        bool storing;    // the unit is still in program entry
    } cases[] = {
        {"entry open", "\r@0E0\r@0A10\r", true},
        {"entry open, half a frame", "\r@0E0\r@0A10\r@0W", true},
        {"half a frame only", "@0A1", false},
    };
    for (const auto& c : cases) {
        for (const bool scan : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (scan ? ", scan" : ", connect"));
            test::LinkFixture line;
            line.port.unit().receive(c.left);
            ASSERT_EQ(line.port.unit().inProgramEntry(), c.storing);
            bool reached = false;
            bool told = false;
            {
                link::Link::Exchange exchange(line.deviceLink);
                if (scan) {
                    const auto found = link::askUnitAt(line.deviceLink, 0);
                    reached = found.has_value();
                    told = found && found->leftStoring;
                } else {
                    reached = link::Connection(line.deviceLink).IdentifyUnit("0");
                    told = line.messages.texts().contains(link::leftStoringMessage("0"));
                }
            }
            EXPECT_TRUE(reached);
            EXPECT_EQ(told, c.storing);
            EXPECT_FALSE(line.port.unit().inProgramEntry());
            // What the cut-off send left cannot run: the memory is empty.
            if (c.storing) {
                EXPECT_EQ(line.port.unit().program().size(), 1);
            }
            // The stop of the greeting was executed, never swallowed.
            if (!scan) {
                EXPECT_TRUE(line.port.unit().frames().contains("@0."));
            }
        }
    }
}

} // namespace
