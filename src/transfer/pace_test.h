#pragma once

#include "program/program_table.h"
#include "transfer/pace_policy.h"
#include "transfer/send_operation.h"

#include <QList>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

namespace kqm::platform {
class Clock;
}

namespace kqm::transfer {

// A program that fills the unit's memory to its last byte, of commands that
// only set values: it is stored, never run.
QVector<program::ProgramRow> paceTestProgram(int memoryBytes = 2047);

struct PaceTrial {
    double pace = 0;
    int attempt = 1; // 1 or 2: a pace is proven by two read-backs in a row
    SendEnd end = SendEnd::NothingSent;
    double seconds = 0; // the send and its read-back
};

struct PaceTestOptions {
    QString backupDirectory; // where the unit's own program is kept first
    QString logFile;         // the transfer log; none when empty
    QString provenPacesFile; // where the fastest pace is kept; none when empty
};

struct PaceTestCallbacks {
    std::function<void(double pace, int attempt)> trialStarted;
    std::function<void(int done, int total)> progress; // characters of the trial
    std::function<void(const PaceTrial& trial)> trialEnded;
    std::function<void(double pace)> restoring;
};

struct PaceTestReport {
    std::optional<double> fastest; // the fastest pace verified twice in a row
    QList<PaceTrial> trials;
    std::optional<BackupResult> backup;
    bool restored = false; // the unit holds its own program again, verified
    QString message;       // what the user is told
};

// Keeps the unit's program, sends the test program at falling paces, each
// read back, until a pace fails to verify twice, then sends the unit's own
// program back, verified, at the fastest pace just proven (else the sure
// one). Each trial's program differs from the one before, so that a trial
// whose program never went in cannot pass on what the last one left. Stop
// ends the trials; the unit's program is still sent back (a second Stop ends
// that too, and the message names the backup). A test that proves no pace
// forgets the pace proven before.
// `clock`: what times each trial's send.
PaceTestReport runPaceTest(link::Link& link, const platform::Clock& clock,
                           const PaceTestOptions& options, const PaceTestCallbacks& callbacks);

} // namespace kqm::transfer
