#pragma once

#include "program/program_table.h"

#include <QString>
#include <QVector>

namespace kqm::platform {
class Messages;
}

namespace kqm::files {

struct ProgramDirectoryFiles;

struct NewProgramFile {
    enum class Failure { None, Exists, NotMade };
    Failure failure = Failure::None;
    QString error; // why the file was not made
    bool ok() const { return failure == Failure::None; }
};

// Makes a new program file at target from the template, holding these rows
// with their line numbers, addresses and pending listing texts refreshed. The
// file is built beside target and moved there only while the name is still
// free: an existing file, even one that appears meanwhile, is never replaced.
// The refresh's boxes (unknown commands) go to messages.
NewProgramFile writeNewProgramFile(const ProgramDirectoryFiles& files, const QString& target,
                                   const QVector<program::ProgramRow>& rows,
                                   platform::Messages& messages);

} // namespace kqm::files
