#include "link/terminal.h"
#include "link_fixture.h"

#include <QColor>

#include <gtest/gtest.h>

using namespace kqm;
using link::Link;

namespace {

class LinkTest : public ::testing::Test, public test::LinkFixture {};

// The progress line as the window shows the link's progress: blue while
// transmitting, purple and empty when it ends.
struct ProgressSpy {
    explicit ProgressSpy(Link& link) {
        QObject::connect(&link, &Link::progressStarted, &link,
                         [this] { colours << QColor(0, 0, 255); });
        QObject::connect(&link, &Link::progressChanged, &link, [this](int sent, int total) {
            captions << link::transmittingCaption(sent, total);
        });
        QObject::connect(&link, &Link::progressEnded, &link, [this] {
            colours << QColor(128, 0, 128);
            captions << QString();
        });
    }
    QStringList captions;
    QList<QColor> colours;
};

TEST_F(LinkTest, PacedTransmissionPausesEchoesAndShowsProgress) {
    state.DebugMode = link::LinkState::DebugModeOn;
    QSignalSpy echo(&deviceLink, &Link::debugEcho);
    ProgressSpy progress(deviceLink);

    ASSERT_TRUE(deviceLink.TransmitPaced(QStringLiteral("VE"), 0.5, true));
    EXPECT_EQ(port.written(), QByteArray("VE\r"));
    const auto& writes = port.writes();
    ASSERT_EQ(writes.size(), 3);
    EXPECT_GE(writes[1].at - writes[0].at, 0.1 - 1e-9);
    EXPECT_GE(writes[2].at - writes[1].at, 0.2 - 1e-9);

    QStringList echoed;
    for (const auto& args : echo)
        echoed << args.at(0).toString();
    EXPECT_EQ(echoed, (QStringList{"v", "e", "\r\n", "\r"}));
    EXPECT_EQ(progress.captions, (QStringList{" TRANSMITTING: 50%", " TRANSMITTING: 100%", ""}));
    EXPECT_EQ(progress.colours.first(), QColor(0, 0, 255));
    EXPECT_EQ(progress.colours.last(), QColor(128, 0, 128));

    // The unit answered the upload request.
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("Q\r*"));
}

TEST_F(LinkTest, CtsHeldFalseFailsTheFirstCharacterAndClosesThePort) {
    state.UnitConnected = true;
    port.unit().faults().ctsFalse = true;
    QSignalSpy status(&deviceLink, &Link::connectionStatusChanged);
    ProgressSpy progress(deviceLink);

    EXPECT_FALSE(deviceLink.TransmitPaced(QStringLiteral("VE"), 0.5, true));
    EXPECT_TRUE(port.written().isEmpty());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(state.UnitConnected);
    EXPECT_EQ(state.LastCommError, link::CtsBusyError);
    ASSERT_FALSE(status.isEmpty());
    EXPECT_FALSE(status.last().at(0).toBool());
    EXPECT_EQ(progress.captions.last(), QString());
    EXPECT_EQ(progress.colours.last(), QColor(128, 0, 128));
    EXPECT_GE(clock.now(), 0.5);
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST_F(LinkTest, ReadReplyWaitsForThePauseAndReportsSilence) {
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("False"));
    EXPECT_EQ(state.LastCommError, link::NoDataError);
    EXPECT_NEAR(clock.now(), 0.5, 0.02);

    // Two bursts 0.05 s apart are one reply.
    state.LastCommError.clear();
    port.unit().faults().burstSize = 3;
    port.unit().faults().burstGap = 0.05;
    deviceLink.writeFrame(QStringLiteral("$"));
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("KQM20  1.65\r"));
    EXPECT_TRUE(state.LastCommError.isEmpty());

    // A gap longer than the pause splits it.
    port.unit().faults().burstSize = 6;
    port.unit().faults().burstGap = 0.3;
    deviceLink.writeFrame(QStringLiteral("$"));
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("KQM20 "));
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral(" 1.65\r"));
}

