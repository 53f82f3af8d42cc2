#pragma once

#include "dryrun/executor.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QString>

#include <optional>

namespace kqm::dryrun {

// What a run came to, for people (text) and for scripts (JSON; the fields
// are documented in docs/dry-run.md).
QString runReportText(const Executor& run);
QJsonObject runReportJson(const Executor& run);

// One CSV row per executed line: time, line, command, position, outputs.
// The run must have been recorded.
QByteArray runTraceCsv(const Executor& run);
// What the dry run found, at the moment shown: how it ended (or why it
// waits), the travel so far, and a warning past the travel limits (low,
// high) when there are any.
QString runFindings(const Executor& run, double shownTime,
                    const std::optional<QPair<qint64, qint64>>& travelLimits);

// The position over program time as points (seconds, steps), in time order:
// each executed line's moment, and enough points inside each move for its
// ramps. The run must have been recorded.
QList<QPointF> positionPoints(const Executor& run);
// The points a plot `columns` wide can show: per column where the curve
// enters, its lowest and highest, and where it leaves.
QList<QPointF> thinnedPoints(const QList<QPointF>& points, double span, int columns);
// The trace as it comes: the header, then a row per executed line.
QByteArray traceCsvHeader();
QByteArray traceCsvRow(const QList<RunStep>& steps, const ExecutedLine& line);
// The outputs over program time: (seconds, pattern) at each change.
QList<QPair<double, int>> outputChanges(const Executor& run);

// What a unit reported while it ran the same program, drawn over the model.
struct MeasuredCurve {
    QList<QPointF> points;            // (seconds, position)
    QList<QPair<double, int>> inputs; // (seconds, pattern) at each change
};

// The plot as an SVG document: position over time, the outputs as a strip
// beneath it; with a measured curve, that curve in another colour and the
// unit's inputs as strips of their own.
QByteArray runPlotSvg(const Executor& run, int width = 900, int height = 420,
                      const MeasuredCurve* measured = nullptr);

} // namespace kqm::dryrun
