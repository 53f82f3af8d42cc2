#pragma once

#include <QString>

namespace kqm::program {

// How a stored command fares against the command editor's rules and ranges
// and the stored forms other sources write (upload comma forms, I, U, P
// without G, ...). Operands are whole numbers in their shortest form, so that
// a typo in a hand-written or damaged command is caught rather than read as
// some other value.
enum class StoredCommandFault { None, Unknown, Malformed, OutOfRange };

struct StoredCommandCheck {
    StoredCommandFault fault = StoredCommandFault::None;
    QString message; // plain words for the user; empty when fault is None
    bool ok() const { return fault == StoredCommandFault::None; }
};

StoredCommandCheck checkStoredCommand(const QString& command);

// The command as the user reads and types it: the carriage return inside a
// go move ("N500\r@0G") shown as a blank ("N500 @0G").
QString readableCommand(const QString& command);

} // namespace kqm::program
