#include "dryrun/trace_compare.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kqm::dryrun {

namespace {

QString seconds(double value) {
    return QString::number(value, 'f', 3);
}

// The readings of the position, with their moments.
QList<QPair<double, qint64>> positions(const QList<TraceSample>& samples) {
    QList<QPair<double, qint64>> readings;
    for (const TraceSample& sample : samples)
        if (sample.position)
            readings.append({sample.at, *sample.position});
    return readings;
}

// Runs of two readings or more at one position, after a change: each is a
// move's end, dated halfway between the last reading on the way and the
// first at rest.
QList<Plateau> measuredPlateaus(const QList<QPair<double, qint64>>& readings) {
    QList<Plateau> plateaus;
    for (qsizetype i = 1; i + 1 < readings.size(); ++i) {
        const bool arrived = readings.at(i).second != readings.at(i - 1).second;
        const bool stays = readings.at(i + 1).second == readings.at(i).second;
        if (arrived && stays)
            plateaus.append(
                {(readings.at(i - 1).first + readings.at(i).first) / 2, readings.at(i).second});
    }
    return plateaus;
}

// The model's moves' ends where it stands long enough for readings this far
// apart to see it stand.
QList<Plateau> predictedPlateaus(const Executor& run, double interval) {
    QList<MotionProfile> moves;
    for (const MotionProfile& move : run.moves())
        if (move.distance != 0 && std::isfinite(move.end()))
            moves.append(move);
    QList<Plateau> plateaus;
    for (qsizetype i = 0; i < moves.size(); ++i) {
        const double end = moves.at(i).end();
        const bool last = i + 1 == moves.size();
        if (last || moves.at(i + 1).start - end >= 2 * interval)
            plateaus.append({end, moves.at(i).positionAt(end)});
    }
    return plateaus;
}

double percentOff(double measured, double predicted) {
    return std::abs(measured / predicted - 1.0) * 100.0;
}

} // namespace

QList<InputChange> reportedInputs(const QList<TraceSample>& samples) {
    QList<InputChange> changes;
    for (const TraceSample& sample : samples) {
        if (sample.inputs < 0)
            continue;
        if (changes.isEmpty())
            changes.append({0, sample.inputs});
        else if (changes.last().pattern != sample.inputs)
            changes.append({onTick(sample.at), sample.inputs});
    }
    return changes;
}

QList<ModelPoint> modelAt(const QList<RunStep>& steps, RunSettings settings,
                          const QList<double>& times) {
    settings.record = false;
    if (!times.isEmpty())
        settings.limit = std::max(settings.limit, times.last() + 1);
    Executor run(steps, settings);
    QList<ModelPoint> points;
    points.reserve(times.size());
    for (const double time : times) {
        if (run.end() == RunEnd::Running && run.now() < time)
            run.runUntil(time);
        const int step = run.lastStep();
        points.append({run.positionAt(time), step >= 0 ? steps.at(step).line : 0});
    }
    return points;
}

std::optional<double> lastMoveEnd(const Executor& recordedRun) {
    std::optional<double> end;
    for (const MotionProfile& move : recordedRun.moves())
        if (move.distance != 0 && std::isfinite(move.end()))
            end = std::max(end.value_or(0.0), move.end());
    return end;
}

double longestStandstill(const Executor& recordedRun) {
    double longest = 0;
    std::optional<double> lastEnd;
    for (const MotionProfile& move : recordedRun.moves()) {
        if (move.distance == 0)
            continue;
        if (lastEnd)
            longest = std::max(longest, move.start - *lastEnd);
        if (!std::isfinite(move.end()))
            break;
        lastEnd = std::max(lastEnd.value_or(move.end()), move.end());
    }
    return longest;
}

