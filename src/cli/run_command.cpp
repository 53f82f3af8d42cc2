#include "cli/run_command.h"

#include "cli/command_line.h"
#include "cli/list_command.h"
#include "dryrun/run_report.h"
#include "program/program_table.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cmath>

namespace kqm::cli {

namespace {

enum RunStatus { Quit = 0, AtLimit = 1, NotSimulated = 3 };

const QString Name = QStringLiteral("run");

// An output file beside the program, written in place of it only once
// whole; never the program file itself.
bool openBeside(QSaveFile& file, const QString& path, const QString& program, QTextStream& err) {
    const QFileInfo output(path);
    if (output.exists() && output.canonicalFilePath() == QFileInfo(program).canonicalFilePath()) {
        err << "kqmctl: " << QDir::toNativeSeparators(path)
            << " is the program file; name another file" << Qt::endl;
        return false;
    }
    file.setFileName(output.absoluteFilePath());
    if (!file.open(QIODevice::WriteOnly)) {
        err << "kqmctl: " << QDir::toNativeSeparators(path)
            << " could not be written: " << file.errorString() << Qt::endl;
        return false;
    }
    return true;
}

bool finishBeside(QSaveFile& file, const QString& path, QTextStream& err) {
    if (file.error() == QFileDevice::NoError && file.commit())
        return true;
    err << "kqmctl: " << QDir::toNativeSeparators(path)
        << " could not be written: " << file.errorString() << Qt::endl;
    file.cancelWriting();
    return false;
}

} // namespace

int runCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QStringList words = arguments;
    QString file;
    QString trace;
    QString plot;
    bool json = false;
    dryrun::RunSettings settings;
    while (!words.isEmpty()) {
        const QString word = words.takeFirst();
        const auto value = [&](QString* into) {
            if (words.isEmpty())
                return false;
            *into = words.takeFirst();
            return true;
        };
        QString text;
        bool ok = true;
        QString why;
        if (word == QLatin1String("--json")) {
            json = true;
        } else if (word == QLatin1String("--moves-hold")) {
            settings.movesHold = true;
        } else if (word == QLatin1String("--trace")) {
            ok = value(&trace);
        } else if (word == QLatin1String("--plot")) {
            ok = value(&plot);
        } else if (word == QLatin1String("--inputs")) {
            ok = value(&text);
            const auto inputs = ok ? dryrun::parseInputSchedule(text, &why) : std::nullopt;
            if (ok && !inputs)
                return usageError(Name, QStringLiteral("--inputs: ") + why, err);
            if (inputs)
                settings.inputs = *inputs;
        } else if (word == QLatin1String("--limit") || word == QLatin1String("--accel-unit")) {
            ok = value(&text);
            const double number = text.toDouble(&ok);
            if (!ok || !std::isfinite(number) || number <= 0 || number > 1e7)
                return usageError(Name, QStringLiteral("%1 takes a number above 0").arg(word), err);
            (word == QLatin1String("--limit") ? settings.limit
                                              : settings.stepsPerSecondSquaredPerA) = number;
        } else if (word == QLatin1String("--home")) {
            ok = value(&text);
            settings.home = text.toLongLong(&ok);
            if (!ok)
                return usageError(Name, QStringLiteral("--home takes a position in steps"), err);
        } else if (looksLikeOption(word)) {
            return usageError(Name, unknownOption(word), err);
        } else if (!file.isEmpty()) {
            return usageError(Name, unexpectedArgument(word), err);
        } else {
            file = word;
        }
        if (!ok)
            return usageError(Name, QStringLiteral("%1 needs a value").arg(word), err);
    }
    if (file.isEmpty())
        return usageError(Name, QStringLiteral("a PROGRAM file is required"), err);
    const auto rows = readProgramRows(file, err);
    if (!rows)
        return UsageError;
    QStringList commands;
    for (const program::ProgramRow& row : *rows)
        commands << row.command;
    // The trace is written as the run goes, a line at a time; the plot keeps
    // an even sample of a long run, in bounded memory.
    settings.record = !plot.isEmpty();
    const QList<dryrun::RunStep> steps = dryrun::stepsFromCommands(commands);
    QSaveFile traceFile;
    QSaveFile plotFile;
    if ((!trace.isEmpty() && !openBeside(traceFile, trace, file, err)) ||
        (!plot.isEmpty() && !openBeside(plotFile, plot, file, err)))
        return Failure;
    dryrun::LineWatcher watcher;
    if (!trace.isEmpty()) {
        traceFile.write(dryrun::traceCsvHeader());
        watcher = [&traceFile, &steps](const dryrun::ExecutedLine& line) {
            traceFile.write(dryrun::traceCsvRow(steps, line));
        };
    }
    dryrun::Executor run(steps, settings, watcher);
    run.run();
    if (!trace.isEmpty() && !finishBeside(traceFile, trace, err))
        return Failure;
    if (!plot.isEmpty()) {
        plotFile.write(dryrun::runPlotSvg(run));
        if (!finishBeside(plotFile, plot, err))
            return Failure;
    }
    if (json)
        out << QString::fromUtf8(QJsonDocument(dryrun::runReportJson(run)).toJson());
    else
        out << dryrun::runReportText(run);
    out.flush();
    switch (run.end()) {
    case dryrun::RunEnd::Quit:
        return Quit;
    case dryrun::RunEnd::NotSimulated:
        return NotSimulated;
    default:
        return AtLimit;
    }
}

} // namespace kqm::cli
