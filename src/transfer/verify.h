#pragma once

#include "transfer/send.h"
#include "transfer/upload.h"

#include <QString>
#include <QStringList>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// After a send, the unit's program is read back with the upload's request
// and compared with what was sent, line by line, on the unit's own terms:
// branch targets as addresses, a go move as one line.

// One sent line as the unit gives it back: "N500" and "G" as "N500,G", the
// loop "&12_3" (address, count) as "&3,12" (count, address).
QString unitForm(const QStringList& commands);

struct Verification {
    enum class Outcome { Verified, Differs, NoAnswer };
    Outcome outcome = Outcome::NoAnswer;
    int lines = 0;   // lines verified
    int line = 0;    // 1-based: the first line that differs
    QString message; // what the user is told
    bool verified() const { return outcome == Outcome::Verified; }
};

// Compares a read-back reply with the send.
Verification compareWithUnit(const PreparedSend& send, const ParsedReply& reply);
// Reads the unit's program back and compares it; runs inside the caller's
// exchange, after the send.
Verification verifySend(link::Link& link, const PreparedSend& send);

inline const QString VerifiedMessage = QStringLiteral("The unit holds the program (%1 lines verified)");
// After a send at a faster pace that the unit did not take as sent, a quit
// frame at the sure pace ends any program entry the lost characters left
// open, so that the unit answers again and a new send can clear it.
bool endProgramEntry(link::Link& link, const QString& axis);

// Said when verification fails at a pace faster than the default.
QString fasterPaceFailedMessage(double pace);

} // namespace kqm::transfer
