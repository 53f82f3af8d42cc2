#include "cli/trace_command.h"

#include "cli/command_line.h"
#include "cli/interrupt_guard.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "platform/app_paths.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_trace.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace kqm::cli {

namespace {

const QString Name = QStringLiteral("trace");

enum TraceStatus { AtRest = 0, EndedEarly = 3, AnotherProgram = 4 };

bool isProgramFile(const QString& path, const QString& program) {
    const QFileInfo output(path);
    return output.exists() &&
           output.canonicalFilePath() == QFileInfo(program).canonicalFilePath();
}

} // namespace

int traceCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    addPortOptions(parser);
    parser.addOption({QStringLiteral("limit"), QStringLiteral("seconds"), QStringLiteral("S"),
                      QStringLiteral("60")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("one JSON object")});
    parser.addOption({QStringLiteral("csv"), QStringLiteral("the readings"), QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("plot"), QStringLiteral("both curves"), QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("fit"), QStringLiteral("fit the acceleration unit")});
    parser.addOption({QStringLiteral("accel-unit"), QStringLiteral("steps/s^2 for each unit of A"),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("moves-hold"), QStringLiteral("a move holds the program")});
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return usageError(Name, parserError(parser), err);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(Name,
                          positional.isEmpty() ? QStringLiteral("a program FILE is required")
                                               : unexpectedArgument(positional.at(1)),
                          err);
    LinkOptions options;
    if (const auto why = readPortOptions(parser, options))
        return usageError(Name, *why, err);
    bool ok = false;
    transfer::TraceRequest request;
    request.programFile = positional.first();
    const auto positive = [&](const QString& option, double* into) {
        if (!parser.isSet(option))
            return true;
        const double number = parser.value(option).toDouble(&ok);
        if (!ok || !std::isfinite(number) || number <= 0 || number > 1e6)
            return false;
        *into = number;
        return true;
    };
    if (!positive(QStringLiteral("limit"), &request.limit))
        return usageError(Name, QStringLiteral("--limit takes a number of seconds above 0"), err);
    if (!positive(QStringLiteral("accel-unit"), &request.model.stepsPerSecondSquaredPerA))
        return usageError(Name, QStringLiteral("--accel-unit takes a number above 0"), err);
    request.model.movesHold = parser.isSet(QStringLiteral("moves-hold"));
    const QString csvPath = parser.value(QStringLiteral("csv"));
    const QString plotPath = parser.value(QStringLiteral("plot"));
    for (const QString& path : {csvPath, plotPath}) {
        if (!path.isEmpty() && isProgramFile(path, request.programFile)) {
            err << "kqmctl: " << printable(QDir::toNativeSeparators(path))
                << " is the program file; name another file" << Qt::endl;
            return UsageError;
        }
    }
    if (!QFileInfo(request.programFile).isFile()) {
        err << "kqmctl: " << printable(QDir::toNativeSeparators(request.programFile))
            << ": no such program file" << Qt::endl;
        return UsageError;
    }
    // The readings go into the file as they come, so that a trace cut short
    // keeps what it read.
    QFile csv(csvPath);
    if (!csvPath.isEmpty()) {
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            err << "kqmctl: " << printable(QDir::toNativeSeparators(csvPath))
                << " could not be written: " << csv.errorString() << Qt::endl;
            return Failure;
        }
        csv.write(dryrun::traceSampleCsvHeader());
        csv.flush();
    }
    const platform::ExecutableAppPaths paths;
    request.logFile = transfer::transferLogPath(paths.userDataDirectory());
    UnitSession session(options, err);
    if (!session.openPort()) {
        // Scripts that read the JSON learn of it there too.
        if (parser.isSet(QStringLiteral("json")))
            out << QString::fromUtf8(
                QJsonDocument(QJsonObject{{QStringLiteral("program"),
                                           QFileInfo(request.programFile).absoluteFilePath()},
                                          {QStringLiteral("end"), QStringLiteral("not-run")},
                                          {QStringLiteral("message"),
                                           QStringLiteral("the port could not be opened")}})
                    .toJson());
        return Failure;
    }
    transfer::TraceCallbacks callbacks;
    callbacks.stopped = &InterruptGuard::requested;
    // What runs, on standard error (the report, JSON or not, is standard output's).
    callbacks.phase = [&err](const QString& phase) { err << phase << Qt::endl; };
    callbacks.sample = [&csv](const dryrun::TraceSample& sample) {
        if (csv.isOpen()) {
            csv.write(dryrun::traceSampleCsvRow(sample));
            csv.flush();
        }
    };
    transfer::TraceResult result;
    {
        // Ctrl+C, SIGTERM and SIGHUP end the trace at its next reading and
        // stop the unit.
        InterruptGuard interrupt;
        result = transfer::traceUnit(session.link(), session.clock(),
                                     request, callbacks);
    }
    if (csv.isOpen())
        csv.close();
    std::optional<dryrun::AccelFit> fit;
    const bool fitting = parser.isSet(QStringLiteral("fit")) && result.ran();
    if (fitting)
        fit = transfer::fitOf(result);
    if (!plotPath.isEmpty() && result.ran()) {
        QSaveFile plot(QFileInfo(plotPath).absoluteFilePath());
        const QByteArray svg = transfer::tracePlotSvg(result);
        if (!plot.open(QIODevice::WriteOnly) || plot.write(svg) != svg.size() || !plot.commit()) {
            err << "kqmctl: " << printable(QDir::toNativeSeparators(plotPath))
                << " could not be written: " << plot.errorString() << Qt::endl;
            return Failure;
        }
    }
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonObject report = transfer::traceReportJson(result, fit);
        if (fitting && !fit) {
            for (const char* field : {"fitted_accel_unit", "fit_rms_before", "fit_rms_after"})
                report.insert(QLatin1String(field), QJsonValue());
        }
        out << QString::fromUtf8(QJsonDocument(report).toJson());
    } else {
        for (const QString& line : transfer::traceReportLines(result))
            out << printable(line) << Qt::endl;
        if (fit)
            out << dryrun::fitLine(*fit) << Qt::endl;
        else if (fitting)
            out << "No acceleration unit was fitted: the readings give no position, or the "
                   "program's times do not depend on it."
                << Qt::endl;
    }
    out.flush();
    switch (result.end) {
    case transfer::TraceEnd::Standstill:
        return AtRest;
    case transfer::TraceEnd::Limit:
    case transfer::TraceEnd::Stopped:
        return EndedEarly;
    case transfer::TraceEnd::NotInStep:
        if (!parser.isSet(QStringLiteral("json")))
            err << "kqmctl: " << printable(result.message) << Qt::endl;
        return AnotherProgram;
    default:
        if (!parser.isSet(QStringLiteral("json")) && !result.message.isEmpty())
            err << "kqmctl: " << printable(result.message) << Qt::endl;
        return Failure;
    }
}

} // namespace kqm::cli
