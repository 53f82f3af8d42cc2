#include "transfer/machine_run.h"

#include "link/link.h"
#include "link/unit_scan.h"
#include "program/listing.h"
#include "program/program_table.h"
#include "transfer/proven_pace.h"
#include "transfer/unit_backup.h"

#include <QFileInfo>

namespace kqm::transfer {

namespace {

bool needsSend(const UnitStatus& status, bool all) {
    switch (status.state) {
    case UnitState::Differs:
    case UnitState::NoProgram:
        return true;
    case UnitState::InStep:
        return all;
    case UnitState::NoUnit:
    case UnitState::WrongModel:
    case UnitState::NotChecked:
        break;
    }
    return false;
}

class MachineRun {
public:
    MachineRun(link::Link& link, const MachineRunOptions& options,
               const MachineRunCallbacks& callbacks, const link::Link::LongExchange& held)
        : m_link(link), m_options(options), m_callbacks(callbacks), m_held(held) {}

    MachineUnitResult runUnit(int index, const files::MachineUnit& unit) {
        MachineUnitResult result;
        result.status = checkMachineUnit(m_link, unit, &m_held);
        if (!m_options.send || !needsSend(result.status, m_options.all) || stopped())
            return result;
        SendChoice choice;
        choice.pace = m_options.pace;
        const SendRequestResult made =
            requestSend(m_link, SendProgram::fromFile(unit.program, m_link.state().AxisAddress),
                        choice, m_options.places);
        if (!made.request) {
            // The unit is not sent, and says why (a file without Quit).
            result.status.detail = QStringLiteral("not sent: ") + made.refusal->text;
            if (result.status.state == UnitState::InStep)
                result.status.state = UnitState::NotChecked;
            return result;
        }
        const SendRequest& request = *made.request;
        result.pace = request.send().pace;
        SendCallbacks callbacks;
        int total = 0;
        callbacks.sendStarted = [&total](int characters) {
            total = characters;
        };
        callbacks.progress = [&](int done, QChar) {
            if (m_callbacks.progress)
                m_callbacks.progress(index, done + 1, total);
        };
        // The unit's program cannot be kept: this unit is not sent.
        callbacks.sendWithoutBackup = [](const QString&) {
            return false;
        };
        result.sent = true;
        const SendReport report = runSend(m_link, request, callbacks, &m_held);
        result.end = report.end;
        result.provenPaceForgotten = report.provenPaceForgotten;
        if (report.end == SendEnd::Verified) {
            result.status.state = UnitState::InStep;
            result.status.detail =
                result.pace > 0 ? QStringLiteral("sent and verified at %1 s").arg(result.pace)
                                : QStringLiteral("sent and verified, characters back to back");
            return result;
        }
        result.status.detail = report.message.section(QLatin1Char('\n'), 0, 0);
        if (report.fasterPaceFailed)
            result.status.detail +=
                report.provenPaceForgotten
                    ? QStringLiteral(" (at its proven pace of %1, which is proven no longer)")
                          .arg(paceText(result.pace))
                    : QStringLiteral(" (at the faster pace of %1)").arg(paceText(result.pace));
        // Whatever the unit held before, it is not known to hold its program
        // now (a unit in step that --all sent again among them).
        if (report.end == SendEnd::Differs)
            result.status.state = UnitState::Differs;
        else if (report.end != SendEnd::NothingSent)
            result.status.state = UnitState::NotChecked;
        return result;
    }

