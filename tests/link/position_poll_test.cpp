#include "link/position_poll.h"
#include "link/readout.h"
#include "link_fixture.h"

#include <QMap>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

struct RecordingView final : link::ReadoutView {
    QMap<Label, QString> labels;
    void setLabel(Label label, const QString& text) override { labels[label] = text; }
    void setInputs(int) override {}
};

class PositionPollTest : public ::testing::Test, public test::LinkFixture {
protected:
    void SetUp() override {
        state.UnitConnected = true;
        QObject::connect(
            &poll, &link::PositionPoll::positionRead, &poll,
            [this](const QString& reply) { readings << reply.trimmed().toLongLong(); });
    }
    qsizetype queries() const { return port.written().count("@0VZ\r"); }

    link::PositionPoll poll{deviceLink, clock};
    QList<qint64> readings;
};

TEST_F(PositionPollTest, FollowsASlewUntilTheMotorStops) {
    deviceLink.writeFrame(QStringLiteral("S"));
    poll.start();
    EXPECT_TRUE(poll.following());
    clock.advance(3.0);
    // About twice a second, each reading further on.
    EXPECT_GE(readings.size(), 5);
    EXPECT_LE(readings.size(), 7);
    for (qsizetype i = 1; i < readings.size(); ++i)
        EXPECT_GT(readings.at(i), readings.at(i - 1));
    EXPECT_TRUE(poll.following()); // a slew never ends by itself

    deviceLink.stopMotion();
    clock.advance(2.0);
    EXPECT_FALSE(poll.following());
    EXPECT_EQ(readings.last(), readings.at(readings.size() - 2));
    const qsizetype asked = queries();
    clock.advance(5.0);
    EXPECT_EQ(queries(), asked);
    EXPECT_TRUE(messages.boxes().isEmpty());
}

// A user's action that starts at any moment of a position query is not
// refused: it takes the line, never reads the query's reply as its own,
// and the following goes on after it.
TEST_F(PositionPollTest, AUserActionDuringAQueryTakesTheLine) {
    port.unit().faults().replyDelay = 0.04;
    deviceLink.writeFrame(QStringLiteral("S"));
    double queryStart = -1;
    double offset = 0;
    bool acted = false;
    RecordingView view;
    clock.addListener([&](double now) {
        if (acted || !deviceLink.background().running())
            return;
        if (queryStart < 0)
            queryStart = now;
        if (now - queryStart < offset)
            return;
        acted = true;
        const auto exchange = deviceLink.exchanges().tryBegin();
        ASSERT_TRUE(exchange.has_value());
        link::runReadout(deviceLink, view);
    });
    for (const double at : {0.0, 0.02, 0.045, 0.06, 0.09, 0.12}) {
        SCOPED_TRACE(at);
        offset = at;
        queryStart = -1;
        acted = false;
        view.labels.clear();
        poll.start();
        clock.advance(1.0);
        ASSERT_TRUE(acted);
        EXPECT_EQ(view.labels[link::ReadoutView::Label::Acceleration],
                  QStringLiteral("Acceleration: 16\r"));
        EXPECT_EQ(view.labels[link::ReadoutView::Label::BaseSpeed],
                  QStringLiteral("Base Speed: 500\r"));
        EXPECT_EQ(view.labels[link::ReadoutView::Label::Version],
                  QStringLiteral("Version: KQM20, Revision 1.65"));
        const qsizetype before = readings.size();
        clock.advance(1.5);
        EXPECT_GT(readings.size(), before);
        EXPECT_TRUE(poll.following());
        EXPECT_FALSE(deviceLink.exchanges().isBusy());
    }
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_FALSE(port.written().contains("@0VZ@")); // frames whole
}

TEST_F(PositionPollTest, EndsQuietlyOrNeverStarts) {
    // A KQM21 cannot tell its position.
    state.UnitModel = QStringLiteral("KQM21");
    poll.start();
    clock.advance(3.0);
    EXPECT_FALSE(poll.following());
    EXPECT_EQ(queries(), 0);

    // A unit that stops answering: given up after a few misses, no message,
    // the connection stays.
    state.UnitModel = QStringLiteral("KQM20");
    deviceLink.writeFrame(QStringLiteral("S"));
    port.unit().faults().silent = true;
    poll.start();
    clock.advance(5.0);
    EXPECT_FALSE(poll.following());
    EXPECT_EQ(queries(), link::PositionPoll::MissesToGiveUp);
    EXPECT_TRUE(state.UnitConnected);
    EXPECT_TRUE(port.PortOpen());

    // One too slow for the query: its late reply is no answer to what is
    // asked next.
    port.unit().faults().silent = false;
    port.unit().faults().replyDelay = 0.8;
    poll.start();
    clock.advance(3.0);
    EXPECT_FALSE(poll.following());
    port.unit().faults().replyDelay = 0;
    RecordingView view;
    {
        const auto exchange = deviceLink.exchanges().tryBegin();
        link::runReadout(deviceLink, view);
    }
    EXPECT_EQ(view.labels[link::ReadoutView::Label::Acceleration],
              QStringLiteral("Acceleration: 16\r"));

    // The connection ends while the motor is followed.
    poll.start();
    clock.advance(1.0);
    ASSERT_TRUE(poll.following());
    deviceLink.disconnectUnit();
    EXPECT_FALSE(poll.following());
    const qsizetype asked = queries();
    clock.advance(3.0);
    EXPECT_EQ(queries(), asked);
    EXPECT_TRUE(messages.boxes().isEmpty());
}

} // namespace