namespace {

// Each reading of the position against the model at its moment: measured
// minus model, and the line the model runs then.
struct Offset {
    double at = 0;
    qint64 steps = 0;
    int line = 0;
};
QList<Offset> offsetsOf(const QList<RunStep>& steps, const RunSettings& settings,
                        const QList<QPair<double, qint64>>& readings) {
    QList<double> times;
    for (const auto& reading : readings)
        times.append(reading.first);
    const QList<ModelPoint> model = modelAt(steps, settings, times);
    QList<Offset> offsets;
    for (qsizetype i = 0; i < readings.size(); ++i)
        offsets.append({times.at(i), readings.at(i).second - model.at(i).position, model.at(i).line});
    return offsets;
}

double rmsOf(const QList<Offset>& offsets) {
    if (offsets.isEmpty())
        return 0;
    double sum = 0;
    for (const Offset& offset : offsets)
        sum += static_cast<double>(offset.steps) * static_cast<double>(offset.steps);
    return std::sqrt(sum / static_cast<double>(offsets.size()));
}

} // namespace

double rmsDifference(const QList<RunStep>& steps, const RunSettings& settings,
                     const QList<TraceSample>& samples) {
    return rmsOf(offsetsOf(steps, settings, positions(samples)));
}

TraceComparison compareTrace(const QList<RunStep>& steps, const RunSettings& given,
                             const QList<TraceSample>& samples, bool atRest) {
    RunSettings settings = given;
    settings.inputs = reportedInputs(samples);
    settings.holdForInputs = false;
    settings.record = true;
    TraceComparison comparison;
    comparison.samples = samples.size();
    const QList<QPair<double, qint64>> readings = positions(samples);
    comparison.hasPosition = !readings.isEmpty();
    if (samples.size() > 1) {
        std::vector<double> gaps;
        for (qsizetype i = 1; i < samples.size(); ++i) {
            const double gap = samples.at(i).at - samples.at(i - 1).at;
            gaps.push_back(gap);
            if (gap > comparison.longestGap) {
                comparison.longestGap = gap;
                comparison.gapFrom = samples.at(i - 1).at;
            }
        }
        std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2),
                         gaps.end());
        comparison.interval = gaps[gaps.size() / 2];
    }
    // Readings that stopped for a while (the window was held up, the line
    // was slow): what the unit did then is not known, and is said so.
    if (comparison.longestGap > std::max(0.25, 5 * comparison.interval))
        comparison.findings << QStringLiteral("the readings paused for %1 s from %2 s: what the "
                                              "unit did then is not known")
                                   .arg(QString::number(comparison.longestGap, 'f', 2),
                                        seconds(comparison.gapFrom));
    const double until = samples.isEmpty() ? 0.0 : samples.last().at;
    settings.limit = std::max(settings.limit, until + 1);
    Executor run(steps, settings);
    run.runUntil(until);
    comparison.predictedSeconds = lastMoveEnd(run);
    comparison.predictedFinalPosition = atRest ? run.restingPosition() : run.positionAt(until);
    comparison.predictedPlateaus = predictedPlateaus(run, comparison.interval);
    for (const TraceSample& sample : samples) {
        const QString code = sample.errorCode;
        if (!code.isEmpty() && code != QLatin1String("0")) {
            comparison.findings << QStringLiteral("the unit reported error code %1 at %2 s")
                                       .arg(code, seconds(sample.at));
            break;
        }
    }
    if (!comparison.hasPosition)
        return comparison;

    const QList<Offset> offsets = offsetsOf(steps, settings, readings);
    for (const Offset& offset : offsets)
        if (!comparison.largest || std::abs(offset.steps) > std::abs(comparison.largest->steps))
            comparison.largest = TraceComparison::Difference{offset.steps, offset.at, offset.line};
    comparison.rms = rmsOf(offsets);
    comparison.finalPosition = readings.last().second;
    comparison.measuredPlateaus = measuredPlateaus(readings);
    // At rest for good: where the last change of position ended; of a unit
    // the trace left before it came to rest, nothing is said.
    for (qsizetype i = readings.size() - 1; atRest && i > 0; --i) {
        if (readings.at(i - 1).second != readings.at(i).second) {
            comparison.measuredSeconds = (readings.at(i - 1).first + readings.at(i).first) / 2;
            break;
        }
    }

    // What lies beyond what readings this far apart can tell.
    const double resolution = 2 * comparison.interval;
    if (atRest && comparison.measuredSeconds && comparison.predictedSeconds &&
        *comparison.predictedSeconds > 0) {
        const double measured = *comparison.measuredSeconds;
        const double predicted = *comparison.predictedSeconds;
        const double percent = percentOff(measured, predicted);
        if (std::abs(measured - predicted) > resolution && percent >= 1.0)
            comparison.findings << QStringLiteral("the unit took %1 % %2 than the model")
                                       .arg(static_cast<int>(std::floor(percent)))
                                       .arg(measured > predicted ? QStringLiteral("longer")
                                                                 : QStringLiteral("less time"));
    }
    if (atRest) {
        const qint64 off = *comparison.finalPosition - comparison.predictedFinalPosition;
        const qint64 start = settings.position;
        const qint64 way = comparison.predictedFinalPosition - start;
        if (off != 0) {
            const bool shortOf = way != 0 && (off < 0) == (way > 0);
            comparison.findings << (shortOf ? QStringLiteral("the unit ended %1 steps short of "
                                                             "the model (lost steps?)")
                                            : QStringLiteral("the unit ended %1 steps past the "
                                                             "model"))
                                       .arg(std::abs(off));
        }
    }
    if (!atRest)
        comparison.findings << QStringLiteral("the trace ended before the unit came to rest: "
                                              "its end is not compared with the model's");
    else if (comparison.findings.isEmpty())
        comparison.findings << QStringLiteral("the unit ran as the model predicts, within what "
                                              "readings %1 s apart can tell")
                                   .arg(seconds(comparison.interval));
    return comparison;
}

