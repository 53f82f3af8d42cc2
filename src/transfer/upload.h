#pragma once

#include <optional>

#include "program/program_table.h"
#include "transfer/pace_policy.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace kqm::link {
class Link;
}
namespace kqm::program {
class ProgramDocument;
}
namespace kqm::platform {
class Messages;
}

namespace kqm::transfer {

inline const QString ReplaceWarning = QStringLiteral(
    "Warning: The current program's contents will be replaced by the program in the KQM20.\r"
    "Cancel and use the Save Program As... command to preserve the current program.");
inline const QString NotRespondingMessage = QStringLiteral("ERROR: The unit is not responding");
inline const QString CorruptedMessage =
    QStringLiteral("Corrupted program found - must Clear memory");
inline const QString InvalidDataMessage = QStringLiteral(
    "Warning: The KQM20 unit contains invalid data.  The memory should be cleared with the "
    "Clear Memory command under the Setup menu when the upload operation is complete.");
inline const QString InvalidLoopMessage = QStringLiteral("Invalid Loop branch address - deleted");
inline const QString InvalidBranchMessage =
    QStringLiteral("Invalid Input/Until branch address - deleted");
inline const QString MemoryClearedMessage = QStringLiteral("KQM20 memory is cleared");
inline const QString NoLinesMessage = QStringLiteral(
    "The unit sent no program lines: its reply held no command. The program is empty.");
inline const QString NoQuitMessage = QStringLiteral(
    "The program read from the unit does not end with a Quit command; it is shown as read. "
    "Add a Quit line before sending it back.");

// The unit's reply to the upload request, as read: nullopt when the unit did
// not respond (the link is then shown as not connected).
struct UnitReply {
    bool responded = false;
    QString text;
    QString failure; // why there is no reply; empty when stopped or closing
};
// report: where to show why in a box (the upload); the send shows it itself.
// `requestPace`: the pause after each character of the request (a read-back
// after a send at a faster pace asks at that pace).
UnitReply readUnitProgram(link::Link& link, platform::Messages* report,
                          double requestPace = SurePace);

// The reply cut into stored commands (go moves joined as "N500,G").
struct ParsedReply {
    bool corrupted = false;   // a "_" anywhere: nothing read
    bool invalidData = false; // a character that cannot start a command
    QStringList commands;
};
ParsedReply parseUploadReply(QString reply);

// Turns the unit's branch addresses of "&", "I" and "U" into line numbers,
// deleting (with a message) branches to no line; later targets are numbered
// against the lines that remain. Rows must carry their addresses.
void convertBranches(QVector<program::ProgramRow>& rows, platform::Messages& messages);

// Reduces repeated quit lines at the end to one; reports a cleared memory
// (the single line "Q") and a program that does not end with "Q".
void trimTrailingQuits(QVector<program::ProgramRow>& rows, platform::Messages& messages);

struct BuiltProgram {
    bool stored = false; // false: corrupted memory, nothing to store
    QVector<program::ProgramRow> rows;
};
// The whole rebuild of a reply into program lines, with its messages.
BuiltProgram buildUploadedProgram(const QString& reply, platform::Messages& messages);

// The unit's program as read and rebuilt into program lines.
struct UploadedProgram {
    bool responded = false; // false: the unit did not answer (link shown as lost)
    BuiltProgram built;
};
// The upload as one exchange of its own, for the window and kqmctl alike:
// reads the unit's program and rebuilds it into program lines; replyArrived
// runs between the two (the window shows that it is working). Refused (ran
// false) when no unit is
// connected or another exchange runs, the link having said why. Stop Motion
// or the window closing while the reply is read ends it with nothing read,
// said in message; a unit that did not answer, a port that went away or a
// line that keeps sending is said once, as it happens.
enum class UploadEnd {
    Refused,   // not connected, or another exchange runs: the link has said why
    Uploaded,  // read and rebuilt into program lines
    Corrupted, // the unit reports corrupted memory: nothing to store
    Stopped,   // Stop Motion or the window closing: nothing was read
    NoAnswer,  // the unit did not answer, the port went away, or the line floods
};
struct UploadReport {
    bool ran = false;
    UploadEnd end = UploadEnd::Refused;
    UploadedProgram uploaded;
    QString message;  // the upload was stopped
    QString logError; // the transfer log could not be written
};
// Where the upload's line of the transfer log goes, and the program file it
// names: the file the upload goes into (the window's working copy, kqmctl's
// --output). No log line when logFile is empty.
struct UploadLog {
    QString logFile;
    QString programPath;
};
UploadReport runUpload(link::Link& link, platform::Messages& messages, const UploadLog& log,
                       const std::function<void()>& replyArrived = {});
inline const QString UploadStoppedMessage = QStringLiteral(
    "The upload was stopped before the unit's program was read: nothing was replaced.");

// Stores uploaded lines as the whole program of the document's bound file
// and refreshes its listing; false, with the reason, when it cannot be written.
// With `binding`, only into the file the upload was made for.
bool storeUploadedProgram(program::ProgramDocument& document, const BuiltProgram& built,
                          QString* error, std::optional<quint64> binding = std::nullopt);

} // namespace kqm::transfer
