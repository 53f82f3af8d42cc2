#pragma once

#include "platform/messages.h"
#include "program/program_table.h"
#include "transfer/pace_policy.h"
#include "transfer/proven_pace.h"
#include "transfer/send.h"

#include <QString>
#include <QVector>

#include <optional>

namespace kqm::files {
class SettingsTable;
}
namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The one way to make a program send. Every sender (the window's Send and
// its dialog, kqmctl send, the machine run, the pace test) builds a request
// here, and the send operation takes nothing else: so every refusal of a
// send, the pace policy and where the unit's program is kept apply to all of
// them alike.

inline const QString TargetChangedMessage = QStringLiteral(
    "The connection changed after the send was confirmed (another port or axis): nothing was "
    "sent. Open the send again.");

// Why a send is refused, with the text the user is told.
struct SendRefusal {
    enum class Why {
        NotConnected, // the caller reports it as the link does (ReportNotConnected)
        Empty,
        TooLarge,
        Line,   // a line that cannot go out (a branch to no line, a control character)
        NoQuit, // the last command is not Quit
        Unreadable,
        Changed, // the program changed since the user was shown it
        Pace,    // the pace asked for is none there is
        Target,  // another port or axis than the program's frames name
    };
    Why why;
    QString text;
    platform::MessageIcon icon = platform::MessageIcon::Critical;
};

// A program as a send puts it on the wire, read from a program file or
// taken from the rows a window shows, with the refusals that depend on the
// program alone.
class SendProgram {
public:
    static SendProgram fromFile(const QString& path, const QString& axisAddress);
    // `name`: what the transfer log names as the program sent.
    static SendProgram fromRows(const QVector<program::ProgramRow>& rows, const QString& name,
                                const QString& axisAddress);

    const PreparedSend& frames() const { return m_frames; }
    const QString& path() const { return m_path; }
    int rowCount() const { return m_rows; }
    // What keeps the send button from opening its dialog: an empty table, a
    // program too large, a line that cannot go out.
    std::optional<SendRefusal> buttonRefusal() const { return m_buttonRefusal; }
    // Those, then a last command that is not Quit.
    std::optional<SendRefusal> refusal() const;

private:
    void prepare(const QVector<program::ProgramRow>& rows, const QString& axisAddress);

    PreparedSend m_frames;
    QString m_path;
    int m_rows = 0;
    std::optional<SendRefusal> m_buttonRefusal;
};

// What the user chose for this send.
struct SendChoice {
    bool verify = true;
    bool backup = true;
    PaceRequest pace;
    // The folder the unit's program is kept in; nothing: its axis's folder
    // under the places' backups.
    std::optional<QString> backupDirectory;
    // The send text the user was shown when confirming; a program that no
    // longer gives it is refused.
    std::optional<QString> shown;
};

// Where a send finds and keeps what it needs; empty paths: none.
struct SendPlaces {
    QString backupRoot;                       // each axis's backups under root/axis-N
    QString logFile;                          // the transfer log
    QString provenPacesFile;                  // the paces units proved
    files::SettingsTable* settings = nullptr; // each port's pace
    // The port number the link was opened from (the window's); without it
    // the port is the one whose device the link is on (kqmctl's).
    std::optional<int> portNumber;

    // The window's and kqmctl's places in the per-user data directory.
    static SendPlaces of(const QString& userDataDirectory, files::SettingsTable* settings);
};

struct SendRequestResult;

// A send as confirmed: the frames at the pace the policy gave, aimed at the
// port and axis the link is at now. Only requestSend() makes one.
class SendRequest {
public:
    const PreparedSend& send() const { return m_send; }
    const PaceDecision& pace() const { return m_pace; }
    bool verify() const { return m_verify; }
    bool backup() const { return m_backup; }
    const QString& backupDirectory() const { return m_backupDirectory; }
    const QString& device() const { return m_device; }
    const QString& model() const { return m_model; }
    const QString& logFile() const { return m_logFile; }
    const QString& programPath() const { return m_programPath; }
    const QString& provenPacesFile() const { return m_provenPacesFile; }
    const PaceKey& unit() const { return m_unit; }

private:
    friend SendRequestResult requestSend(link::Link&, const SendProgram&, const SendChoice&,
                                         const SendPlaces&);
    SendRequest() = default;

    PreparedSend m_send;
    PaceDecision m_pace;
    bool m_verify = true;
    bool m_backup = true;
    QString m_backupDirectory;
    QString m_device;
    QString m_model;
    QString m_logFile;
    QString m_programPath;
    QString m_provenPacesFile;
    PaceKey m_unit;
};

struct SendRequestResult {
    std::optional<SendRequest> request;
    std::optional<SendRefusal> refusal;
};

// Every refusal, in the order the user meets them: no unit connected, the
// program's own (empty, too large, a line, no Quit), a program changed since
// it was shown, then the pace.
SendRequestResult requestSend(link::Link& link, const SendProgram& program,
                              const SendChoice& choice, const SendPlaces& places);

// The pace a send to the connected unit would get with this choice: what
// the send dialog shows while the user decides.
PaceDecision paceFor(link::Link& link, const SendChoice& choice, const SendPlaces& places);

// "KQM20 on axis 3, COM 1: /dev/ttyUSB0": the unit and port a send goes to.
QString sendTargetText(link::Link& link);

} // namespace kqm::transfer
