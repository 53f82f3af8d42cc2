#include "link/motion_panel.h"
#include "link/readout.h"
#include "link_fixture.h"
#include "platform/busy_cursor.h"
#include "program/command_rules.h"
#include "transfer/send.h"

#include <QMap>

#include <gtest/gtest.h>

using namespace kqm;
using link::MotionControl;

namespace {

class MotionTest : public ::testing::Test, public test::LinkFixture {
protected:
    void SetUp() override {
        state.UnitConnected = true;
        state.AxisAddress = QStringLiteral("3");
    }
    // Frames written since the last call, each with the time it started.
    QList<QPair<double, QByteArray>> frames() {
        QList<QPair<double, QByteArray>> result;
        QByteArray current;
        double start = 0;
        for (const auto& write : port.writes()) {
            if (current.isEmpty())
                start = write.at;
            current += write.byte;
            if (write.byte == '\r') {
                result << qMakePair(start, current);
                current.clear();
            }
        }
        port.clearWrites();
        return result;
    }
    platform::CountingBusyCursor cursor;
    link::MotionPanel panel{deviceLink, messages, cursor};
};

TEST_F(MotionTest, EveryControlWritesItsFramesAndWaits) {
    const struct {
        MotionControl control;
        QString operand;
        QList<QByteArray> frames;
        double wait;
        bool readout;
    } cases[] = {
        {MotionControl::SendAccel, "16", {"@3A16\r"}, 0.5, true},
        {MotionControl::SendBase, "500", {"@3B500\r"}, 0.5, true},
        {MotionControl::SendMax, "1500", {"@3M1500\r"}, 0.5, true},
        {MotionControl::JogSpeed, "1500", {"@3J1500\r"}, 0.5, true},
        {MotionControl::AbsolutePosition, "7.5", {"@3Z7\r"}, 0.5, true},
        {MotionControl::DirPlus, "", {"@3+\r"}, 0.5, true},
        {MotionControl::DirMinus, "", {"@3-\r"}, 0.5, true},
        {MotionControl::SendGo, "400", {"@3N400\r", "@3G\r"}, 0.6, false},
        {MotionControl::AbsoluteMove, "0", {"@3P0\r", "@3G\r"}, 0.2, false},
        {MotionControl::Slew, "", {"@3S\r"}, 0.1, false},
        {MotionControl::HomeType0, "", {"@3H0\r"}, 0.5, false},
        {MotionControl::HomeType1, "", {"@3H1\r"}, 0.5, false},
        {MotionControl::StopAll, "", {"@3.\r"}, 0.0, false},
        {MotionControl::Run, "", {"@3R0\r"}, 0.5, false},
        {MotionControl::Stop, "", {"@3.\r"}, 0.5, false},
        {MotionControl::EnableAutostart, "", {"@3U1\r"}, 0.5, false},
        {MotionControl::DisableAutostart, "", {"@3U0\r"}, 0.5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.control));
        const double start = clock.now();
        EXPECT_EQ(panel.run(c.control, c.operand), c.readout);
        EXPECT_NEAR(clock.now() - start, c.wait, 1e-6);
        const auto written = frames();
        ASSERT_EQ(written.size(), c.frames.size());
        for (qsizetype i = 0; i < written.size(); ++i)
            EXPECT_EQ(written.at(i).second, c.frames.at(i));
        if (written.size() == 2) {
            EXPECT_NEAR(written.at(1).first - written.at(0).first, 0.1, 1e-6);
        }
    }
    EXPECT_EQ(cursor.timesShown(), 2); // the autostart buttons
    EXPECT_EQ(cursor.depth(), 0);
    EXPECT_TRUE(messages.boxes().isEmpty());
}

