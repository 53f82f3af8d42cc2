#include "dryrun/run_report.h"

#include "program/command_set.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kqm::dryrun {

namespace {

int endLine(const Executor& run) {
    const int step = run.endStep();
    return step >= 0 && step < run.steps().size() ? run.steps().at(step).line : 0;
}

QString seconds(double value) {
    return QString::number(value, 'f', 3);
}

QString outputsText(int outputs) {
    return QStringLiteral("%1 (%2)").arg(outputs).arg(program::SwitchStateText(outputs & 3));
}

QString csvField(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
               QLatin1Char('"');
    return text;
}

QString xmlText(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}

} // namespace

QString runReportText(const Executor& run) {
    QString text;
    text += QStringLiteral("end: %1 at line %2").arg(runEndName(run.end())).arg(endLine(run));
    if (!run.endReason().isEmpty())
        text += QStringLiteral(": ") + run.endReason();
    text += QLatin1Char('\n');
    text += QStringLiteral("seconds: %1%2\n")
                .arg(seconds(run.now()),
                     run.timedByModel() ? QStringLiteral(" estimated (model)") : QString());
    text += QStringLiteral("lines executed: %1\n").arg(run.linesExecuted());
    text += QStringLiteral("position: %1\n").arg(run.restingPosition());
    text += QStringLiteral("lowest position: %1\n").arg(run.lowest());
    text += QStringLiteral("highest position: %1\n").arg(run.highest());
    text += QStringLiteral("outputs: %1\n").arg(outputsText(run.outputs()));
    if (!run.finding().isEmpty())
        text += QStringLiteral("finding: %1\n").arg(run.finding());
    text += QStringLiteral("assumptions:\n");
    for (const QString& assumption : run.assumptions())
        text += QStringLiteral("  - %1\n").arg(assumption);
    return text;
}

QJsonObject runReportJson(const Executor& run) {
    QJsonArray assumptions;
    for (const QString& assumption : run.assumptions())
        assumptions.append(assumption);
    return QJsonObject{
        {QStringLiteral("end"), runEndName(run.end())},
        {QStringLiteral("line"), endLine(run)},
        {QStringLiteral("reason"), run.endReason()},
        {QStringLiteral("seconds"), run.now()},
        {QStringLiteral("seconds_estimated"), run.timedByModel()},
        {QStringLiteral("lines_executed"), static_cast<double>(run.linesExecuted())},
        {QStringLiteral("position"), static_cast<double>(run.restingPosition())},
        {QStringLiteral("min_position"), static_cast<double>(run.lowest())},
        {QStringLiteral("max_position"), static_cast<double>(run.highest())},
        {QStringLiteral("outputs"), run.outputs()},
        {QStringLiteral("finding"), run.finding()},
        {QStringLiteral("assumptions"), assumptions},
    };
}

QByteArray traceCsvHeader() {
    return QByteArrayLiteral("time,line,command,position,outputs\n");
}

QByteArray traceCsvRow(const QList<RunStep>& steps, const ExecutedLine& line) {
    const RunStep& step = steps.at(line.step);
    return QStringLiteral("%1,%2,%3,%4,%5\n")
        .arg(QString::number(line.at, 'f', 4))
        .arg(step.line)
        .arg(csvField(step.text))
        .arg(line.position)
        .arg(line.outputs)
        .toUtf8();
}

QByteArray runTraceCsv(const Executor& run) {
    QByteArray csv = traceCsvHeader();
    for (const ExecutedLine& line : run.executed())
        csv += traceCsvRow(run.steps(), line);
    return csv;
}