TEST_F(LinkTest, DirectWritesAreFramedAndNeverEchoed) {
    state.DebugMode = link::LinkState::DebugModeOn;
    state.AxisAddress = QStringLiteral("3");
    QSignalSpy echo(&deviceLink, &Link::debugEcho);
    deviceLink.writeFrame(QStringLiteral("J1500"));
    EXPECT_EQ(port.written(), QByteArray("@3J1500\r"));
    EXPECT_TRUE(echo.isEmpty());
    EXPECT_EQ(port.unit().jogSpeed(), 1500);
    for (const auto& write : port.writes())
        EXPECT_EQ(write.at, 0.0); // no pause between the pieces
}

TEST_F(LinkTest, TerminalSendsUpperCaseAndReportsCtsOnce) {
    EXPECT_TRUE(deviceLink.TransmitTerminalText(QStringLiteral("A")));
    EXPECT_EQ(port.written(), QByteArray("A"));
    EXPECT_FALSE(deviceLink.TransmitTerminalText(QString()));

    port.unit().faults().ctsFalse = true;
    EXPECT_FALSE(deviceLink.TransmitTerminalText(QStringLiteral("BC")));
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).text, link::CtsBusyError);
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::None);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(port.written(), QByteArray("A"));
}

TEST_F(LinkTest, ReportNotConnectedClearsTheFlagAndExplains) {
    state.UnitConnected = true;
    deviceLink.exchanges().reportNotConnected();
    EXPECT_FALSE(state.UnitConnected);
    EXPECT_TRUE(port.PortOpen());
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).text,
              QStringLiteral("The KQM20 unit is not connected!  \r\n\r\nThe KQM20 unit must be "
                             "ONLINE before you can send any information. \r\nGo to the Setup "
                             "Menu to configure the Com Port and CONNECT to the unit."));
}

TEST_F(LinkTest, LostPortShowsTheUnitAsGone) {
    state.UnitConnected = true;
    QSignalSpy status(&deviceLink, &Link::connectionStatusChanged);
    port.unplug();
    EXPECT_FALSE(state.UnitConnected);
    ASSERT_EQ(status.size(), 1);
    EXPECT_TRUE(state.LastCommError.contains(QStringLiteral("unplugged")));
    EXPECT_EQ(deviceLink.ReadReply(), QStringLiteral("False"));
}

TEST_F(LinkTest, BusyStateRefusesASecondExchange) {
    EXPECT_FALSE(deviceLink.exchanges().refuseWhenBusy());
    {
        Link::Exchange exchange(deviceLink);
        EXPECT_TRUE(deviceLink.exchanges().isBusy());
        EXPECT_TRUE(deviceLink.exchanges().refuseWhenBusy());
        deviceLink.exchanges().requestAbort();
        const double before = clock.now();
        deviceLink.Delay(5.0); // an aborted exchange waits no more
        EXPECT_EQ(clock.now(), before);
    }
    EXPECT_FALSE(deviceLink.exchanges().isBusy());
    EXPECT_EQ(messages.texts(), QStringList{link::BusyMessage});
}

TEST(TerminalText, TrimsPastFiveThousandCharacters) {
    const QString full(5000, QLatin1Char('x'));
    EXPECT_EQ(link::trimTerminalText(full), full);
    QString over = QString(3999, QLatin1Char('a')) + QString(1002, QLatin1Char('b'));
    EXPECT_EQ(link::trimTerminalText(over), QString(1002, QLatin1Char('b')));
}

TEST(DebugCounterTest, UnlocksOnlyAfterEnoughClicksOnTheTerminalTab) {
    test::LinkFixture line;
    const link::LinkState& state = line.state;
    link::DebugCounter counter(line.deviceLink);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(counter.tabControlClicked(2));
    counter.tabChosen(1); // leaving for the Program tab starts again
    EXPECT_EQ(state.DebugMode, 0);
    for (int i = 0; i < link::LinkState::DebugModeOn; ++i)
        EXPECT_FALSE(counter.tabControlClicked(2));
    EXPECT_TRUE(state.debugEchoOn());
    EXPECT_TRUE(counter.tabControlClicked(2)); // switches the debug tab on
    counter.tabChosen(0);
    EXPECT_FALSE(counter.tabControlClicked(3));
    EXPECT_TRUE(state.debugEchoOn()); // stays on for the run
}

} // namespace

