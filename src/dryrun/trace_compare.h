#pragma once

#include "dryrun/executor.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace kqm::dryrun {

// One reading of a unit running its program: the moment (seconds from the
// run's start frame reaching the unit), its position (a KQM20 only), its
// inputs and its error code, as the unit answered them.
struct TraceSample {
    double at = 0;
    std::optional<qint64> position;
    int inputs = -1;   // 0 to 15; -1: no answer that reads as inputs
    QString errorCode; // as answered, blanks and line ends dropped
};

// The inputs the unit reported, as a schedule the model can run with.
QList<InputChange> reportedInputs(const QList<TraceSample>& samples);

// The model's position at each moment (in time order), and the line that
// runs then (its number; 0 before the first).
struct ModelPoint {
    qint64 position = 0;
    int line = 0;
};
QList<ModelPoint> modelAt(const QList<RunStep>& steps, RunSettings settings,
                          const QList<double>& times);

// When the motor comes to rest for good: the end of the last move that
// goes anywhere; nothing when none does.
std::optional<double> lastMoveEnd(const Executor& recordedRun);

// The longest the motor stands still between the start of its first move
// and the end of its last (0 with fewer than two moves).
double longestStandstill(const Executor& recordedRun);

struct Plateau {
    double at = 0; // when the position came to rest
    qint64 position = 0;
};

// The unit's readings beside the model of the same program. `settings`: the
// model's, with the unit's own start (its parameters and position); the
// inputs the unit reported replace any schedule.
struct TraceComparison {
    bool hasPosition = false;
    qsizetype samples = 0;
    // The usual time between readings (their median): what a moment is
    // known to; and the longest pause between two of them, and when it began.
    double interval = 0;
    double longestGap = 0;
    double gapFrom = 0;
    std::optional<double> measuredSeconds; // the unit at rest for good
    std::optional<double> predictedSeconds;
    std::optional<qint64> finalPosition;
    qint64 predictedFinalPosition = 0;
    struct Difference {
        qint64 steps = 0;
        double at = 0;
        int line = 0;
    };
    std::optional<Difference> largest;
    double rms = 0; // over every reading of the position
    QList<Plateau> measuredPlateaus;
    QList<Plateau> predictedPlateaus;
    QStringList findings;
};

// `atRest`: the trace ended with the unit standing still after the model's
// end, so the final positions compare.
TraceComparison compareTrace(const QList<RunStep>& steps, const RunSettings& settings,
                             const QList<TraceSample>& samples, bool atRest);

// The acceleration unit (steps/s² for each unit of A) that makes the model
// fit the readings best, and how far apart the curves are with it (RMS,
// steps) against the settings' own. Nothing without readings of the
// position, or when the program's times do not depend on it.
struct AccelFit {
    double given = 0; // the settings' own
    double accelUnit = 0;
    double rmsBefore = 0;
    double rmsAfter = 0;
};
std::optional<AccelFit> fitAccelUnit(const QList<RunStep>& steps, const RunSettings& settings,
                                     const QList<TraceSample>& samples);

// The RMS difference of the readings from the model with these settings.
double rmsDifference(const QList<RunStep>& steps, const RunSettings& settings,
                     const QList<TraceSample>& samples);

// What a comparison says, a line each: times, positions, plateaus, findings.
QStringList comparisonLines(const TraceComparison& comparison);
QString fitLine(const AccelFit& fit);

// The readings as CSV, a row as each comes: seconds, position, inputs,
// error code.
QByteArray traceSampleCsvHeader();
QByteArray traceSampleCsvRow(const TraceSample& sample);

} // namespace kqm::dryrun
