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

// The sent program as the unit stores it: one entry per stored command, a go
// frame folded into the move before it, with the program line each came
// from.
struct UnitProgram {
    QStringList commands;
    QList<int> lines; // 1-based program line of each entry
};
UnitProgram unitProgram(const PreparedSend& send);

// Compares a read-back reply with the send.
Verification compareWithUnit(const PreparedSend& send, const ParsedReply& reply);
// Reads the unit's program back and compares it; runs inside the caller's
// exchange, after the send.
Verification verifySend(link::Link& link, const PreparedSend& send);

inline const QString VerifiedMessage =
    QStringLiteral("The unit holds the program (%1 lines verified)");

// An until line takes memory that the sent addresses did not count: a
// branch whose target may lie after one is checked against the unit's own
// listing (lines "0003 N500,G"), by the line each target reaches there.
bool needsListingCheck(const PreparedSend& send);
Verification checkTargets(const PreparedSend& send, const QStringList& listing);

// Said when verification fails at a pace faster than the default.
QString fasterPaceFailedMessage(double pace);

} // namespace kqm::transfer
