#pragma once

#include "link/link.h"
#include "transfer/send.h"
#include "transfer/send_request.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_backup.h"
#include "transfer/verify.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The one outcome of a send, by the phase it ended in.
enum class SendEnd {
    Verified,        // sent and read back as sent
    Sent,            // sent, no read-back asked for
    NothingSent,     // ended before the opening frame: the unit keeps its program
    Stopped,         // stopped during the send: the unit's memory is empty
    SentNotVerified, // the whole program is in, the read-back was stopped or failed
    Differs,         // the read-back shows another program
    PortClosed,      // the port went away during the send
};

struct SendReport {
    SendEnd end = SendEnd::NothingSent;
    int linesSent = 0;
    std::optional<BackupResult> backup;
    std::optional<Verification> verification;
    // Program entry could not be ended: the unit may not answer until a
    // program is sent in full.
    bool entryLeftOpen = false;
    bool flooded = false; // the line kept sending; the port is closed
    QString message;      // what the user is told, the same in the window and kqmctl
    // A read-back at a faster pace that found another program: the send may
    // be offered again at the sure pace.
    bool fasterPaceFailed = false;
    // That pace was the unit's proven one: it is proven no longer.
    bool provenPaceForgotten = false;
};

struct SendCallbacks {
    // Before each character's pause: its index and the character.
    std::function<void(int index, QChar character)> progress;
    // The unit's program could not be kept; true: send anyway.
    std::function<bool(const QString& error)> sendWithoutBackup;
    // The send begins (after the backup) and ends: for a progress display.
    std::function<void(int total)> sendStarted;
    std::function<void()> sendEnded;
    // Before the unit's program is kept, and before it is read back.
    std::function<void()> backupStarted;
    std::function<void()> readBackStarted;
};

// The whole send: the unit's program kept, the program sent, read back and
// compared, and the transfer log's line. Runs its own exchange on the link;
// Stop Motion, closing the window and Ctrl+C (the link's stop or abort) end
// it with one outcome per phase. Refused (NothingSent) when the link is busy
// or the request no longer matches the connection. A proven pace whose
// read-back fails is forgotten: the next send goes at the sure pace.
// `within`: the long exchange (a machine run, a pace test) this send is part of.
SendReport runSend(link::Link& link, const SendRequest& request, const SendCallbacks& callbacks,
                   const link::Link::LongExchange* within = nullptr,
                   const QDateTime& now = QDateTime::currentDateTime());

// The transfer log's result for a send's outcome: "verified",
// "sent-unverified", "stopped", "failed: ...".
QString logResultOf(const SendReport& report);
// A log entry of an exchange on the link, with the link's port, device, axis,
// model and revision filled in.
TransferLogEntry linkLogEntry(link::Link& link, const QString& kind);

inline const QString NothingSentStoppedMessage = QStringLiteral(
    "The send was stopped before it began: nothing was sent, and the unit keeps its program.");
inline const QString NothingSentClosedMessage = QStringLiteral(
    "The serial port was closed before the send began: nothing was sent, and the unit keeps "
    "its program.");
inline const QString NotVerifiedStoppedMessage = QStringLiteral(
    "The whole program was sent, but the read-back was stopped: the unit holds the program, "
    "not verified.");
inline const QString NotVerifiedFasterMessage = QStringLiteral(
    "The whole program was sent at a faster pace, but the read-back was stopped: the unit may "
    "have lost characters, so what it holds is not known. Send the program again before you "
    "run it.");
inline const QString SentWholeStoppedMessage = QStringLiteral(
    "The send was stopped as its last line went out: the unit holds the whole program, not "
    "verified.");
inline const QString EntryLeftOpenMessage = QStringLiteral(
    " The unit did not answer after program entry was ended: it may not answer until a "
    "program is sent to it in full.");

} // namespace kqm::transfer