    bool stopped() const {
        return (m_callbacks.stopped && m_callbacks.stopped()) || m_held.stopped() ||
               m_link.exchanges().abortRequested();
    }

private:
    link::Link& m_link;
    const MachineRunOptions& m_options;
    const MachineRunCallbacks& m_callbacks;
    const link::Link::LongExchange& m_held;
};

void logMachineRun(link::Link& link, const MachineRunOptions& options,
                   const QList<MachineUnitResult>& results, bool stopped) {
    TransferLogEntry entry = linkLogEntry(link, options.send ? QStringLiteral("machine-send")
                                                             : QStringLiteral("machine-check"));
    // Over several units: no one axis, model or revision.
    entry.axis = -1;
    entry.model.clear();
    entry.revision.clear();
    entry.program = options.machineFile;
    // A check that ran found what it found; only a send can fail.
    if (stopped)
        entry.result = QStringLiteral("stopped: ") + machineSummary(results);
    else if (!options.send)
        entry.result = machineSummary(results);
    else if (machineInStep(results))
        entry.result = QStringLiteral("verified");
    else
        entry.result = QStringLiteral("failed: ") + machineSummary(results);
    QString error;
    appendTransferLog(options.places.logFile, entry, &error);
}

// The axis the user had chosen is the current one again, and the unit there
// is greeted as the run greeted the others (no stop), when it was connected.
void restoreAxis(link::Link& link, const QString& axis, bool connected,
                 const link::Link::LongExchange& held) {
    if (link.state().AxisAddress == axis)
        return;
    link.chooseAddress(axis);
    if (!connected || !link.isPortOpen() || link.exchanges().abortRequested())
        return;
    const auto exchange = link.exchanges().tryBeginWithoutUnit(&held);
    if (const auto found = exchange ? link::askUnitAt(link, axis.toInt()) : std::nullopt)
        link.takeUnit(axis, found->model, found->revision);
}

} // namespace

QList<MachineUnitResult> runMachine(link::Link& link, const files::Machine& machine,
                                    const MachineRunOptions& options,
                                    const MachineRunCallbacks& callbacks, platform::Messages&) {
    QList<MachineUnitResult> results;
    // The whole run is one long exchange: nothing else writes to the line
    // between its units.
    const auto held = link.exchanges().tryBeginLong(
        options.send ? QStringLiteral("a machine send") : QStringLiteral("a machine check"));
    if (!held) {
        for (const files::MachineUnit& unit : machine.units) {
            MachineUnitResult result;
            result.status.axis = unit.axis;
            result.status.detail = QStringLiteral("not checked: the line was busy");
            results << result;
        }
        return results;
    }
    MachineRun run(link, options, callbacks, *held);
    const QString axisBefore = link.state().AxisAddress;
    const bool connectedBefore = link.state().UnitConnected;
    QString ended;
    const QString stoppedText = options.send ? QStringLiteral("not sent: the run was stopped")
                                             : QStringLiteral("not checked: the run was stopped");
    for (int i = 0; i < machine.units.size(); ++i) {
        const files::MachineUnit& unit = machine.units.at(i);
        if (ended.isEmpty() && run.stopped())
            ended = stoppedText;
        MachineUnitResult result;
        if (!ended.isEmpty()) {
            result.status.axis = unit.axis;
            result.status.detail = ended;
        } else {
            if (callbacks.unitStarted)
                callbacks.unitStarted(i);
            result = run.runUnit(i, unit);
            if (run.stopped())
                ended = stoppedText;
            else if (!link.isPortOpen())
                ended = QStringLiteral("not checked: the port closed");
            else if (!options.keepGoing && options.send && result.status.state != UnitState::InStep)
                ended = QStringLiteral("not sent: Send All stopped at axis %1 (%2)")
                            .arg(unit.axis)
                            .arg(unitStateName(result.status.state).replace(QLatin1Char('-'),
                                                                             QLatin1Char(' ')));
        }
        results << result;
        if (callbacks.unitEnded)
            callbacks.unitEnded(i, result);
    }
    if (!options.places.logFile.isEmpty())
        logMachineRun(link, options, results, run.stopped());
    restoreAxis(link, axisBefore, connectedBefore, *held);
    return results;
}

bool machineInStep(const QList<MachineUnitResult>& results) {
    return std::all_of(results.begin(), results.end(), [](const MachineUnitResult& result) {
        return result.status.state == UnitState::InStep;
    });
}

QString machineSummary(const QList<MachineUnitResult>& results) {
    if (results.isEmpty())
        return QStringLiteral("no units");
    const auto verified = [](const MachineUnitResult& result) {
        return result.sent && result.status.state == UnitState::InStep;
    };
    QStringList parts;
    const auto count = [&](const QString& words, const auto& holds) {
        const auto n = std::count_if(results.begin(), results.end(), holds);
        if (n > 0)
            parts << QStringLiteral("%1 %2").arg(n).arg(words);
    };
    count(QStringLiteral("in step"), [&](const MachineUnitResult& result) {
        return result.status.state == UnitState::InStep && !verified(result);
    });
    count(QStringLiteral("sent"), verified);
    for (const UnitState state : {UnitState::Differs, UnitState::NoProgram, UnitState::NoUnit,
                                  UnitState::WrongModel, UnitState::NotChecked}) {
        count(unitStateName(state).replace(QLatin1Char('-'), QLatin1Char(' ')),
              [state](const MachineUnitResult& result) { return result.status.state == state; });
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace kqm::transfer
