#include "dryrun/trace_compare.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

using namespace kqm::dryrun;

namespace {

// A program of random moves, each waited for, with waits between.
QStringList randomProgram(QRandomGenerator& random) {
    QStringList commands{QStringLiteral("A%1").arg(2 + random.bounded(40)),
                         QStringLiteral("B%1").arg(100 + random.bounded(600)),
                         QStringLiteral("M%1").arg(1500 + random.bounded(4000))};
    for (int i = 0, moves = 1 + static_cast<int>(random.bounded(4)); i < moves; ++i) {
        commands << (random.bounded(2) ? QStringLiteral("+") : QStringLiteral("-"))
                 << QStringLiteral("N%1\r@0G").arg(200 + random.bounded(6000)) << "F"
                 << QStringLiteral("W%1").arg(150 + random.bounded(600));
    }
    commands << QStringLiteral("Q");
    return commands;
}

// What a unit whose motor accelerates at `unit` steps/s² for each A would
// read at moments `interval` apart (each a little late or early), until it
// has stood still a second.
QList<TraceSample> readingsOf(const QList<RunStep>& steps, double unit, double interval,
                              QRandomGenerator& random) {
    RunSettings settings;
    settings.stepsPerSecondSquaredPerA = unit;
    settings.record = true;
    Executor run(steps, settings);
    run.run();
    const double end = std::max(run.now(), run.restingTime()) + 1.0;
    QList<double> times;
    for (double at = 0; at < end; at += interval * (0.8 + 0.4 * random.generateDouble()))
        times << at;
    const QList<ModelPoint> points = modelAt(steps, settings, times);
    QList<TraceSample> samples;
    for (qsizetype i = 0; i < times.size(); ++i)
        samples.append({times.at(i), points.at(i).position, 0, QStringLiteral("0")});
    return samples;
}

// Over random programs and motors: a unit that moves as the model does is
// found in step, within what its readings can tell; one with another
// acceleration unit is named and the fit gives its unit back; steps lost at
// the end are named; a time finding is only ever made at 1 % or more.
TEST(TraceComparison, FindsWhatDiffersAndFitsTheMotor) {
    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    QRandomGenerator random(seed);
    for (int round = 0; round < 40; ++round) {
        const QStringList commands = randomProgram(random);
        SCOPED_TRACE(commands.join(' ').replace('\r', ' ').toStdString());
        const QList<RunStep> steps = stepsFromCommands(commands);
        const double interval = 0.01 + 0.04 * random.generateDouble();
        const double motor = std::round(std::pow(10.0, 2 + 1.5 * random.generateDouble()));
        const QList<TraceSample> samples = readingsOf(steps, motor, interval, random);

        RunSettings same;
        same.stepsPerSecondSquaredPerA = motor;
        const TraceComparison inStep = compareTrace(steps, same, samples, true);
        EXPECT_EQ(inStep.findings.size(), 1);
        EXPECT_TRUE(inStep.findings.first().startsWith(QStringLiteral("the unit ran as")))
            << inStep.findings.join(' ').toStdString();
        EXPECT_EQ(inStep.finalPosition, inStep.predictedFinalPosition);
        EXPECT_EQ(inStep.measuredPlateaus.size(), inStep.predictedPlateaus.size());
        ASSERT_TRUE(inStep.largest);
        EXPECT_LE(std::abs(inStep.largest->steps), 1); // same moments, same model

        RunSettings model; // the model's own 1000
        const TraceComparison off = compareTrace(steps, model, samples, true);
        // A time finding exactly when the times differ by more than two
        // readings' interval and by 1 % or more, with the percentage cut down.
        ASSERT_TRUE(off.measuredSeconds && off.predictedSeconds);
        const double measured = *off.measuredSeconds, predicted = *off.predictedSeconds;
        const double percent = std::abs(measured / predicted - 1) * 100;
        const bool expected = std::abs(measured - predicted) > 2 * off.interval && percent >= 1.0;
        const QRegularExpression took(QStringLiteral("took (\\d+) % (longer|less time)"));
        const auto match = took.match(off.findings.join(' '));
        EXPECT_EQ(match.hasMatch(), expected) << off.findings.join(' ').toStdString();
        if (match.hasMatch()) {
            EXPECT_EQ(match.captured(1).toInt(), static_cast<int>(std::floor(percent)));
            EXPECT_EQ(match.captured(2) == QLatin1String("longer"), measured > predicted);
        }
        const auto fit = fitAccelUnit(steps, model, samples);
        ASSERT_TRUE(fit);
        EXPECT_NEAR(fit->accelUnit, motor, motor * 0.05);
        EXPECT_LE(fit->rmsAfter, fit->rmsBefore + 1e-9);

        // Forty steps short once the last move is over.
        QList<TraceSample> lost = samples;
        const double lastEnd = *inStep.predictedSeconds;
        const qint64 start = 0, final = inStep.predictedFinalPosition;
        for (TraceSample& sample : lost)
            if (sample.at > lastEnd + interval)
                *sample.position -= final >= start ? 40 : -40;
        const TraceComparison shortOf = compareTrace(steps, same, lost, true);
        EXPECT_TRUE(shortOf.findings.contains(
            QStringLiteral("the unit ended 40 steps short of the model (lost steps?)")))
            << shortOf.findings.join(' ').toStdString();
    }
}

TEST(TraceComparison, ReportedInputsAndCsvRows) {
    const QList<TraceSample> samples{{0.0, 5, 1, "0"}, {0.1, 6, 1, "0"}, {0.2, 7, 3, "0"},
                                     {0.3, std::nullopt, -1, ""}, {0.4, 8, 0, "=1+\"2\""}};
    const QList<InputChange> inputs = reportedInputs(samples);
    ASSERT_EQ(inputs.size(), 3);
    EXPECT_EQ(inputs.at(0).at, 0.0);
    EXPECT_EQ(inputs.at(0).pattern, 1);
    EXPECT_EQ(inputs.at(1).at, 0.2);
    EXPECT_EQ(inputs.at(1).pattern, 3);
    EXPECT_EQ(inputs.at(2).pattern, 0);
    EXPECT_EQ(traceSampleCsvRow(samples.at(3)), QByteArray("0.300,,,\"\"\r\n"));
    // A text a spreadsheet would take for a formula stays text.
    EXPECT_EQ(traceSampleCsvRow(samples.at(4)), QByteArray("0.400,8,0,\"'=1+\"\"2\"\"\"\r\n"));
}

// A pause in the readings is said, with its length and moment; readings of
// a trace that ended before the unit came to rest compare no end.
TEST(TraceComparison, PausesAndTracesCutShortAreSaid) {
    const QList<RunStep> steps = stepsFromCommands({"N1000\r@0G", "Q"});
    RunSettings settings;
    QList<TraceSample> samples;
    const QList<double> times{0.0, 0.02, 0.04, 0.06, 2.56, 2.58, 2.60, 3.6, 3.62};
    const QList<ModelPoint> model = modelAt(steps, settings, times);
    for (qsizetype i = 0; i < times.size(); ++i)
        samples.append({times.at(i), model.at(i).position, 0, QStringLiteral("0")});
    const TraceComparison paused = compareTrace(steps, settings, samples, true);
    EXPECT_NEAR(paused.interval, 0.02, 1e-9);
    EXPECT_TRUE(paused.findings.contains(QStringLiteral(
        "the readings paused for 2.50 s from 0.060 s: what the unit did then is not known")))
        << paused.findings.join(' ').toStdString();

    const TraceComparison cut = compareTrace(steps, settings, samples.mid(0, 4), false);
    EXPECT_FALSE(cut.measuredSeconds);
    EXPECT_EQ(cut.findings, QStringList{QStringLiteral(
                                "the trace ended before the unit came to rest: its end is not "
                                "compared with the model's")});
}

} // namespace