// The motion panel checks what goes out as the command editor would, and
// names the range; nothing is written for a refused value.
TEST_F(MotionTest, ValuesAreCheckedBeforeAnythingGoesOut) {
    const struct {
        MotionControl control;
        QString operand;
        QString message; // empty: sent
        QByteArray written;
    } cases[] = {
        {MotionControl::SendBase, "abc", program::notANumberMessage("Base Speed", "abc"), ""},
        {MotionControl::SendMax, "99999",
         "Max. Speed: 99999 is outside the range 70 to 20000. Nothing was sent.", ""},
        {MotionControl::SendAccel, "300",
         "Accel/Decel: 300 is outside the range 1 to 255. Nothing was sent.", ""},
        {MotionControl::SendMax, "",
         "Max. Speed: nothing is outside the range 70 to 20000. "
         "Nothing was sent.",
         ""},
        {MotionControl::SendGo, "4,000", program::notANumberMessage("Steps", "4,000"), ""},
        {MotionControl::AbsolutePosition, "-1",
         "Set Position: -1 is outside the range 0 to 8388607. Nothing was sent.", ""},
        {MotionControl::JogSpeed, "fast", program::notANumberMessage("Jog Speed", "fast"), ""},
        {MotionControl::JogSpeed, "99999", "", "@3J99999\r"},
        {MotionControl::AbsoluteMove, "12.9", "", "@3P12\r@3G\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operand.toStdString());
        messages.clear();
        port.clearWrites();
        panel.run(c.control, c.operand);
        if (c.message.isEmpty()) {
            EXPECT_TRUE(messages.boxes().isEmpty());
        } else {
            ASSERT_EQ(messages.boxes().size(), 1);
            EXPECT_TRUE(messages.boxes().at(0).text.startsWith(c.message))
                << messages.boxes().at(0).text.toStdString();
        }
        EXPECT_EQ(port.written(), c.written);
    }
}

TEST_F(MotionTest, Kqm21RegistrationMarkIndex) {
    state.UnitModel = QStringLiteral("KQM21");
    const double start = clock.now();
    EXPECT_TRUE(panel.run(MotionControl::AbsoluteMove, "250"));
    EXPECT_NEAR(clock.now() - start, 0.6, 1e-6);
    EXPECT_EQ(port.written(), QByteArray("@3N250\r"));
}

TEST_F(MotionTest, OutputsAndOfflineClicks) {
    panel.outputClicked(1, true);
    panel.outputClicked(2, true);
    panel.outputClicked(1, false);
    EXPECT_EQ(port.written(), QByteArray("@3O1\r@3O3\r@3O2\r"));
    EXPECT_EQ(port.unit().outputs(), 0); // the unit is at axis 0, these went elsewhere

    state.UnitConnected = false;
    port.clearWrites();
    panel.outputClicked(2, false); // the flag keeps its old value
    EXPECT_EQ(panel.Output2On, 1);
    EXPECT_EQ(messages.boxes().size(), 1);
    state.UnitConnected = true;
    panel.outputClicked(1, true);
    EXPECT_EQ(port.written(), QByteArray("@3O3\r"));

    state.UnitConnected = false;
    messages.clear();
    port.clearWrites();
    for (int control = 0; control <= static_cast<int>(MotionControl::DisableAutostart); ++control)
        panel.run(static_cast<MotionControl>(control), "1");
    EXPECT_TRUE(port.written().isEmpty());
    EXPECT_EQ(messages.boxes().size(), 17);
    EXPECT_EQ(cursor.depth(), 0);
}

TEST_F(MotionTest, StopMotionIsNeverRefusedNorMixedIntoAFrame) {
    {
        link::Link::Exchange other(deviceLink);                 // a readout, say
        EXPECT_FALSE(panel.run(MotionControl::SendAccel, "5")); // refused
        panel.run(MotionControl::StopAll);                      // not refused
    }
    EXPECT_EQ(port.written(), QByteArray("@3.\r"));
    EXPECT_EQ(messages.texts(), QStringList{link::BusyMessage});

    // During a program send the stop never cuts a frame: the line in hand
    // is finished, program entry ends with the quit frame, the stop frame
    // follows. Here that quit is the program's own last line, so the
    // program is in whole.
    port.clearWrites();
    link::Link::Exchange sending(deviceLink);
    program::ProgramRow accel;
    accel.command = QStringLiteral("A10");
    program::ProgramRow quit;
    quit.command = QStringLiteral("Q");
    const auto result = transfer::sendProgram(deviceLink, transfer::prepareSend({accel, quit}, "3"),
                                              [&](int index, QChar) {
                                                  if (index == 8)
                                                      panel.run(MotionControl::StopAll);
                                              });
    EXPECT_EQ(result.outcome, transfer::SendOutcome::Sent);
    EXPECT_EQ(port.written(), QByteArray("\r@3E0\r@3A10\r@3Q\r@3.\r"));
}

// Records what the readout shows.
struct RecordingView final : link::ReadoutView {
    QMap<Label, QString> labels;
    std::optional<int> inputs;
    void setLabel(Label label, const QString& text) override { labels[label] = text; }
    void setInputs(int bits) override { inputs = bits; }
};

class ReadoutTest : public ::testing::Test, public test::LinkFixture {
protected:
    void SetUp() override { state.UnitConnected = true; }
    RecordingView view;
    using Label = link::ReadoutView::Label;
};

TEST_F(ReadoutTest, ANormalUnit) {
    port.unit().setInputs(5);
    port.unit().receive("@0-\r@0N250\r@0A20\r");
    ASSERT_TRUE(link::runReadout(deviceLink, view));
    EXPECT_EQ(port.written(),
              QByteArray("@0VA\r@0VB\r@0VM\r@0VJ\r@0V+\r@0VN\r@0!\r@0VZ\r@0$\r@0I\r"));
    EXPECT_EQ(view.labels[Label::Acceleration], QStringLiteral("Acceleration: 20\r"));
    EXPECT_EQ(view.labels[Label::BaseSpeed], QStringLiteral("Base Speed: 500\r"));
    EXPECT_EQ(view.labels[Label::Direction], QStringLiteral("Direction: CCW"));
    EXPECT_EQ(view.labels[Label::Steps], QStringLiteral("Number of Steps to Move: 250\r"));
    EXPECT_EQ(view.labels[Label::Position], QStringLiteral("Position: 0\r"));
    EXPECT_EQ(view.labels[Label::Error], QStringLiteral("Error Code: 0\r"));
    EXPECT_EQ(view.labels[Label::Version], QStringLiteral("Version: KQM20, Revision 1.65"));
    EXPECT_EQ(view.inputs, 5);
    // Each query waits 0.05 s and the reply's 0.1 s pause.
    EXPECT_NEAR(clock.now(), 10 * 0.15, 1e-6);
}

TEST_F(ReadoutTest, AKqm21HasNoPositionQuery) {
    port.unit().setModel(QStringLiteral("KQM21"));
    state.UnitModel = QStringLiteral("KQM21");
    ASSERT_TRUE(link::runReadout(deviceLink, view));
    EXPECT_FALSE(port.written().contains("VZ"));
    EXPECT_EQ(view.labels[Label::Position], QStringLiteral("Registration Index: 0\r"));
    EXPECT_EQ(view.labels[Label::Version], QStringLiteral("Version: KQM21, Revision 1.65"));
}

TEST_F(ReadoutTest, ASilentUnit) {
    port.unit().faults().silent = true;
    ASSERT_TRUE(link::runReadout(deviceLink, view));
    EXPECT_EQ(view.labels[Label::Acceleration], QStringLiteral("Acceleration: False"));
    EXPECT_EQ(view.labels[Label::Direction], QStringLiteral("Direction: "));
    EXPECT_EQ(view.labels[Label::Version], QStringLiteral("Version: KQMse, Revision "));
    EXPECT_EQ(view.inputs, std::nullopt);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(messages.boxes().isEmpty());
}

TEST(ReadoutText, RepliesOfTheWrongShape) {
    EXPECT_EQ(link::inputBits("5\r"), 5);
    EXPECT_EQ(link::inputBits(" 15 \r\n"), 15);
    EXPECT_EQ(link::inputBits("16\r"), std::nullopt);
    EXPECT_EQ(link::inputBits("A\r"), std::nullopt);
    EXPECT_EQ(link::inputBits("-1"), std::nullopt);
    EXPECT_EQ(link::directionText("1\r"), QStringLiteral("Direction: CW"));
    EXPECT_EQ(link::directionText("X"), std::nullopt);
    EXPECT_EQ(link::versionText("KQM20 "), QStringLiteral("Version: KQM20, Revision "));
    EXPECT_EQ(link::versionText(""), QStringLiteral("Version: KQM, Revision "));
}

TEST(ReadoutOffline, SaysNotConnectedAndSendsNothing) {
    test::LinkFixture offline;
    RecordingView view;
    EXPECT_FALSE(link::runReadout(offline.deviceLink, view));
    EXPECT_TRUE(offline.port.written().isEmpty());
    EXPECT_EQ(offline.messages.boxes().size(), 1);
}

} // namespace
