#include "platform/virtual_clock.h"
#include "simulator/simulated_unit.h"

#include <gtest/gtest.h>

using kqm::platform::VirtualClock;
using kqm::simulator::SimulatedUnit;

namespace {

class SimulatedUnitTest : public ::testing::Test {
protected:
    QByteArray ask(const QByteArray& frame) {
        unit.receive(frame + '\r');
        return unit.takeOutput();
    }
    VirtualClock clock;
    SimulatedUnit unit{clock, QStringLiteral("KQM20"), 1};
};

TEST_F(SimulatedUnitTest, AnswersQueriesAtItsOwnAxisOnly) {
    EXPECT_EQ(ask("@1$"), QByteArray("KQM20  1.65\r"));
    EXPECT_EQ(ask("@2$"), QByteArray());
    EXPECT_EQ(ask("@10$"), QByteArray());
    EXPECT_EQ(ask("@1VA"), QByteArray("16\r"));
    ask("@1B700");
    ask("@1M2000");
    ask("@1-");
    ask("@1N250");
    EXPECT_EQ(ask("@1VB"), QByteArray("700\r"));
    EXPECT_EQ(ask("@1VM"), QByteArray("2000\r"));
    EXPECT_EQ(ask("@1V+"), QByteArray("0\r"));
    EXPECT_EQ(ask("@1VN"), QByteArray("250\r"));
    EXPECT_EQ(ask("@1!"), QByteArray("0\r"));
    ask("@1Axyz");
    EXPECT_EQ(ask("@1!"), QByteArray("1\r"));
    EXPECT_EQ(ask("@1VA"), QByteArray("16\r"));
    unit.setInputs(5);
    EXPECT_EQ(ask("@1I"), QByteArray("5\r"));
    unit.setModel(QStringLiteral("KQM21"));
    EXPECT_EQ(ask("@1VZ"), QByteArray("?\r"));
}

TEST_F(SimulatedUnitTest, MovesWithTheClock) {
    ask("@1M1000");
    ask("@1N500");
    ask("@1G");
    clock.advance(0.25);
    EXPECT_EQ(ask("@1VZ"), QByteArray("250\r"));
    clock.advance(1.0);
    EXPECT_EQ(unit.position(), 500);
    EXPECT_FALSE(unit.moving());
    ask("@1P100");
    ask("@1G");
    clock.advance(1.0);
    EXPECT_EQ(unit.position(), 100);
    ask("@1S");
    clock.advance(0.1);
    ask("@1.");
    EXPECT_EQ(unit.position(), 200);
    clock.advance(1.0);
    EXPECT_EQ(unit.position(), 200);
    ask("@1H0");
    clock.advance(1.0);
    EXPECT_EQ(unit.position(), 0);
}

TEST_F(SimulatedUnitTest, StoresASentProgramAndUploadsIt) {
    for (const QByteArray frame :
         {"@1E0", "@1A10", "@1N500", "@1G", "@1&3_5", "@1P100", "@1G", "@1X7", "@1Q"})
        ask(frame);
    EXPECT_FALSE(unit.inProgramEntry());
    EXPECT_EQ(unit.programBytes(), 3 + 7 + 5 + 7 + 4 + 2);
    EXPECT_EQ(unit.uploadReply(), QByteArray("A10\rN500\rG&5\r3\rP100\rGX7\rQ\r*"));
    EXPECT_EQ(unit.listingReply(), QByteArray("0000 A10\r0003 N500,G\r0010 &5,3\r0015 P100,G\r"
                                              "0022 X7\r0026 Q\r"));
    unit.receive("VE\r");
    EXPECT_EQ(unit.takeOutput(), unit.uploadReply());

    unit.faults().corruptMemory = true;
    EXPECT_TRUE(unit.uploadReply().contains('_'));
}

TEST_F(SimulatedUnitTest, RefusesCommandsPastItsMemory) {
    ask("@1E0");
    for (int i = 0; i < 1023; ++i)
        ask("@1+");
    EXPECT_EQ(unit.programBytes(), 2046);
    ask("@1Q");
    EXPECT_EQ(unit.programBytes(), 2046);
    EXPECT_EQ(unit.errorCode(), 2);
    EXPECT_TRUE(unit.inProgramEntry());
    EXPECT_EQ(SimulatedUnit(clock).uploadReply(), QByteArray("Q\r*"));
}

TEST_F(SimulatedUnitTest, FaultModesDelaySplitAndSilence) {
    unit.faults().replyDelay = 0.3;
    unit.faults().burstSize = 4;
    unit.faults().burstGap = 0.1;
    unit.receive("@1$\r");
    EXPECT_TRUE(unit.takeOutput().isEmpty());
    clock.advance(0.3);
    EXPECT_EQ(unit.takeOutput(), QByteArray("KQM2"));
    clock.advance(0.2);
    EXPECT_EQ(unit.takeOutput(), QByteArray("0  1.65\r"));
    unit.faults() = {};
    unit.faults().silent = true;
    EXPECT_TRUE(ask("@1$").isEmpty());
}

} // namespace