std::optional<AccelFit> fitAccelUnit(const QList<RunStep>& steps, const RunSettings& given,
                                     const QList<TraceSample>& samples) {
    if (positions(samples).size() < 3)
        return std::nullopt;
    RunSettings settings = given;
    settings.inputs = reportedInputs(samples);
    settings.holdForInputs = false;
    settings.limit = std::max(settings.limit, samples.last().at + 1);
    const auto error = [&](double logUnit) {
        RunSettings trial = settings;
        trial.stepsPerSecondSquaredPerA = std::pow(10.0, logUnit);
        return rmsDifference(steps, trial, samples);
    };
    const double before = rmsDifference(steps, settings, samples);
    // Eight to a decade over what the model takes (1 to 10^6), then the
    // best bracket narrowed by golden sections.
    constexpr double Low = 0, High = 6, Step = 0.125;
    double bestLog = std::log10(std::clamp(settings.stepsPerSecondSquaredPerA, 1.0, 1e6));
    double best = before;
    bool dependsOnIt = false;
    for (double logUnit = Low; logUnit <= High + 1e-9; logUnit += Step) {
        const double value = error(logUnit);
        if (std::abs(value - before) > 1e-9)
            dependsOnIt = true;
        if (value < best - 1e-9) {
            best = value;
            bestLog = logUnit;
        }
    }
    if (!dependsOnIt)
        return std::nullopt;
    double a = std::max(Low, bestLog - Step), b = std::min(High, bestLog + Step);
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    double c = b - ratio * (b - a), d = a + ratio * (b - a);
    double fc = error(c), fd = error(d);
    for (int i = 0; i < 40 && b - a > 1e-4; ++i) {
        if (fc < fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - ratio * (b - a);
            fc = error(c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + ratio * (b - a);
            fd = error(d);
        }
    }
    const double refined = (a + b) / 2;
    if (const double value = error(refined); value < best) {
        best = value;
        bestLog = refined;
    }
    // The box takes whole numbers.
    const double unit = std::max(1.0, std::round(std::pow(10.0, bestLog)));
    RunSettings fitted = settings;
    fitted.stepsPerSecondSquaredPerA = unit;
    return AccelFit{settings.stepsPerSecondSquaredPerA, unit, before,
                    rmsDifference(steps, fitted, samples)};
}

QStringList comparisonLines(const TraceComparison& c) {
    QStringList lines;
    const auto time = [](const std::optional<double>& value) {
        return value ? seconds(*value) + QStringLiteral(" s") : QStringLiteral("-");
    };
    if (!c.hasPosition) {
        lines << QStringLiteral("At rest (model): %1").arg(time(c.predictedSeconds));
        lines << QStringLiteral("Final position (model): %1").arg(c.predictedFinalPosition);
    } else {
        lines << QStringLiteral("At rest: measured %1, model %2")
                     .arg(time(c.measuredSeconds), time(c.predictedSeconds));
        lines << QStringLiteral("Final position: measured %1, model %2")
                     .arg(c.finalPosition.value_or(0))
                     .arg(c.predictedFinalPosition);
        if (c.largest)
            lines << QStringLiteral("Largest difference: %1 steps at %2 s (line %3)")
                         .arg(c.largest->steps)
                         .arg(seconds(c.largest->at))
                         .arg(c.largest->line);
        const qsizetype shared = std::min(c.measuredPlateaus.size(), c.predictedPlateaus.size());
        QStringList ends;
        for (qsizetype i = 0; i < shared; ++i)
            ends << QStringLiteral("%1 s / %2 s at %3")
                        .arg(seconds(c.measuredPlateaus.at(i).at),
                             seconds(c.predictedPlateaus.at(i).at))
                        .arg(c.measuredPlateaus.at(i).position);
        if (!ends.isEmpty())
            lines << QStringLiteral("Moves' ends (measured / model): ") +
                         ends.join(QStringLiteral("; "));
        if (c.measuredPlateaus.size() != c.predictedPlateaus.size()) {
            const auto times = [](qsizetype n) {
                return n == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(n);
            };
            lines << QStringLiteral("The unit came to rest %1, the model %2")
                         .arg(times(c.measuredPlateaus.size()), times(c.predictedPlateaus.size()));
        }
    }
    for (const QString& finding : c.findings)
        lines << QStringLiteral("Finding: ") + finding;
    return lines;
}

QString fitLine(const AccelFit& fit) {
    if (std::abs(fit.accelUnit - fit.given) < 0.5)
        return QStringLiteral("The model's own %1 steps/s\u00B2 per A fits best: the curves differ "
                              "by %2 steps (RMS)")
            .arg(fit.given, 0, 'f', 0)
            .arg(fit.rmsAfter, 0, 'f', 1);
    return QStringLiteral("The model fits best with %1 steps/s\u00B2 per A: the curves differ by "
                          "%2 steps (RMS) instead of %3")
        .arg(fit.accelUnit, 0, 'f', 0)
        .arg(fit.rmsAfter, 0, 'f', 1)
        .arg(fit.rmsBefore, 0, 'f', 1);
}

QByteArray traceSampleCsvHeader() {
    return "seconds,position,inputs,error_code\r\n";
}

QByteArray traceSampleCsvRow(const TraceSample& sample) {
    // The error code as answered may hold anything: quoted, quotes doubled,
    // and never read by a spreadsheet as a formula.
    QString code = sample.errorCode;
    if (code.startsWith(QLatin1Char('=')) || code.startsWith(QLatin1Char('@')))
        code.prepend(QLatin1Char('\''));
    code.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QStringLiteral("%1,%2,%3,\"%4\"\r\n")
        .arg(seconds(sample.at),
             sample.position ? QString::number(*sample.position) : QString(),
             sample.inputs >= 0 ? QString::number(sample.inputs) : QString(), code)
        .toUtf8();
}

} // namespace kqm::dryrun
