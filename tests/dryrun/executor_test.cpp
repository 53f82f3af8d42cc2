#include "dryrun/executor.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kqm::dryrun;

namespace {

const QString Go = QStringLiteral("\r@0G");

// One row per command and per flow case. Positions, outputs and counts are
// exact; times too where no ramp is involved (-1: not checked). The line
// is where the run ended.
TEST(Executor, RunsEachCommandAndFlowAsTheTableSays) {
    const struct {
        const char* name;
        QStringList program;
        QList<InputChange> inputs;
        RunEnd end;
        int line;
        qint64 position;
        int outputs;
        qint64 lines;
        double seconds;
        qint64 lowest = 0;
        qint64 highest = 0;
        const char* finding = "";
    } cases[] = {
        // clang-format off
        {"parameters, then quit", {"A10", "B600", "M2000", "J100", "Q"}, {}, RunEnd::Quit, 5, 0, 0, 5, 0},
        {"relative move clockwise", {"N1000" + Go, "F", "Q"}, {}, RunEnd::Quit, 3, 1000, 0, 3, -1, 0, 1000},
        {"relative move counter-clockwise", {"-", "N300" + Go, "F", "Q"}, {}, RunEnd::Quit, 4, -300, 0, 4, -1, -300, 0},
        {"absolute moves both ways", {"P500" + Go, "P200,G", "F", "Q"}, {}, RunEnd::Quit, 4, 200, 0, 4, -1, 0, 500},
        {"position register, then absolute", {"Z100", "P50,G", "F", "Q"}, {}, RunEnd::Quit, 4, 50, 0, 4, -1, 50, 100},
        {"G repeats the last move", {"N100" + Go, "G", "G", "F", "Q"}, {}, RunEnd::Quit, 5, 300, 0, 5, -1, 0, 300},
        {"N alone only sets the index", {"N100", "Q"}, {}, RunEnd::Quit, 2, 0, 0, 2, 0},
        {"P alone, then G goes there", {"P70", "G", "F", "Q"}, {}, RunEnd::Quit, 4, 70, 0, 4, -1, 0, 70},
        {"a move runs on after Quit, and its travel counts", {"N100" + Go, "N100" + Go, "Q"}, {}, RunEnd::Quit, 3, 200, 0, 3, -1, 0, 200, "still moving"},
        {"a register set after a move counts the travel in its coordinates", {"N500" + Go, "Z0", "Q"}, {}, RunEnd::Quit, 3, 0, 0, 3, -1, -500, 0},
        {"home", {"Z500", "H0", "F", "Q"}, {}, RunEnd::Quit, 4, 0, 0, 4, -1, 0, 500},
        {"loop body runs count + 1 times", {"N10" + Go, "&0_3", "F", "Q"}, {}, RunEnd::Quit, 4, 40, 0, 10, -1, 0, 40},
        {"nested loops", {"N1" + Go, "&0_1", "&0_2", "F", "Q"}, {}, RunEnd::Quit, 5, 6, 0, 17, -1, 0, 6},
        {"the upload's comma loop: count, then line", {"N10,G", "&2,1", "F", "Q"}, {}, RunEnd::Quit, 4, 30, 0, 8, -1, 0, 30},
        {"goto skips a line", {"X7", "O3", "Q"}, {}, RunEnd::Quit, 3, 0, 0, 2, 0},
        {"outputs", {"O2", "O5", "Q"}, {}, RunEnd::Quit, 3, 0, 1, 3, 0},
        {"waits add up", {"W250", "W750", "Q"}, {}, RunEnd::Quit, 3, 0, 0, 3, 1.0},
        {"input test met", {"?5", "O1", "Q"}, {{0, 5}}, RunEnd::Quit, 3, 0, 1, 3, 0},
        {"input test not met skips a line", {"?5", "O1", "Q"}, {{0, 4}}, RunEnd::Quit, 3, 0, 0, 2, 0},
        {"polling until a scheduled input", {"W500", "?5", "Q", "X0"}, {{0, 0}, {2.5, 5}}, RunEnd::Quit, 3, 0, 0, 15, 2.5},
        {"a poll with no wait jumps to the change", {"?1", "Q", "X0"}, {{1.25, 1}}, RunEnd::Quit, 2, 0, 0, -1, 1.25},
        {"until waits on its own line", {"U0,1,1", "O3", "Q"}, {{0, 0}, {1.5, 1}}, RunEnd::Quit, 3, 0, 3, 4, 1.5},
        {"until branches to another line", {"U0,3,3", "Q", "O1", "Q"}, {}, RunEnd::Quit, 4, 0, 1, 3, 0},
        {"until for inputs that never come", {"U0,2,1", "Q"}, {}, RunEnd::Limit, 1, 0, 0, 1, 60, 0, 0, "waits for inputs 1 and 2 to be 1-off 2-on"},
        {"slew, then stop", {"S", "W1000", ".", "Q"}, {}, RunEnd::Quit, 4, 1468, 0, 4, 1.0, 0, 1468},
        {"a wait loop with no Quit", {"W100", "X0"}, {}, RunEnd::Limit, 0, 0, 0, -1, 60, 0, 0, "circles through lines 1, 2"},
        {"a loop where no time passes ends where it circles", {"O1", "X0"}, {}, RunEnd::Limit, 0, 0, 1, -1, 0, 0, 0, "without time passing"},
        {"an endless loop through loops, no time passing", {"O1", "&0_3", "X0"}, {}, RunEnd::Limit, 0, 0, 1, -1, 0, 0, 0, "without time passing"},
        {"loops counting for ages with no time passing", {"O1", "&0_255", "&0_255", "&0_255", "&0_255", "Q"}, {}, RunEnd::TooManyLines, 0, 0, 1, 10000001, 0, 0, 0, "more than 10,000,000 lines ran without time passing"},
        {"an input change after a wait lands on its moment", {"W59", "U0,1,2", "Q"}, {{0, 0}, {0.6, 1}}, RunEnd::Quit, 3, 0, 0, 4, 0.6},
        {"1.5 million lines, no time passing, then Quit", {"O2", "O1", "&0_255", "&0_255", "&0_7", "Q"}, {}, RunEnd::Quit, 6, 0, 1, 1574921, 0},
        {"the input branch", {"O1", "I1,2,3", "Q"}, {}, RunEnd::NotSimulated, 2, 0, 1, 2, 0},
        {"a goto into the middle of a line", {"X1", "Q"}, {}, RunEnd::NotSimulated, 1, 0, 0, 1, 0, 0, 0, "not the start of a line"},
        {"a move while slewing", {"S", "N5" + Go, "Q"}, {}, RunEnd::NotSimulated, 2, 0, 0, 2, 0},
        {"running past the last line", {"O1"}, {}, RunEnd::Quit, 1, 0, 1, 1, 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunSettings settings;
        settings.inputs = c.inputs;
        Executor run(stepsFromCommands(c.program), settings);
        run.run();
        EXPECT_EQ(runEndName(run.end()), runEndName(c.end)) << run.endReason().toStdString();
        if (c.line > 0) { // 0: wherever a circle was cut
            EXPECT_EQ(run.endStep() + 1, c.line);
        }
        EXPECT_EQ(run.restingPosition(), c.position);
        EXPECT_EQ(run.outputs(), c.outputs);
        if (c.lines >= 0) {
            EXPECT_EQ(run.linesExecuted(), c.lines);
        }
        if (c.seconds >= 0) {
            EXPECT_DOUBLE_EQ(run.now(), c.seconds);
        }
        EXPECT_EQ(run.lowest(), c.lowest);
        EXPECT_EQ(run.highest(), c.highest);
        EXPECT_TRUE((run.finding() + run.endReason()).contains(QString::fromLatin1(c.finding)))
            << run.finding().toStdString() << run.endReason().toStdString();
    }
}

// The trapezoid and the triangle: a long move reaches the maximum speed, a
// short one turns back before it; both end exactly on their step.
TEST(Executor, MovesRampUpAndDown) {
    const double acceleration = 16000;
    const auto longMove = MotionProfile::move(0, 1000, true, 500, 1500, acceleration, 0);
    EXPECT_NEAR(longMove.duration, 0.125 + 875.0 / 1500, 1e-9);
    EXPECT_DOUBLE_EQ(longMove.speedAt(0.3), 1500);
    const auto shortMove = MotionProfile::move(0, 40, false, 500, 1500, acceleration, 0);
    EXPECT_LT(shortMove.peak, 1500);
    for (const MotionProfile& move : {longMove, shortMove}) {
        qint64 last = move.positionAt(0);
        for (double t = 0; t < move.duration; t += move.duration / 97) {
            const qint64 now = move.positionAt(t);
            EXPECT_TRUE(move.clockwise ? now >= last : now <= last) << t;
            last = now;
        }
        EXPECT_EQ(move.positionAt(move.end()), move.clockwise ? move.distance : -move.distance);
        EXPECT_EQ(move.speedAt(move.end()), 0);
    }
    // Asked about a moment the run has passed: the move, not what came after it.
    Executor later(stepsFromCommands({"N1000" + Go, "Z0", "W5000", "Q"}), RunSettings{});
    later.runUntil(0.1);
    EXPECT_EQ(later.positionAt(0.1), longMove.positionAt(0.1));
    EXPECT_TRUE(later.movingAt(0.1));
    // A slew stopped at 1 s is drawn as it went, and stands still after.
    RunSettings recorded;
    recorded.record = true;
    Executor slew(stepsFromCommands({"S", "W1000", ".", "W500", "Q"}), recorded);
    slew.run();
    ASSERT_EQ(slew.moves().size(), 1);
    const MotionProfile& drawn = slew.moves().first();
    EXPECT_EQ(drawn.positionAt(0.5),
              MotionProfile::slew(0, true, 500, 1500, 16000, 0).positionAt(0.5));
    EXPECT_EQ(drawn.positionAt(1.4), slew.restingPosition());
    // Where a move holds the program, the line after it starts when it ends.
    RunSettings holding;
    holding.movesHold = true;
    Executor run(stepsFromCommands({"N1000" + Go, "Q"}), holding);
    run.run();
    EXPECT_NEAR(run.now(), longMove.duration, 0.5 / TicksPerSecond);
    EXPECT_EQ(run.now(), onTick(run.now())); // on the tick
    EXPECT_TRUE(run.finding().isEmpty()) << run.finding().toStdString();
    EXPECT_TRUE(run.assumptions().contains("a move holds the program until it ends"));
}

} // namespace
