#include "transfer/unit_trace.h"

#include "link/link.h"
#include "link/motion_panel.h"
#include "platform/clock.h"
#include "program/program_table.h"
#include "transfer/machine_status.h"
#include "transfer/send_operation.h"
#include "transfer/send_request.h"
#include "transfer/transfer_log.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <cmath>

namespace kqm::transfer {

using dryrun::TraceSample;

QString traceEndName(TraceEnd end) {
    switch (end) {
    case TraceEnd::Standstill:
        return QStringLiteral("standstill");
    case TraceEnd::Limit:
        return QStringLiteral("limit");
    case TraceEnd::Stopped:
        return QStringLiteral("stopped");
    case TraceEnd::Lost:
        return QStringLiteral("lost");
    case TraceEnd::NoAnswer:
        return QStringLiteral("no-answer");
    case TraceEnd::NotInStep:
        return QStringLiteral("not-in-step");
    case TraceEnd::NotRun:
        break;
    }
    return QStringLiteral("not-run");
}

namespace {

// Seconds of standing still, after the model's end, that end a trace.
constexpr double StandstillSeconds = 1.0;
// Rounds in a row without any answer before the unit counts as silent.
constexpr int MissesToGiveUp = 3;

QString trimmed(const QByteArray& reply) {
    return QString::fromLatin1(reply).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')).trimmed();
}

std::optional<qint64> numberIn(const std::optional<QByteArray>& reply) {
    if (!reply)
        return std::nullopt;
    bool ok = false;
    const qint64 value = trimmed(*reply).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

class Tracer {
public:
    Tracer(link::Link& link, const platform::Clock& clock, const TraceRequest& request,
           const TraceCallbacks& callbacks, const link::Link::LongExchange& held)
        : m_link(link), m_clock(clock), m_request(request), m_callbacks(callbacks), m_held(held) {}

    void run(TraceResult& result);

private:
    bool stopped() const {
        return m_held.stopped() || m_link.exchanges().abortRequested() ||
               (m_callbacks.stopped && m_callbacks.stopped());
    }
    void phase(const QString& what) {
        if (m_callbacks.phase)
            m_callbacks.phase(what);
    }
    double queryTimeout() const { return 0.55 + 16 * m_link.characterTime(); }
    // When the frame's carriage return reaches the unit: the moment it
    // answers for.
    double arrival(double written, const QString& command) const {
        const int characters = 2 + static_cast<int>(m_link.state().AxisAddress.size()) +
                               static_cast<int>(command.size());
        return written + characters * m_link.characterTime();
    }
    std::optional<QByteArray> ask(const QString& command, double* at) {
        const double written = m_clock.now();
        const auto reply = m_link.queryReply(command, queryTimeout());
        if (at)
            *at = arrival(written, command);
        return reply;
    }
    bool check(TraceResult& result, const QVector<program::ProgramRow>& rows);
    enum class Reading { Taken, Missed, Lost };
    // One round of queries: the position (a KQM20), the inputs and the error
    // code. A round whose position (or, without one, whose inputs) is no
    // number is missed: a garbled or late reply is never taken as a reading.
    Reading read(TraceSample& sample, bool position);
    void readStart(dryrun::RunSettings& settings, bool position);

    link::Link& m_link;
    const platform::Clock& m_clock;
    const TraceRequest& m_request;
    const TraceCallbacks& m_callbacks;
    const link::Link::LongExchange& m_held;
    // The model's final position and its longest standstill while it runs.
    qint64 m_predictedFinal = 0;
    double m_longestStill = 0;
};

Tracer::Reading Tracer::read(TraceSample& sample, bool position) {
    bool timedOut = false;
    const auto query = [&](const QString& command, double* at) {
        const auto reply = ask(command, at);
        if (!reply && m_link.isPortOpen())
            timedOut = true;
        return reply;
    };
    double at = 0;
    if (position)
        sample.position = numberIn(query(QStringLiteral("VZ"), &at));
    double inputsAt = 0;
    if (m_link.isPortOpen()) {
        const auto pattern = numberIn(query(QStringLiteral("I"), &inputsAt));
        if (pattern && *pattern >= 0 && *pattern <= 15)
            sample.inputs = static_cast<int>(*pattern);
    }
    if (m_link.isPortOpen()) {
        const auto reply = query(QStringLiteral("!"), nullptr);
        if (numberIn(reply))
            sample.errorCode = trimmed(*reply);
    }
    if (!m_link.isPortOpen())
        return Reading::Lost;
    // The window closing cuts the waits short: replies still on their way
    // would answer the wrong queries, so the round counts for nothing.
    if (m_link.exchanges().abortRequested())
        return Reading::Missed;
    if (timedOut) {
        // A reply that comes after its query gave up answers nothing asked
        // later: let the line fall quiet and drop it.
        m_link.Delay(0.1);
        m_link.readSettled(0.05, link::MaxQueryReplyBytes);
        if (!m_link.isPortOpen())
            return Reading::Lost;
    }
    sample.at = position ? at : inputsAt;
    const bool taken = position ? sample.position.has_value() : sample.inputs >= 0;
    return taken ? Reading::Taken : Reading::Missed;
}

bool Tracer::check(TraceResult& result, const QVector<program::ProgramRow>& rows) {
    phase(QStringLiteral("checking the unit's program"));
    files::MachineUnit unit;
    unit.axis = m_link.state().AxisAddress.toInt();
    unit.program = result.programFile;
    const UnitStatus status = checkMachineUnit(m_link, unit, &m_held);
    result.model = status.model;
    const QString file = QDir::toNativeSeparators(result.programFile);
    switch (status.state) {
    case UnitState::InStep:
        break;
    case UnitState::Differs:
        result.end = TraceEnd::NotInStep;
        result.message =
            QStringLiteral("the unit holds another program: send %1 first (they differ from %2)")
                .arg(file, status.detail);
        return false;
    case UnitState::NoProgram:
        result.end = TraceEnd::NotInStep;
        result.message = QStringLiteral("the unit holds no program: send %1 first").arg(file);
        return false;
    case UnitState::NoUnit:
        result.end = TraceEnd::NoAnswer;
        result.message = status.detail;
        return false;
    case UnitState::WrongModel:
    case UnitState::NotChecked:
        result.end = stopped() ? TraceEnd::Stopped
                               : (m_link.isPortOpen() ? TraceEnd::NotRun : TraceEnd::Lost);
        result.message = status.detail.isEmpty() ? QStringLiteral("the unit was not checked")
                                                 : status.detail;
        return false;
    }
    // The model runs the rows read just before the check, which reads the
    // file again a moment later.
    QStringList commands;
    for (const program::ProgramRow& row : rows)
        commands << row.command;
    result.steps = dryrun::stepsFromCommands(commands);
    return true;
}

void Tracer::readStart(dryrun::RunSettings& settings, bool position) {
    // The model starts where the unit stands, with its settings.
    const struct {
        const char* query;
        qint64* into;
    } numbers[] = {{"VA", &settings.acceleration}, {"VB", &settings.base}, {"VM", &settings.max}};
    for (const auto& number : numbers)
        if (const auto value = numberIn(ask(QString::fromLatin1(number.query), nullptr)))
            *number.into = *value;
    if (const auto direction = ask(QStringLiteral("V+"), nullptr);
        direction && !trimmed(*direction).isEmpty())
        settings.clockwise = trimmed(*direction).at(0) != QLatin1Char('0');
    if (position)
        if (const auto value = numberIn(ask(QStringLiteral("VZ"), nullptr)))
            settings.position = *value;
}

void Tracer::run(TraceResult& result) {
    program::ProgramTable table;
    std::optional<QVector<program::ProgramRow>> rows;
    if (table.open(m_request.programFile, program::SqliteFile::Mode::ReadOnly))
        rows = table.readRows();
    if (!rows) {
        result.message = QStringLiteral("%1 could not be read: %2")
                             .arg(QDir::toNativeSeparators(m_request.programFile),
                                  table.isOpen() ? table.file().lastError()
                                                 : table.openFailure(m_request.programFile));
        return;
    }
    table.close();
    if (!check(result, *rows))
        return;
    const bool position = result.model == QLatin1String("KQM20");
    dryrun::RunSettings settings = m_request.model;
    settings.limit = m_request.limit;
    settings.record = false;
    // Until readings come, the inputs the unit has now.
    const auto inputs = numberIn(ask(QStringLiteral("I"), nullptr));
    readStart(settings, position);
    if (stopped() || !m_link.isPortOpen()) {
        result.end = m_link.isPortOpen() ? TraceEnd::Stopped : TraceEnd::Lost;
        result.message = m_link.isPortOpen() ? QStringLiteral("stopped before the unit ran")
                                             : m_link.lostReason();
        return;
    }
    result.settings = settings;
    {
        dryrun::RunSettings ahead = settings;
        ahead.holdForInputs = false;
        ahead.inputs = {{0, inputs && *inputs >= 0 && *inputs <= 15 ? static_cast<int>(*inputs) : 0}};
        ahead.record = true;
        dryrun::Executor model(result.steps, ahead);
        model.run();
        if (model.end() != dryrun::RunEnd::Limit)
            result.predictedEnd = std::max(model.now(), model.restingTime());
        m_predictedFinal = model.restingPosition();
        m_longestStill = dryrun::longestStandstill(model);
    }
    if (m_callbacks.started)
        m_callbacks.started(result.steps, settings, result.predictedEnd);

    phase(QStringLiteral("running"));
    const double startWritten = m_clock.now();
    m_link.writeFrame(link::RunProgramFrame);
    result.started = true;
    const double start = arrival(startWritten, link::RunProgramFrame);
    std::optional<qint64> last;
    double lastChange = 0;
    int misses = 0;
    // Standing still at the model's final position ends the trace after a
    // second; anywhere else the unit may still be in a wait of its own (a
    // motor slower than the model), so it ends once it has stood still
    // longer than the model ever does.
    const double longerThanTheModel = std::max(StandstillSeconds, m_longestStill + StandstillSeconds);
    result.end = TraceEnd::Standstill;
    for (;;) {
        if (stopped()) {
            result.end = TraceEnd::Stopped;
            break;
        }
        if (m_clock.now() - start >= m_request.limit) {
            result.end = TraceEnd::Limit;
            break;
        }
        TraceSample sample;
        const Reading reading = read(sample, position);
        if (reading == Reading::Lost) {
            result.end = TraceEnd::Lost;
            result.message = m_link.lostReason().isEmpty() ? QStringLiteral("the port closed")
                                                           : m_link.lostReason();
            break;
        }
        if (reading == Reading::Missed) {
            if (++misses >= MissesToGiveUp) {
                result.end = TraceEnd::NoAnswer;
                result.message = QStringLiteral("the unit stopped answering with readings");
                break;
            }
            continue;
        }
        misses = 0;
        sample.at = std::max(0.0, sample.at - start);
        result.samples << sample;
        if (m_callbacks.sample)
            m_callbacks.sample(sample);
        if (sample.position && sample.position != last) {
            last = sample.position;
            lastChange = sample.at;
        }
        if (!position) {
            if (sample.at >= result.predictedEnd + StandstillSeconds)
                break;
            continue;
        }
        const double still = sample.at - lastChange;
        const bool atModelsEnd = last == m_predictedFinal;
        if (sample.at >= result.predictedEnd &&
            still >= (atModelsEnd ? StandstillSeconds : longerThanTheModel))
            break;
    }
    if (result.end != TraceEnd::Standstill && result.end != TraceEnd::Lost &&
        m_link.isPortOpen()) {
        // Ended early: the unit stops too, and is read once more where it
        // rests (the reading waits for the stop to be on the line).
        m_link.writeFrame(QStringLiteral("."));
        result.unitStopped = true;
        TraceSample rest;
        if (!m_link.exchanges().abortRequested() && read(rest, position) == Reading::Taken) {
            rest.at = std::max(0.0, rest.at - start);
            result.samples << rest;
            if (m_callbacks.sample)
                m_callbacks.sample(rest);
        }
        if (result.message.isEmpty())
            result.message = result.end == TraceEnd::Limit
                                 ? QStringLiteral("the time limit of %1 s passed; the unit was "
                                                  "stopped")
                                       .arg(m_request.limit)
                                 : QStringLiteral("Stop was pressed; the unit was stopped");
    }
    // Nothing of the trace's is left on the line for the next exchange.
    if (m_link.isPortOpen() && !m_link.exchanges().abortRequested()) {
        m_link.Delay(0.05);
        m_link.readSettled(0.05, link::MaxQueryReplyBytes);
    }
    if (result.samples.size() > 1) {
        const double span = result.samples.last().at - result.samples.first().at;
        if (span > 0)
            result.rateHz = static_cast<double>(result.samples.size() - 1) / span;
    }
    if (!result.samples.isEmpty())
        result.comparison = dryrun::compareTrace(result.steps, result.settings, result.samples,
                                                 result.end == TraceEnd::Standstill);
}

void logTrace(link::Link& link, const TraceRequest& request, const TraceResult& result) {
    if (request.logFile.isEmpty())
        return;
    TransferLogEntry entry = linkLogEntry(link, QStringLiteral("trace"));
    if (!result.model.isEmpty())
        entry.model = result.model;
    entry.program = result.programFile;
    program::ProgramTable table;
    if (table.open(request.programFile, program::SqliteFile::Mode::ReadOnly))
        if (const auto rows = table.readRows())
            entry.sha256 =
                sha256Of(SendProgram::fromRows(*rows, result.programFile, link.state().AxisAddress)
                             .frames()
                             .text());
    if (result.comparison) {
        entry.measuredSeconds = result.comparison->measuredSeconds;
        entry.predictedSeconds = result.comparison->predictedSeconds;
    }
    QString what = traceEndName(result.end);
    if (!result.message.isEmpty())
        what += QStringLiteral(": ") + result.message;
    if (result.comparison)
        what += QStringLiteral("; ") + result.comparison->findings.join(QStringLiteral("; "));
    entry.result = what;
    QString error;
    appendTransferLog(request.logFile, entry, &error);
}

} // namespace

TraceResult traceUnit(link::Link& link, const platform::Clock& clock, const TraceRequest& request,
                      const TraceCallbacks& callbacks) {
    TraceResult result;
    result.programFile = QFileInfo(request.programFile).absoluteFilePath();
    result.axis = link.state().AxisAddress;
    {
        const auto held = link.exchanges().tryBeginLong(TraceWork);
        if (!held) {
            result.message = QStringLiteral("another exchange was running");
            return result;
        }
        Tracer(link, clock, request, callbacks, *held).run(result);
    }
    logTrace(link, request, result);
    return result;
}

dryrun::MeasuredCurve measuredCurve(const QList<TraceSample>& samples) {
    dryrun::MeasuredCurve curve;
    for (const TraceSample& sample : samples)
        if (sample.position)
            curve.points.append(QPointF(sample.at, static_cast<double>(*sample.position)));
    for (const dryrun::InputChange& change : dryrun::reportedInputs(samples))
        curve.inputs.append({change.at, change.pattern});
    return curve;
}

std::unique_ptr<dryrun::Executor> tracedModelRun(const TraceResult& result) {
    dryrun::RunSettings settings = result.settings;
    settings.inputs = dryrun::reportedInputs(result.samples);
    settings.holdForInputs = false;
    settings.record = true;
    const double until = result.samples.isEmpty() ? 0.0 : result.samples.last().at;
    settings.limit = std::max(settings.limit, until + 1);
    auto run = std::make_unique<dryrun::Executor>(result.steps, settings);
    run->runUntil(std::isfinite(result.predictedEnd) ? std::max(until, result.predictedEnd)
                                                      : until);
    return run;
}

std::optional<dryrun::AccelFit> fitOf(const TraceResult& result) {
    if (!result.readingsSound())
        return std::nullopt;
    return dryrun::fitAccelUnit(result.steps, result.settings, result.samples);
}

QStringList traceReportLines(const TraceResult& result) {
    QStringList lines;
    lines << QStringLiteral("Trace of %1 on axis %2 (%3): %4")
                 .arg(QDir::toNativeSeparators(result.programFile), result.axis)
                 .arg(result.model.isEmpty() ? QStringLiteral("no unit") : result.model)
                 .arg(traceEndName(result.end));
    // Why nothing ran is the caller's to say (a message, standard error).
    if (!result.ran())
        return lines;
    if (!result.message.isEmpty())
        lines << result.message.left(1).toUpper() + result.message.mid(1);
    lines << QStringLiteral("Readings: %1, %2 a second (each: %3)")
                 .arg(result.samples.size())
                 .arg(result.rateHz, 0, 'f', 1)
                 .arg(result.model == QLatin1String("KQM20")
                          ? QStringLiteral("position, inputs and error code")
                          : QStringLiteral("inputs and error code"));
    if (result.model != QLatin1String("KQM20"))
        lines << QStringLiteral("A %1 tells no position: the trace shows its inputs and error "
                                "code, and no position is compared with the model.")
                     .arg(result.model);
    if (result.comparison)
        lines << dryrun::comparisonLines(*result.comparison);
    return lines;
}

QJsonObject traceReportJson(const TraceResult& result, const std::optional<dryrun::AccelFit>& fit) {
    const auto number = [](const std::optional<double>& value) {
        return value ? QJsonValue(*value) : QJsonValue();
    };
    QJsonObject report{
        {QStringLiteral("program"), result.programFile},
        {QStringLiteral("axis"), result.axis.toInt()},
        {QStringLiteral("model"), result.model},
        {QStringLiteral("end"), traceEndName(result.end)},
        {QStringLiteral("message"), result.message},
        {QStringLiteral("unit_stopped"), result.unitStopped},
        {QStringLiteral("samples"), static_cast<qint64>(result.samples.size())},
        // A KQM21 tells no position: none is compared with the model.
        {QStringLiteral("positions"), result.model == QLatin1String("KQM20")},
        {QStringLiteral("rate_hz"), result.rateHz},
    };
    const std::optional<dryrun::TraceComparison>& c = result.comparison;
    report.insert(QStringLiteral("measured_seconds"), number(c ? c->measuredSeconds : std::nullopt));
    report.insert(QStringLiteral("predicted_seconds"),
                  number(c ? c->predictedSeconds : std::nullopt));
    report.insert(QStringLiteral("final_position"),
                  c && c->finalPosition ? QJsonValue(*c->finalPosition) : QJsonValue());
    report.insert(QStringLiteral("predicted_final_position"),
                  c ? QJsonValue(c->predictedFinalPosition) : QJsonValue());
    report.insert(QStringLiteral("largest_difference"),
                  c && c->largest ? QJsonValue(QJsonObject{
                                        {QStringLiteral("steps"), c->largest->steps},
                                        {QStringLiteral("at_seconds"), c->largest->at},
                                        {QStringLiteral("line"), c->largest->line}})
                                  : QJsonValue());
    QJsonArray plateaus;
    if (c) {
        for (qsizetype i = 0; i < std::max(c->measuredPlateaus.size(), c->predictedPlateaus.size());
             ++i) {
            QJsonObject plateau;
            if (i < c->measuredPlateaus.size()) {
                plateau.insert(QStringLiteral("measured_seconds"), c->measuredPlateaus.at(i).at);
                plateau.insert(QStringLiteral("measured_position"),
                               c->measuredPlateaus.at(i).position);
            }
            if (i < c->predictedPlateaus.size()) {
                plateau.insert(QStringLiteral("predicted_seconds"), c->predictedPlateaus.at(i).at);
                plateau.insert(QStringLiteral("predicted_position"),
                               c->predictedPlateaus.at(i).position);
            }
            plateaus.append(plateau);
        }
    }
    report.insert(QStringLiteral("plateaus"), plateaus);
    report.insert(QStringLiteral("findings"),
                  QJsonArray::fromStringList(c ? c->findings : QStringList()));
    report.insert(QStringLiteral("accel_unit"), result.settings.stepsPerSecondSquaredPerA);
    if (fit) {
        report.insert(QStringLiteral("fitted_accel_unit"), fit->accelUnit);
        report.insert(QStringLiteral("fit_rms_before"), fit->rmsBefore);
        report.insert(QStringLiteral("fit_rms_after"), fit->rmsAfter);
    }
    return report;
}

QByteArray tracePlotSvg(const TraceResult& result) {
    const auto run = tracedModelRun(result);
    const dryrun::MeasuredCurve curve = measuredCurve(result.samples);
    return dryrun::runPlotSvg(*run, 900, 560, &curve);
}

} // namespace kqm::transfer
