#include "transfer/machine_status.h"

#include "link/connection.h"
#include "link/link.h"
#include "link/unit_scan.h"
#include "transfer/send_request.h"
#include "transfer/upload.h"
#include "transfer/verify.h"

#include <QDir>

namespace kqm::transfer {

QString unitStateName(UnitState state) {
    switch (state) {
    case UnitState::InStep:
        return QStringLiteral("in-step");
    case UnitState::Differs:
        return QStringLiteral("differs");
    case UnitState::NoProgram:
        return QStringLiteral("no-program");
    case UnitState::NoUnit:
        return QStringLiteral("no-unit");
    case UnitState::WrongModel:
        return QStringLiteral("wrong-model");
    case UnitState::NotChecked:
        break;
    }
    return QStringLiteral("not-checked");
}

namespace {

// A check that ended because of Stop or the port, not the unit: the unit
// is not checked, and the detail says why.
bool stoppedOrLost(link::Link& link, QString* detail) {
    if (link.exchanges().interrupted()) {
        *detail = QStringLiteral("stopped");
        return true;
    }
    if (!link.isPortOpen()) {
        *detail =
            link.lostReason().isEmpty() ? QStringLiteral("the port closed") : link.lostReason();
        return true;
    }
    return false;
}

} // namespace

UnitStatus checkMachineUnit(link::Link& link, const files::MachineUnit& unit,
                            const link::Link::LongExchange* within) {
    UnitStatus status;
    status.axis = unit.axis;
    const QString axis = QString::number(unit.axis);
    // One exchange from the greeting to the read-back: nothing else may
    // write to the line between them.
    const auto exchange = link.exchanges().tryBeginWithoutUnit(within);
    if (!exchange) {
        status.detail = QStringLiteral("another exchange was running");
        return status;
    }
    // The scan's question, not the connect's greeting: a unit that runs is
    // not stopped by a check.
    const auto found = link::askUnitAt(link, unit.axis);
    if (!found) {
        status.state =
            stoppedOrLost(link, &status.detail) ? UnitState::NotChecked : UnitState::NoUnit;
        if (status.state == UnitState::NoUnit)
            status.detail = QStringLiteral("no unit answered on axis %1").arg(axis);
        return status;
    }
    link.takeUnit(axis, found->model, found->revision);
    status.model = found->model;
    if (found->leftStoring)
        status.detail = link::leftStoringMessage(axis);
    if (unit.model && *unit.model != status.model) {
        status.state = UnitState::WrongModel;
        status.detail =
            QStringLiteral("the file names a %1, the unit is a %2").arg(*unit.model, status.model);
        return status;
    }
    const SendProgram program = SendProgram::fromFile(unit.program, axis);
    if (const auto refusal = program.buttonRefusal()) {
        status.detail =
            refusal->why == SendRefusal::Why::Unreadable
                ? QStringLiteral("%1 could not be read").arg(QDir::toNativeSeparators(unit.program))
                : refusal->text;
        return status;
    }
    const PreparedSend& send = program.frames();
    const UnitReply reply = readUnitProgram(link, nullptr);
    if (!reply.responded) {
        if (!stoppedOrLost(link, &status.detail)) {
            status.state = UnitState::NoUnit;
            status.detail = reply.failure;
        }
        return status;
    }
    const ParsedReply parsed = parseUploadReply(reply.text);
    // An empty memory answers with its quit alone.
    if (!parsed.corrupted &&
        (parsed.commands.isEmpty() || parsed.commands == QStringList{QStringLiteral("Q")})) {
        status.state = UnitState::NoProgram;
        return status;
    }
    const Verification compared = compareWithUnit(send, parsed);
    status.state = compared.verified() ? UnitState::InStep : UnitState::Differs;
    if (!compared.verified())
        status.detail = QStringLiteral("line %1").arg(compared.line) +
                        (found->leftStoring ? QStringLiteral("; ") + link::leftStoringMessage(axis)
                                            : QString());
    return status;
}

} // namespace kqm::transfer
