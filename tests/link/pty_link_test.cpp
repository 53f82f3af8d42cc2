#include "files/settings_table.h"
#include "link/connection.h"
#include "link/link.h"
#include "link/qt_serial_port.h"
#include "platform/clock.h"
#include "support/fake_messages.h"
#include "support/pty_unit.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

using PtyUnit = test::PtyUnit;

TEST(PseudoTerminal, IdentifiesTheSimulatedUnitThroughQSerialPort) {
    PtyUnit unit(QStringLiteral(KQMCTL_PATH), {QStringLiteral("--model"), QStringLiteral("KQM21"),
                                               QStringLiteral("--axis"), QStringLiteral("2")});
    ASSERT_TRUE(unit.device().startsWith(QStringLiteral("/dev/")));

    platform::SystemClock clock;
    test::FakeMessages messages;
    link::QtSerialPort port(unit.device());
    link::LinkState state;
    state.AxisAddress = QStringLiteral("2");
    link::Link deviceLink(port, clock, messages, state);
    link::Connection connection(deviceLink);

    ASSERT_TRUE(connection.OpenComPort(9600, 1)) << state.LastCommError.toStdString();
    EXPECT_TRUE(port.CTSHolding()); // a pseudo-terminal has no modem lines
    ASSERT_TRUE(connection.IdentifyUnit(state.AxisAddress));
    EXPECT_EQ(state.UnitModel, QStringLiteral("KQM21"));

    deviceLink.writeFrame(QStringLiteral("VJ"));
    deviceLink.Delay(0.05);
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("1500\r"));
    EXPECT_TRUE(deviceLink.TransmitPaced(QStringLiteral("VE"), 0.5));
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("Q\r*"));
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST(PseudoTerminal, KqmctlConnectReportsTheModelOrTheFailure) {
    PtyUnit unit(QStringLiteral(KQMCTL_PATH), {});
    ASSERT_FALSE(unit.device().isEmpty());
    QProcess connect;
    connect.start(QStringLiteral(KQMCTL_PATH), {"connect", "--port", unit.device()});
    ASSERT_TRUE(connect.waitForFinished(20000));
    EXPECT_EQ(connect.exitCode(), 0);
    EXPECT_EQ(connect.readAllStandardOutput(), QByteArray("KQM20\n"));

    connect.start(QStringLiteral(KQMCTL_PATH), {"connect", "--port", unit.device(), "--axis", "9"});
    ASSERT_TRUE(connect.waitForFinished(20000));
    EXPECT_EQ(connect.exitCode(), 1);
    const QString err = QString::fromUtf8(connect.readAllStandardError());
    EXPECT_TRUE(err.startsWith(QStringLiteral("Did Not Connect\nThe unit did not CONNECT.")))
        << err.toStdString();

    connect.start(QStringLiteral(KQMCTL_PATH), {"connect", "--axis", "40"});
    ASSERT_TRUE(connect.waitForFinished(20000));
    EXPECT_EQ(connect.exitCode(), 2);
}

} // namespace
