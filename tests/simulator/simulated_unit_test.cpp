#include "dryrun/unit_run.h"
#include "platform/virtual_clock.h"
#include "simulator/recent_log.h"
#include "simulator/simulated_line.h"
#include "simulator/simulated_unit.h"

#include <gtest/gtest.h>

#include <random>

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

// R0 runs the stored program with the clock: it waits for the inputs the
// test switches, a stop ends it where the motor stands, R0 again starts
// over, and a line it cannot run stops it with error code 3. A unit made
// without the executor cannot run a program and says so the same way.
TEST_F(SimulatedUnitTest, RunsItsStoredProgram) {
    for (const char* frame :
         {"@1E0", "@1U0,1,0", "@1O1", "@1S", "@1W500", "@1O2", "@1I1,2,3", "@1Q"})
        ask(frame);
    ASSERT_EQ(unit.program().size(), 7);
    ask("@1R0");
    EXPECT_FALSE(unit.running());
    EXPECT_EQ(ask("@1!"), QByteArray("3\r"));
    unit.setProgramRunner(kqm::dryrun::unitProgramRunner());
    ask("@1R0");
    clock.advance(5.0);
    EXPECT_TRUE(unit.running());
    EXPECT_EQ(unit.outputs(), 0); // still waiting on its first line
    unit.setInputs(1);
    clock.advance(0.25);
    EXPECT_EQ(unit.outputs(), 1);
    EXPECT_TRUE(unit.moving()); // slewing
    ask("@1.");
    EXPECT_FALSE(unit.running());
    EXPECT_FALSE(unit.moving());
    const qint64 stoppedAt = unit.position();
    EXPECT_GT(stoppedAt, 0);
    ask("@1R0");
    clock.advance(2.0);
    EXPECT_FALSE(unit.running());
    EXPECT_EQ(ask("@1!"), QByteArray("3\r"));
    EXPECT_EQ(unit.outputs(), 2);
    EXPECT_GT(unit.position(), stoppedAt);
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

namespace {

using kqm::simulator::SimulatedLine;

TEST(SimulatedLineTest, EachUnitAnswersItsOwnAddressWithItsOwnState) {
    VirtualClock clock;
    SimulatedLine line(clock, QStringLiteral("KQM20"), 0);
    line.addUnit(QStringLiteral("KQM21"), 3);
    line.addUnit(QStringLiteral("KQM20"), 7);
    const auto ask = [&](const QByteArray& frame) {
        line.receive(frame + '\r');
        return line.takeOutput();
    };
    // Frames in order; each with what the line answers to it.
    const QList<std::pair<QByteArray, QByteArray>> script = {
        {"VE", "Q\r*"}, // before any address: the first unit's
        {"@3$", "KQM21  1.65\r"},
        {"@7$", "KQM20  1.65\r"},
        {"@5$", ""},
        {"@3A40", ""},
        {"@3VA", "40\r"},
        {"@0VA", "16\r"},
        {"@7VZ", "0\r"},
        {"@3VZ", "?\r"},
        {"@3E0", ""},
        {"@3X9", ""},
        {"@3Q", ""},
        {"VE", "X9\rQ\r*"}, // the unit the frame before named
        {"VE", "X9\rQ\r*"},
        {"@7!", "0\r"},
        {"VE", "Q\r*"},
        {"@12!", ""},
        {"VE", ""}, // no unit at the address named last
    };
    for (const auto& [frame, answer] : script)
        EXPECT_EQ(ask(frame), answer) << frame.constData();
    EXPECT_EQ(line.unitAt(3)->acceleration(), 40);
    EXPECT_EQ(line.unitAt(0)->acceleration(), 16);
    EXPECT_EQ(line.unitAt(12), nullptr);

    line.unitAt(7)->faults().ctsFalse = true;
    EXPECT_FALSE(line.ctsHolding());
}

TEST(SimulatedLineTest, ASlowReceiverLosesProgramCharactersThatComeTooSoon) {
    // Gap between the characters of a program, and what the unit stores.
    const QList<std::pair<double, QByteArray>> cases = {
        {0.0, ""},  // written at once: nothing after the "E0" frame is taken
        {0.02, ""}, // each too soon after the one before, lost or not
        {0.05, "A5\rQ\r*"},
        {0.1, "A5\rQ\r*"},
    };
    for (const auto& [gap, upload] : cases) {
        VirtualClock clock;
        SimulatedUnit unit(clock, QStringLiteral("KQM20"), 1);
        unit.faults().slowReceiver = 0.05;
        // Queries outside program entry are taken at any pace.
        unit.receive("@1$\r");
        EXPECT_EQ(unit.takeOutput(), QByteArray("KQM20  1.65\r"));
        for (const char c : QByteArray("@1E0\r@1A5\r@1Q\r")) {
            unit.receive(QByteArray(1, c));
            clock.advance(gap);
        }
        EXPECT_EQ(unit.inProgramEntry(), upload.isEmpty()) << "gap " << gap;
        if (!upload.isEmpty()) {
            EXPECT_EQ(unit.uploadReply(), upload) << "gap " << gap;
        }
    }
}

// The line's logs stay bounded however long a simulated unit runs, and a
// count taken earlier still finds what came after it.
TEST(RecentLog, KeepsTheLatestAndFindsWhatCameAfterACount) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 50; ++trial) {
        const int keep = std::uniform_int_distribution<int>(1, 20)(random);
        const int total = std::uniform_int_distribution<int>(0, 100)(random);
        kqm::simulator::RecentLog<int> log(keep);
        for (int i = 0; i < total; ++i)
            log.append(i);
        ASSERT_EQ(log.count(), total);
        EXPECT_LE(log.recent().size(), 2 * keep);
        ASSERT_GE(log.recent().size(), std::min(keep, total));
        for (qsizetype i = 0; i < log.recent().size(); ++i)
            ASSERT_EQ(log.recent().at(i), total - log.recent().size() + i);
        const int mark = std::uniform_int_distribution<int>(0, total)(random);
        const QList<int> after = log.since(mark);
        const int kept = total - static_cast<int>(log.recent().size());
        ASSERT_EQ(after.size(), total - std::max(mark, kept));
        if (!after.isEmpty()) {
            EXPECT_EQ(after.first(), std::max(mark, kept));
        }
    }
}

} // namespace