namespace {

// The far end's state that the link keeps: whatever wrote last (the
// Terminal, a stop, a send), the next frame is a frame of its own and goes
// to the unit it names, and the upload request reaches the connected unit.
TEST(FarEnd, EveryWriterKeepsTheLineSound) {
    const struct {
        const char* name;
        const char* typed; // in the Terminal, before the action
        bool stop;         // then Stop Motion; else the upload request
        QByteArray wire;   // what follows the typed text on the wire
    } cases[] = {
        {"Stop after a half-typed frame", "@0S\r@0M100", true, "\r@0.\r"},
        {"Stop after a whole frame", "@0S\r", true, "@0.\r"},
        {"the request after a unit was named by hand", "@3$\r", false, "@0$\rVE\r"},
        {"the request after a half frame naming another unit", "@3", false, "\r@0$\rVE\r"},
        {"the request after the connected unit was named", "@0$\r", false, "VE\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LinkFixture fixture;
        fixture.port.addUnit(QStringLiteral("KQM21"), 3);
        fixture.port.addUnit(QStringLiteral("KQM20"), 7);
        fixture.state.UnitConnected = true;
        fixture.deviceLink.TransmitTerminalText(QString::fromLatin1(c.typed));
        fixture.port.clearWrites();
        if (c.stop) {
            fixture.deviceLink.stopMotion();
        } else {
            link::Link::Exchange exchange(fixture.deviceLink);
            fixture.deviceLink.recovery().nameConnectedUnit();
            fixture.deviceLink.TransmitPaced(QStringLiteral("VE"), 0.5);
        }
        EXPECT_EQ(fixture.port.written(), c.wire);
        EXPECT_FALSE(fixture.deviceLink.farEnd().frameMayBeOpen());
        EXPECT_EQ(fixture.deviceLink.farEnd().addressedAxis(), QStringLiteral("0"));
        EXPECT_FALSE(fixture.port.unit().moving());
    }
}

} // namespace

namespace {

// Work of many exchanges holds the line as one: busy from its start to its
// end, its own exchanges begin within it, anything else is refused and told
// what runs, and Stop Motion ends the whole of it.
TEST(LongExchange, HoldsTheLineBetweenItsOwnExchanges) {
    test::LinkFixture line;
    line.state.UnitConnected = true;
    QList<bool> busy;
    QObject::connect(&line.deviceLink, &link::Link::busyChanged,
                     [&busy](bool now) { busy << now; });
    {
        auto held = line.deviceLink.exchanges().tryBeginLong(QStringLiteral("a machine send"));
        ASSERT_TRUE(held);
        for (int unit = 0; unit < 2; ++unit) {
            const auto own = line.deviceLink.exchanges().tryBeginWithoutUnit(&*held);
            ASSERT_TRUE(own);
            // Inside one of its exchanges, not even the holder starts another.
            EXPECT_FALSE(line.deviceLink.exchanges().tryBeginWithoutUnit(&*held));
        }
        EXPECT_TRUE(line.deviceLink.exchanges().isBusy());
        line.messages.clear();
        EXPECT_FALSE(line.deviceLink.exchanges().tryBegin());
        EXPECT_FALSE(line.deviceLink.exchanges().tryBeginLong(QStringLiteral("a pace test")));
        ASSERT_EQ(line.messages.texts().size(), 2);
        EXPECT_TRUE(line.messages.texts().at(0).startsWith(
            "The unit is busy with a machine send. Please wait until it has finished"));
        EXPECT_EQ(line.deviceLink.background().ask(QStringLiteral("VZ")).outcome,
                  link::Link::BackgroundOutcome::LineBusy);
        EXPECT_FALSE(held->stopped());
        line.deviceLink.stopMotion();
        EXPECT_TRUE(held->stopped());
        held->forgetStop();
        EXPECT_FALSE(held->stopped());
    }
    EXPECT_EQ(busy, (QList<bool>{true, false}));
    EXPECT_FALSE(line.deviceLink.exchanges().isBusy());
    EXPECT_TRUE(line.deviceLink.exchanges().tryBegin());
}

} // namespace
