#include "line_fixture.h"

#include "dryrun/unit_run.h"
#include "support/program_files.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_trace.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

using namespace kqm;
using namespace kqm::transfer;

namespace {

// A trace of the unit on the virtual clock: the in-process unit runs its
// stored program on the executor, as `kqmctl simulate` does.
class UnitTraceTest : public ::testing::Test {
protected:
    test::LineFixture line;

    // Moves with a wait for each, a wait between them and a loop over the
    // second: the unit comes to rest four times.
    static QStringList program() {
        QStringList commands{"A20",  "B400",         "M3000", "N1500\r@0G", "F",
                             "W300", "-",            "N600\r@0G", "F",          "W200"};
        const QList<dryrun::RunStep> steps = dryrun::stepsFromCommands(commands);
        commands << QStringLiteral("&%1_2").arg(steps.at(7).address) << QStringLiteral("Q");
        return commands;
    }
    QString file(const QStringList& commands) {
        QVector<test::Line> lines;
        for (const QString& command : commands)
            lines.push_back({command});
        const QString path = line.dir.filePath(QStringLiteral("trace.mdb"));
        QFile::remove(path);
        test::WriteProgramFile(path, lines);
        return path;
    }
    simulator::SimulatedUnit& unit() { return line.port.unit(); }
    TraceResult trace(const QString& path, double limit = 30, const TraceCallbacks& callbacks = {}) {
        TraceRequest request;
        request.programFile = path;
        request.limit = limit;
        request.logFile = line.dir.filePath(QStringLiteral("log.jsonl"));
        return traceUnit(line.deviceLink, line.clock, request, callbacks);
    }
    // The frames after the run frame: only the trace's own queries and stops.
    void expectOnlyTraceFrames(qsizetype from) {
        const QList<QByteArray> frames = unit().framesSince(from);
        const qsizetype run = frames.indexOf("@0R0");
        ASSERT_GE(run, 0);
        for (qsizetype i = run + 1; i < frames.size(); ++i) {
            EXPECT_TRUE(QList<QByteArray>({"@0VZ", "@0I", "@0!", "@0."}).contains(frames.at(i)))
                << frames.at(i).toStdString();
        }
    }
};

TEST_F(UnitTraceTest, AProgramOfMovesWaitsAndALoopAgreesWithTheDryRun) {
    const QString path = file(program());
    test::LineFixture::store(unit(), program());
    const qsizetype before = unit().frameCount();
    const TraceResult result = trace(path);

    ASSERT_EQ(result.end, TraceEnd::Standstill) << result.message.toStdString();
    expectOnlyTraceFrames(before);
    EXPECT_FALSE(unit().running());
    EXPECT_FALSE(line.deviceLink.exchanges().isBusy());
    ASSERT_TRUE(result.comparison);
    const dryrun::TraceComparison& c = *result.comparison;
    EXPECT_GT(c.samples, 50);
    EXPECT_GT(result.rateHz, 10.0);
    // Within what one reading's interval allows: each end of a move is known
    // to half an interval on either side.
    ASSERT_TRUE(c.measuredSeconds && c.predictedSeconds);
    EXPECT_NEAR(*c.measuredSeconds, *c.predictedSeconds, c.interval);
    EXPECT_EQ(c.finalPosition, 1500 - 3 * 600);
    EXPECT_EQ(c.predictedFinalPosition, 1500 - 3 * 600);
    ASSERT_EQ(c.measuredPlateaus.size(), 4);
    ASSERT_EQ(c.predictedPlateaus.size(), 4);
    for (qsizetype i = 0; i < 4; ++i) {
        EXPECT_NEAR(c.measuredPlateaus.at(i).at, c.predictedPlateaus.at(i).at, c.interval);
        EXPECT_EQ(c.measuredPlateaus.at(i).position, c.predictedPlateaus.at(i).position);
    }
    // The largest difference is what the motor covers between a reading's
    // moment and the model's: a reading's worth at the top speed.
    ASSERT_TRUE(c.largest);
    EXPECT_LE(std::abs(c.largest->steps), static_cast<qint64>(3000 * c.interval) + 2);
    EXPECT_EQ(c.findings.size(), 1);
    EXPECT_TRUE(c.findings.first().startsWith(QStringLiteral("the unit ran as the model")));

    // The transfer log names the trace, its program's hash and both times.
    const QList<TransferLogEntry> log = readTransferLog(line.dir.filePath("log.jsonl"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log.first().kind, QStringLiteral("trace"));
    EXPECT_EQ(log.first().sha256.size(), 64);
    EXPECT_EQ(log.first().measuredSeconds, c.measuredSeconds);
    EXPECT_EQ(log.first().predictedSeconds, c.predictedSeconds);
    EXPECT_TRUE(log.first().result.startsWith(QStringLiteral("standstill")));
}

// A motor that accelerates at 400 steps/s² for each unit of A, where the
// model takes 1000: the finding names it, and the fit gives it back.
TEST_F(UnitTraceTest, AnotherAccelerationUnitIsFoundAndFitted) {
    line.port.line().setProgramRunner(dryrun::unitProgramRunner(400));
    const QStringList slow{"A2", "B100", "M3000", "N4000\r@0G", "F", "W300", "N2000\r@0G", "Q"};
    const QString path = file(slow);
    test::LineFixture::store(unit(), slow);
    const TraceResult result = trace(path);
    ASSERT_EQ(result.end, TraceEnd::Standstill) << result.message.toStdString();
    ASSERT_TRUE(result.comparison);
    EXPECT_TRUE(result.comparison->findings.join(' ').contains(
        QRegularExpression(QStringLiteral("the unit took \\d+ % longer than the model"))))
        << result.comparison->findings.join(' ').toStdString();
    const auto fit = dryrun::fitAccelUnit(result.steps, result.settings, result.samples);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->accelUnit, 400, 20);
    EXPECT_LT(fit->rmsAfter, fit->rmsBefore / 10);
}

TEST_F(UnitTraceTest, NothingRunsOnAUnitThatHoldsAnotherProgram) {
    const QString path = file(program());
    test::LineFixture::store(unit(), {"A20", "Q"});
    const qsizetype before = unit().frameCount();
    const TraceResult result = trace(path);
    EXPECT_EQ(result.end, TraceEnd::NotInStep);
    EXPECT_TRUE(result.message.startsWith(
        QStringLiteral("the unit holds another program: send %1 first").arg(path)))
        << result.message.toStdString();
    EXPECT_FALSE(unit().framesSince(before).contains("@0R0"));
    EXPECT_FALSE(unit().running());
}

// Stop in the middle and the time limit end the trace early: the unit
// stops, and the line is free for the next exchange at once.
TEST_F(UnitTraceTest, StopAndTheLimitStopTheUnitAndFreeTheLine) {
    const QStringList endless{"A20", "N300\r@0G", "F", "W100", "X0", "Q"};
    const QString path = file(endless);
    test::LineFixture::store(unit(), endless);
    double stopAt = -1;
    line.clock.addListener([&](double now) {
        if (stopAt >= 0 && now >= stopAt) {
            stopAt = -1;
            line.deviceLink.stopMotion();
        }
    });
    for (const bool byStop : {true, false}) {
        SCOPED_TRACE(byStop ? "stop" : "limit");
        TraceCallbacks callbacks;
        // Pressed 1.5 s into the unit's run.
        if (byStop)
            callbacks.started = [&](const auto&, const auto&, double) {
                stopAt = line.clock.now() + 1.5;
            };
        const qsizetype before = unit().frameCount();
        const TraceResult result = trace(path, byStop ? 30 : 2, callbacks);
        EXPECT_EQ(result.end, byStop ? TraceEnd::Stopped : TraceEnd::Limit)
            << result.message.toStdString();
        EXPECT_TRUE(result.unitStopped);
        EXPECT_FALSE(unit().running());
        expectOnlyTraceFrames(before);
        EXPECT_FALSE(line.deviceLink.exchanges().isBusy());
        const qint64 standing = unit().position();
        line.clock.Delay(0.5);
        EXPECT_EQ(unit().position(), standing);
        EXPECT_TRUE(line.deviceLink.exchanges().tryBegin());
        // The trace ends where it was stopped, its last reading where the
        // unit rests.
        ASSERT_FALSE(result.samples.isEmpty());
        EXPECT_NEAR(result.samples.last().at, byStop ? 1.5 : 2.0, 0.1);
        EXPECT_EQ(result.samples.last().position, standing);
    }
}

// A KQM21 tells no position: the trace reads its inputs and error code.
TEST_F(UnitTraceTest, AKqm21IsTracedByItsInputs) {
    unit().setModel(QStringLiteral("KQM21"));
    const QStringList waits{"W400", "W400", "Q"};
    const QString path = file(waits);
    test::LineFixture::store(unit(), waits);
    unit().setInputs(5);
    const TraceResult result = trace(path);
    ASSERT_EQ(result.end, TraceEnd::Standstill) << result.message.toStdString();
    ASSERT_FALSE(result.samples.isEmpty());
    for (const dryrun::TraceSample& sample : result.samples) {
        EXPECT_FALSE(sample.position);
        EXPECT_EQ(sample.inputs, 5);
        EXPECT_EQ(sample.errorCode, QStringLiteral("0"));
    }
    // The model's end and a second after it.
    EXPECT_NEAR(result.samples.last().at, 1.8, 0.1);
    EXPECT_FALSE(unit().framesSince(0).contains("@0VZ"));
    EXPECT_TRUE(traceReportLines(result).join('\n').contains(QStringLiteral("tells no position")));
}

// A motor slower than the model is still in its program's wait when the
// model has ended: the trace waits for it, and names the time, not lost
// steps. A unit whose replies turn to noise gives no readings: the trace
// ends as no answer, and nothing is concluded from the noise.
TEST_F(UnitTraceTest, ASlowMotorIsWaitedForAndNoiseIsNoReading) {
    line.port.line().setProgramRunner(dryrun::unitProgramRunner(100));
    const QStringList slow{"A5", "B100", "M5000", "N10000\r@0G", "F", "W1500", "N100\r@0G", "Q"};
    const QString path = file(slow);
    test::LineFixture::store(unit(), slow);
    TraceResult result = trace(path);
    ASSERT_EQ(result.end, TraceEnd::Standstill) << result.message.toStdString();
    ASSERT_TRUE(result.comparison);
    EXPECT_EQ(result.comparison->finalPosition, 10100);
    EXPECT_FALSE(unit().running());
    EXPECT_FALSE(result.comparison->findings.join(' ').contains(QStringLiteral("short")));
    EXPECT_TRUE(result.comparison->findings.join(' ').contains(QStringLiteral("longer")));

    line.port.line().setProgramRunner(dryrun::unitProgramRunner());
    test::LineFixture::store(unit(), slow);
    unit().faults().garbage = true;
    unit().faults().garbageAfterFrames = static_cast<int>(unit().frameCount()) + 60;
    result = trace(path);
    EXPECT_EQ(result.end, TraceEnd::NoAnswer) << result.message.toStdString();
    EXPECT_TRUE(result.unitStopped);
    for (const dryrun::TraceSample& sample : result.samples)
        EXPECT_TRUE(sample.position);
    ASSERT_TRUE(result.comparison);
    EXPECT_FALSE(result.comparison->findings.join(' ').contains(QStringLiteral("short")));
}

// The window closing and the port going away cut a trace short: no reply
// still on its way is read as another query's answer (a position taken for
// an error code), and readings cut off are concluded nothing from.
class CutShortTest : public UnitTraceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CutShortTest, ATraceCutShortConcludesNothingFalse) {
    const bool closing = GetParam();
    const QStringList long_{"A20", "N200000\r@0G", "F", "Q"};
    const QString path = file(long_);
    test::LineFixture::store(unit(), long_);
    // Replies that come in pieces, as over a real line: one may be half in
    // when the waits are cut short.
    unit().faults().burstSize = 2;
    unit().faults().burstGap = 0.004;
    double cutAt = -1;
    line.clock.addListener([&](double now) {
        if (cutAt < 0 || now < cutAt)
            return;
        cutAt = -1;
        if (closing)
            line.deviceLink.exchanges().requestAbort();
        else
            line.port.unplug();
    });
    TraceCallbacks callbacks;
    callbacks.started = [&](const auto&, const auto&, double) { cutAt = line.clock.now() + 1.0; };
    const TraceResult result = trace(path, 30, callbacks);
    EXPECT_EQ(result.end, closing ? TraceEnd::Stopped : TraceEnd::Lost) << result.message.toStdString();
    EXPECT_EQ(result.readingsSound(), closing);
    if (!closing) {
        EXPECT_FALSE(fitOf(result)); // readings cut off fit nothing
    }
    for (const dryrun::TraceSample& sample : result.samples)
        EXPECT_EQ(sample.errorCode, QStringLiteral("0"));
    ASSERT_TRUE(result.comparison);
    EXPECT_FALSE(result.comparison->measuredSeconds);
    EXPECT_TRUE(result.comparison->findings.join(' ').contains(
        QStringLiteral("ended before the unit came to rest")))
        << result.comparison->findings.join(' ').toStdString();
    if (closing) {
        EXPECT_TRUE(result.unitStopped);
        EXPECT_FALSE(unit().running());
    }
    const QList<TransferLogEntry> log = readTransferLog(line.dir.filePath("log.jsonl"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_FALSE(log.last().result.contains(QStringLiteral("error code")))
        << log.last().result.toStdString();
}

INSTANTIATE_TEST_SUITE_P(WindowClosingOrPortGone, CutShortTest, ::testing::Bool());

} // namespace
