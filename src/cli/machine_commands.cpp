#include "cli/machine_commands.h"

#include "cli/command_line.h"
#include "cli/interrupt_guard.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "files/machine_file.h"
#include "transfer/machine_status.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kqm::cli {

namespace {

const QString Name = QStringLiteral("machine");

int machineStatus(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("port"), QStringLiteral("device"), QStringLiteral("DEVICE")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("baud rate"), QStringLiteral("N"),
                      QStringLiteral("9600")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("one JSON object")});
    if (!parser.parse(QStringList{QStringLiteral("kqmctl")} + arguments))
        return usageError(Name, parserError(parser), err);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(Name,
                          positional.isEmpty() ? QStringLiteral("a MACHINE file is required")
                                               : unexpectedArgument(positional.at(1)),
                          err);
    LinkOptions options;
    options.device = parser.value(QStringLiteral("port"));
    bool baudOk = false;
    options.baud = parser.value(QStringLiteral("baud")).toInt(&baudOk);
    if (options.device.isEmpty())
        return usageError(Name, QStringLiteral("--port is required"), err);
    if (!baudOk || options.baud <= 0)
        return usageError(Name, QStringLiteral("--baud takes a positive number"), err);
    QString problem;
    const auto machine = files::readMachineFile(positional.first(), &problem);
    if (!machine) {
        err << "kqmctl: " << printable(positional.first()) << ": " << printable(problem)
            << Qt::endl;
        return UsageError;
    }
    UnitSession session(options, err);
    if (!session.openPort())
        return Failure;
    QJsonArray units;
    bool allInStep = true;
    InterruptGuard interrupt;
    for (const files::MachineUnit& unit : machine->units) {
        const transfer::UnitStatus status = transfer::checkMachineUnit(
            session.link(), session.connection(), unit, session.messages());
        allInStep = allInStep && status.state == transfer::UnitState::InStep;
        const QString state = transfer::unitStateName(status.state);
        if (parser.isSet(QStringLiteral("json"))) {
            units.append(QJsonObject{{QStringLiteral("axis"), status.axis},
                                     {QStringLiteral("model"), status.model},
                                     {QStringLiteral("state"), state},
                                     {QStringLiteral("detail"), status.detail},
                                     {QStringLiteral("program"), unit.program}});
        } else {
            out << status.axis << '\t'
                << (status.model.isEmpty() ? QStringLiteral("-") : status.model) << '\t' << state
                << '\t' << printable(status.detail) << Qt::endl;
        }
    }
    if (parser.isSet(QStringLiteral("json")))
        out << QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("machine"), machine->name},
                                      {QStringLiteral("units"), units}})
                .toJson());
    out.flush();
    return allInStep ? Success : Failure;
}

} // namespace

int machineCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.value(0) == QLatin1String("status"))
        return machineStatus(arguments.mid(1), out, err);
    return usageError(Name,
                      arguments.isEmpty()
                          ? QStringLiteral("status is required")
                          : QStringLiteral("unknown machine command '%1'").arg(arguments.first()),
                      err);
}

} // namespace kqm::cli
