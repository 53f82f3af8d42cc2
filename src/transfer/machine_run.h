#pragma once

#include "files/machine_file.h"
#include "transfer/machine_status.h"
#include "transfer/send_operation.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace kqm::transfer {

// A run over every unit of a machine: each is checked against its program
// file and, when asked, sent (with backup and read-back) when it is not in
// step.
struct MachineRunOptions {
    bool send = false;      // false: check only, nothing changes in any unit
    bool all = false;       // send every unit, in step or not
    bool keepGoing = false; // go on after a unit that failed
    // The pace asked for every send; by default each unit gets what the
    // pace policy gives it (its port's pace or its proven one).
    PaceRequest pace;
    SendPlaces places;   // backups (root/axis-N), the log, proven paces, port paces
    QString machineFile; // for the log's machine entry
};

struct MachineUnitResult {
    UnitStatus status;
    bool sent = false;                // a send was started
    std::optional<SendEnd> end;       // how it ended
    double pace = 0;                  // the pace it went at
    bool provenPaceForgotten = false; // that proven pace failed its read-back
};

struct MachineRunCallbacks {
    std::function<void(int unit)> unitStarted;
    // Characters of the unit's send so far, of total.
    std::function<void(int unit, int done, int total)> progress;
    std::function<void(int unit, const MachineUnitResult& result)> unitEnded;
    // True once the user asked to stop (Stop Motion, Ctrl+C): the unit at
    // hand ends as a single send ends, and the rest are not sent.
    std::function<bool()> stopped;
};

// Runs the units in the file's order; the results are the status table at
// the end. Checking a unit changes nothing in it.
QList<MachineUnitResult> runMachine(link::Link& link, const files::Machine& machine,
                                    const MachineRunOptions& options,
                                    const MachineRunCallbacks& callbacks,
                                    platform::Messages& messages);

// True when every unit ended in step.
bool machineInStep(const QList<MachineUnitResult>& results);

// What a run found, counted by state: "2 in step, 1 sent, 1 wrong model".
// A unit sent and verified counts as sent, not in step.
QString machineSummary(const QList<MachineUnitResult>& results);

} // namespace kqm::transfer