QList<QPointF> positionPoints(const Executor& run) {
    QList<QPointF> points;
    points.reserve(run.executed().size() + run.moves().size() * 20 + 2);
    points << QPointF(0, static_cast<double>(run.startPosition()));
    for (const ExecutedLine& line : run.executed())
        points << QPointF(line.at, static_cast<double>(line.position));
    // A run that has ended shows the run-out of a move still going.
    const double until = run.end() == RunEnd::Running ? run.now() : run.restingTime();
    for (const MotionProfile& move : run.moves()) {
        const double end = std::min(move.end(), until);
        const auto sample = [&](double time) {
            if (time >= move.start && time <= end)
                points << QPointF(time, static_cast<double>(move.positionAt(time)));
        };
        constexpr int PerRamp = 8;
        for (int i = 0; i <= PerRamp; ++i) {
            sample(move.start + move.rampTime * i / PerRamp);
            sample(move.end() - move.rampTime * i / PerRamp);
        }
        sample(end);
    }
    points << QPointF(run.now(), static_cast<double>(run.position()));
    if (until > run.now())
        points << QPointF(until, static_cast<double>(run.restingPosition()));
    std::stable_sort(points.begin(), points.end(),
                     [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return points;
}

QList<QPair<double, int>> outputChanges(const Executor& run) {
    QList<QPair<double, int>> changes{{0.0, run.settings().outputs & 3}};
    for (const ExecutedLine& line : run.executed())
        if (line.outputs != changes.last().second)
            changes << qMakePair(line.at, line.outputs);
    if (run.outputs() != changes.last().second)
        changes << qMakePair(run.now(), run.outputs());
    return changes;
}

QList<QPointF> thinnedPoints(const QList<QPointF>& points, double span, int columns) {
    // Per column only where the curve enters, its lowest and highest, and
    // where it leaves can be seen.
    QList<QPointF> thinned;
    if (points.isEmpty() || span <= 0 || columns <= 0)
        return points;
    qint64 column = std::numeric_limits<qint64>::min();
    QPointF first, low, high, last;
    const auto flush = [&] {
        if (column == std::numeric_limits<qint64>::min())
            return;
        QList<QPointF> four{first, low, high, last};
        std::stable_sort(four.begin(), four.end(),
                         [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
        for (const QPointF& point : four)
            if (thinned.isEmpty() || thinned.last() != point)
                thinned << point;
    };
    for (const QPointF& point : points) {
        const qint64 at = static_cast<qint64>(std::floor(point.x() / span * columns));
        if (at != column) {
            flush();
            column = at;
            first = low = high = last = point;
            continue;
        }
        if (point.y() < low.y())
            low = point;
        if (point.y() > high.y())
            high = point;
        last = point;
    }
    flush();
    return thinned;
}

QByteArray runPlotSvg(const Executor& run, int width, int height, const MeasuredCurve* measured) {
    const QList<QPointF> all = positionPoints(run);
    double until = all.isEmpty() ? run.now() : all.last().x();
    if (measured && !measured->points.isEmpty())
        until = std::max(until, measured->points.last().x());
    const QList<QPointF> points = thinnedPoints(all, std::max(until, 1e-3), width);
    const QList<QPointF> unitPoints =
        measured ? thinnedPoints(measured->points, std::max(until, 1e-3), width) : QList<QPointF>();
    const int strips = measured ? 6 : 2; // two outputs, four inputs
    const double left = 70, right = width - 20.0, top = 20;
    const double plotBottom = measured ? height - 40.0 - strips * 22.0 : height * 0.72;
    const double stripTop = plotBottom + 30, stripHeight = 16;
    const double span = std::max(std::max(until, run.now()), 1e-3);
    double low = static_cast<double>(run.lowest()), high = static_cast<double>(run.highest());
    for (const QList<QPointF>* curve : {&points, &unitPoints}) {
        for (const QPointF& point : *curve) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    if (high <= low)
        high = low + 1;
    const auto x = [&](double time) {
        return left + (right - left) * time / span;
    };
    const auto y = [&](double position) {
        return plotBottom - (plotBottom - top) * (position - low) / (high - low);
    };
    QString svg =
        QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                       "font-family=\"sans-serif\" font-size=\"12\">\n"
                       "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n")
            .arg(width)
            .arg(height);
    svg += QStringLiteral("<path d=\"M%1 %2V%3H%4\" stroke=\"black\" fill=\"none\"/>\n")
               .arg(left)
               .arg(top)
               .arg(plotBottom)
               .arg(right);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
               .arg(left - 4)
               .arg(top + 4)
               .arg(high);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
               .arg(left - 4)
               .arg(plotBottom)
               .arg(low);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3 s%4</text>\n")
               .arg(right)
               .arg(plotBottom + 16)
               .arg(seconds(run.now()),
                    xmlText(run.timedByModel() ? QStringLiteral(" estimated (model)") : QString()));
    // The model that ran, for whoever reads the plot alone.
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"11\">model: %3</text>\n")
               .arg(left)
               .arg(top - 6)
               .arg(xmlText(run.assumptions().mid(0, 2).join(QStringLiteral("; "))));
    QString path;
    for (const QPointF& point : points)
        path += QStringLiteral("%1%2 %3")
                    .arg(path.isEmpty() ? QLatin1Char('M') : QLatin1Char('L'))
                    .arg(x(point.x()), 0, 'f', 1)
                    .arg(y(point.y()), 0, 'f', 1);
    svg += QStringLiteral("<path d=\"%1\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" "
                          "fill=\"none\"/>\n")
               .arg(path);
    if (measured) {
        QString unitPath;
        for (const QPointF& point : unitPoints)
            unitPath += QStringLiteral("%1%2 %3")
                            .arg(unitPath.isEmpty() ? QLatin1Char('M') : QLatin1Char('L'))
                            .arg(x(point.x()), 0, 'f', 1)
                            .arg(y(point.y()), 0, 'f', 1);
        if (!unitPath.isEmpty())
            svg += QStringLiteral("<path class=\"measured\" d=\"%1\" stroke=\"#d02020\" "
                                  "stroke-width=\"1.5\" fill=\"none\"/>\n")
                       .arg(unitPath);
        // Inside the plot's top right, clear of the model's caption above it.
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\" font-size=\"11\">"
                              "<tspan fill=\"#1f5fbf\">model</tspan>%3</text>\n")
                   .arg(right - 4)
                   .arg(top + 14)
                   .arg(unitPath.isEmpty()
                            ? QString()
                            : QStringLiteral(" <tspan fill=\"#d02020\">unit</tspan>"));
    }
    // A strip per bit of a pattern over time, filled while the bit is set:
    // the outputs, and the inputs a unit reported.
    const auto drawStrips = [&](const QList<QPair<double, int>>& changes, int row, int bits,
                            const QString& name, const char* fill) {
        for (int bit = 0; bit < bits; ++bit) {
            const double stripY = stripTop + (row + bit) * (stripHeight + 6);
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3 %4</text>\n")
                       .arg(left - 4)
                       .arg(stripY + 12)
                       .arg(name)
                       .arg(bit + 1);
            for (qsizetype i = 0; i < changes.size(); ++i) {
                if (!(changes.at(i).second & (1 << bit)))
                    continue;
                const double from = changes.at(i).first;
                const double to = i + 1 < changes.size() ? changes.at(i + 1).first : span;
                svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                                      "fill=\"%5\"/>\n")
                           .arg(x(from), 0, 'f', 1)
                           .arg(stripY)
                           .arg(std::max(1.0, x(to) - x(from)), 0, 'f', 1)
                           .arg(stripHeight)
                           .arg(QLatin1String(fill));
            }
        }
    };
    drawStrips(outputChanges(run), 0, 2, QStringLiteral("output"), "#d08020");
    if (measured)
        drawStrips(measured->inputs, 2, 4, QStringLiteral("input"), "#20a040");
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

QString runFindings(const Executor& run, double shownTime,
                    const std::optional<QPair<qint64, qint64>>& travelLimits) {
    QStringList found;
    const QString estimated = run.timedByModel() ? QStringLiteral(" estimated (model)") : QString();
    const int line = run.endStep() >= 0 ? run.steps().at(run.endStep()).line : 0;
    switch (run.end()) {
    case RunEnd::Running:
        if (run.holding() && run.next() < run.steps().size()) {
            const RunStep& waiting = run.steps().at(run.next());
            found << (waiting.letter == 'U'
                          ? QStringLiteral("Line %1 waits for inputs 1 and 2 to be %2: switch the "
                                           "inputs.")
                                .arg(waiting.line)
                                .arg(
                                    program::SwitchStateText(static_cast<int>(waiting.operands[1])))
                          : QStringLiteral("The program waits for the inputs to change: switch "
                                           "them."));
        }
        break;
    case RunEnd::Quit:
        found << QStringLiteral("Cycle time: %1 s%2, from the start to Quit at line %3.")
                     .arg(run.now(), 0, 'f', 3)
                     .arg(estimated)
                     .arg(line);
        break;
    case RunEnd::Limit:
        found << QStringLiteral("Endless: %1.").arg(run.finding());
        break;
    case RunEnd::TooManyLines:
        found << QStringLiteral("Stopped at line %1: %2.").arg(line).arg(run.endReason());
        break;
    case RunEnd::NotSimulated:
        found << QStringLiteral("Stopped at line %1, not simulated: %2.")
                     .arg(line)
                     .arg(run.endReason());
        break;
    }
    if (run.end() == RunEnd::Quit && !run.finding().isEmpty())
        found << run.finding() + QLatin1Char('.');
    // So far: a move in progress has passed every position up to where the
    // motor stands at the moment shown.
    const auto [lowest, highest] = run.travelAt(shownTime);
    found << QStringLiteral("Travel: %1 to %2 steps.").arg(lowest).arg(highest);
    if (travelLimits && (lowest < travelLimits->first || highest > travelLimits->second))
        found << QStringLiteral("Warning: the travel passes the limits %1 to %2.")
                     .arg(travelLimits->first)
                     .arg(travelLimits->second);
    return found.join(QLatin1Char('\n'));
}

} // namespace kqm::dryrun
