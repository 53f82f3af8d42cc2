#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace kqm::files {

// One unit of a machine: its axis on the line, its program file and, when
// given, the model it must be.
struct MachineUnit {
    int axis = 0;
    QString program; // absolute path
    std::optional<QString> model;
};

// A machine file (*.kqmachine, docs/machine-file.md): the machine's name and
// its units, program paths relative to the file.
struct Machine {
    QString name;
    QList<MachineUnit> units;
};

// The machine a file describes; nothing, with the problem named, for a file
// that is not valid JSON or breaks a rule: an unknown field, a duplicate
// axis, an axis outside 0-31, a model other than KQM20 and KQM21, a program
// file that is missing or of the older (Access) kind.
std::optional<Machine> readMachineFile(const QString& path, QString* problem);

// Writes the machine whole (program paths relative to the file); false, with
// the reason, when it could not be written.
bool writeMachineFile(const QString& path, const Machine& machine, QString* error);

} // namespace kqm::files
