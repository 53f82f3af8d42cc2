#pragma once

#include "dryrun/executor.h"
#include "dryrun/run_report.h"
#include "dryrun/trace_compare.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace kqm::link {
class Link;
}
namespace kqm::platform {
class Clock;
}

namespace kqm::transfer {

// A trace: the unit runs the program it holds (checked first to be the
// program file's), and is read, one query at a time, as fast as the line
// carries the queries, until it has stood still for a second after the
// model's end, the time limit or Stop. The model runs the same program from
// where the unit stood, with the inputs the unit reported.

enum class TraceEnd {
    Standstill, // at rest for a second after the model's end
    Limit,      // the time limit passed (the unit is stopped)
    Stopped,    // Stop Motion, Ctrl+C or the window closing (the unit is stopped)
    Lost,       // the port went away or the line kept sending
    NoAnswer,   // no unit answered, or it stopped answering (the unit is stopped)
    NotInStep,  // the unit holds another program, or none: nothing ran
    NotRun,     // nothing ran for another reason (the file, another exchange)
};
QString traceEndName(TraceEnd end); // "standstill", "limit", ...

inline const QString TraceWork = QStringLiteral("a trace of the unit's motion");

struct TraceRequest {
    QString programFile;
    double limit = 60; // seconds of the unit's run
    // The model's choices (the acceleration unit, whether moves hold); where
    // the motor starts is read from the unit.
    dryrun::RunSettings model;
    QString logFile; // the transfer log; empty: none kept
};

struct TraceCallbacks {
    // What runs now, in words ("checking the unit's program", "running").
    std::function<void(const QString& phase)> phase;
    // Each reading as it comes; the model's run once it is known, before
    // the unit starts.
    std::function<void(const dryrun::TraceSample& sample)> sample;
    std::function<void(const QList<dryrun::RunStep>& steps, const dryrun::RunSettings& settings,
                       double predictedEnd)>
        started;
    // Stop from outside the link (Ctrl+C in kqmctl).
    std::function<bool()> stopped;
};

struct TraceResult {
    TraceEnd end = TraceEnd::NotRun;
    QString message; // why nothing ran, or why it ended early, in words
    QString model;   // the unit's
    QString programFile;
    QString axis;
    QList<dryrun::RunStep> steps;
    dryrun::RunSettings settings; // the model's, from where the unit stood
    QList<dryrun::TraceSample> samples;
    double rateHz = 0;
    // The model's end of the program (Quit and the run-out); infinity for a
    // program that does not end within the limit.
    double predictedEnd = std::numeric_limits<double>::infinity();
    bool unitStopped = false; // the trace's own stop frame ended the unit's run
    std::optional<dryrun::TraceComparison> comparison;

    bool started = false; // the run frame went out
    bool ran() const { return started; }
    // The readings are the unit's to the end: it came to rest, or the trace
    // ended it (limit, Stop); not cut off by a lost port or a silent unit.
    bool readingsSound() const {
        return started && (end == TraceEnd::Standstill || end == TraceEnd::Limit ||
                           end == TraceEnd::Stopped);
    }
};

// Runs inside a long exchange of its own: nothing else writes to the unit
// meanwhile. Refused, with the busy message, while another exchange runs.
TraceResult traceUnit(link::Link& link, const platform::Clock& clock, const TraceRequest& request,
                      const TraceCallbacks& callbacks = {});

// The readings' moments and positions, and the inputs, for a plot.
dryrun::MeasuredCurve measuredCurve(const QList<dryrun::TraceSample>& samples);
// The model's run of a trace, recorded for a plot, with the reported inputs.
std::unique_ptr<dryrun::Executor> tracedModelRun(const TraceResult& result);

// The acceleration unit that fits the readings best; nothing for readings cut
// off by the port or a silent unit, or that give no position.
std::optional<dryrun::AccelFit> fitOf(const TraceResult& result);

QStringList traceReportLines(const TraceResult& result);
QJsonObject traceReportJson(const TraceResult& result,
                            const std::optional<dryrun::AccelFit>& fit = std::nullopt);
QByteArray tracePlotSvg(const TraceResult& result);

} // namespace kqm::transfer
