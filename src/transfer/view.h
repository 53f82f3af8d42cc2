#pragma once

#include <QString>
#include <QStringList>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The unit's own listing cut into lines: each carriage-return-terminated line
// up to the first "Q" anywhere.
struct UnitListing {
    QStringList lines;
    bool endedWithQ = false; // false: the unit did not send its whole listing
    bool truncated = false;  // more lines than the window keeps
};

inline constexpr int MaxListingLines = 1000;
UnitListing splitUnitListing(const QString& reply);

// Asks the unit for its listing ("@" axis "*0") and reads the reply.
QString requestUnitListing(link::Link& link);
// The view exchange, for the window and kqmctl alike: the request and the
// reply cut into lines. Runs inside the caller's exchange.
UnitListing readUnitListing(link::Link& link);

// The view as one exchange of its own: refused (ran false) when no unit is
// connected or another exchange runs, the link having said why. message says
// what is missing from the listing (stopped, incomplete, too long, a line
// that keeps sending); critical when the line failed.
enum class ViewEnd {
    Refused,    // not connected, or another exchange runs: the link has said why
    Whole,      // the listing up to its Q line
    TooLong,    // the first MaxListingLines lines
    Stopped,    // Stop Motion or the window closing: the lines that arrived
    Incomplete, // the unit fell silent before its Q line
    LineFailed, // the line keeps sending: the port is closed
};
struct ViewReport {
    bool ran = false;
    ViewEnd end = ViewEnd::Refused;
    UnitListing listing;
    QString message;
    bool critical = false;
};
ViewReport runView(link::Link& link);

inline const QString ListingIncompleteMessage = QStringLiteral(
    "The unit did not answer with its whole listing (no line with Q arrived). The lines that "
    "arrived are shown.");
inline const QString ListingStoppedMessage =
    QStringLiteral("The listing was stopped before it was complete; the lines that arrived are "
                   "shown.");
inline const QString ListingTooLongMessage =
    QStringLiteral("The unit's listing has more than 1000 lines; the first 1000 are shown.");

} // namespace kqm::transfer
