#include "cli/machine_commands.h"

#include "cli/command_line.h"
#include "cli/interrupt_guard.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "files/machine_file.h"
#include "platform/app_paths.h"
#include "transfer/machine_run.h"
#include "transfer/proven_pace.h"
#include "transfer/unit_backup.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace kqm::cli {

namespace {

const QString Name = QStringLiteral("machine");

// kqmctl machine status and kqmctl machine send: the same run, the second
// with sends.
int machineRun(const QStringList& arguments, bool send, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    // The machine file names the axes.
    addPortOptions(parser, false);
    parser.addOption({QStringLiteral("json"), QStringLiteral("one JSON object")});
    if (send) {
        parser.addOption({QStringLiteral("pace"), QStringLiteral("the pause after each character"),
                          QStringLiteral("S")});
        parser.addOption({QStringLiteral("all"), QStringLiteral("send units in step too")});
        parser.addOption(
            {QStringLiteral("keep-going"), QStringLiteral("go on after a unit that failed")});
        parser.addOption({QStringLiteral("backup-dir"),
                          QStringLiteral("keep each unit's program under DIR/axis-N"),
                          QStringLiteral("DIR")});
    }
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return usageError(Name, parserError(parser), err);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(Name,
                          positional.isEmpty() ? QStringLiteral("a MACHINE file is required")
                                               : unexpectedArgument(positional.at(1)),
                          err);
    LinkOptions options;
    if (const auto why = readPortOptions(parser, options, false))
        return usageError(Name, *why, err);
    const platform::ExecutableAppPaths paths;
    transfer::MachineRunOptions run;
    run.send = send;
    const auto settings = windowSettings();
    run.places = transfer::SendPlaces::of(paths.userDataDirectory(), settings.get());
    if (send) {
        run.all = parser.isSet(QStringLiteral("all"));
        run.keepGoing = parser.isSet(QStringLiteral("keep-going"));
        if (parser.isSet(QStringLiteral("pace"))) {
            QString why;
            const auto pace =
                transfer::parsePaceRequest(parser.value(QStringLiteral("pace")), &why);
            if (!pace)
                return usageError(Name, why, err);
            run.pace = *pace;
        }
        if (parser.isSet(QStringLiteral("backup-dir")))
            run.places.backupRoot = parser.value(QStringLiteral("backup-dir"));
    } else {
        // A check sends nothing, so keeps nothing.
        run.places.backupRoot.clear();
    }
    QString problem;
    const auto machine = files::readMachineFile(positional.first(), &problem);
    if (!machine) {
        err << "kqmctl: " << printable(positional.first()) << ": " << printable(problem)
            << Qt::endl;
        return UsageError;
    }
    run.machineFile = QFileInfo(positional.first()).absoluteFilePath();
    UnitSession session(options, err);
    if (!session.openPort())
        return Failure;
    const bool json = parser.isSet(QStringLiteral("json"));
    transfer::MachineRunCallbacks callbacks;
    callbacks.stopped = &InterruptGuard::requested;
    int tenth = 0;
    callbacks.unitStarted = [&](int unit) {
        tenth = 0;
        if (send)
            err << "Axis " << machine->units.at(unit).axis << ": checking" << Qt::endl;
    };
    // A line at each tenth of a unit's send, as kqmctl send writes into a file.
    callbacks.progress = [&](int unit, int done, int total) {
        const int now = total > 0 ? done * 10 / total : 0;
        if (now <= tenth)
            return;
        tenth = now;
        err << "Axis " << machine->units.at(unit).axis << ": sent " << done << " of " << total
            << " characters (" << now * 10 << " %)" << Qt::endl;
    };
    QList<transfer::MachineUnitResult> results;
    {
        // Ctrl+C ends the unit at hand as a single send ends; the rest are
        // reported as not sent.
        InterruptGuard interrupt;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &watch, [&session] {
            if (InterruptGuard::requested())
                session.link().exchanges().requestStop();
        });
        watch.start(20);
        results =
            transfer::runMachine(session.link(), *machine, run, callbacks, session.messages());
    }
    QJsonArray units;
    for (int i = 0; i < results.size(); ++i) {
        const transfer::UnitStatus& status = results.at(i).status;
        const QString state = transfer::unitStateName(status.state);
        if (json) {
            QJsonObject unit{{QStringLiteral("axis"), status.axis},
                             {QStringLiteral("model"), status.model},
                             {QStringLiteral("state"), state},
                             {QStringLiteral("detail"), status.detail},
                             {QStringLiteral("program"), machine->units.at(i).program}};
            if (send)
                unit.insert(QStringLiteral("sent"), results.at(i).sent);
            units.append(unit);
        } else {
            out << status.axis << '\t'
                << (status.model.isEmpty() ? QStringLiteral("-") : status.model) << '\t' << state
                << '\t' << printable(status.detail) << Qt::endl;
        }
    }
    if (!json)
        err << machine->name << ": " << transfer::machineSummary(results) << Qt::endl;
    if (json)
        out << QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("machine"), machine->name},
                                      {QStringLiteral("units"), units}})
                .toJson());
    out.flush();
    return transfer::machineInStep(results) ? Success : Failure;
}

} // namespace

int machineCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.value(0) == QLatin1String("status"))
        return machineRun(arguments.mid(1), false, out, err);
    if (arguments.value(0) == QLatin1String("send"))
        return machineRun(arguments.mid(1), true, out, err);
    return usageError(Name,
                      arguments.isEmpty()
                          ? QStringLiteral("status or send is required")
                          : QStringLiteral("unknown machine command '%1'").arg(arguments.first()),
                      err);
}

} // namespace kqm::cli
