#include "transfer/verify.h"

#include "link/link.h"
#include "program/command_set.h"
#include "transfer/view.h"

#include <algorithm>

namespace kqm::transfer {

QString unitForm(const QStringList& commands) {
    if (commands.size() == 2 && commands.at(1) == QLatin1String("G"))
        return commands.at(0) + QStringLiteral(",G");
    const QString command = commands.join(QLatin1Char(','));
    // The unit keeps a loop as count and address, and gives it back so.
    if (command.startsWith(QLatin1Char('&')) && command.contains(QLatin1Char('_'))) {
        const qsizetype split = command.indexOf(QLatin1Char('_'));
        return QLatin1Char('&') + command.mid(split + 1) + QLatin1Char(',') +
               command.mid(1, split - 1);
    }
    return command;
}

UnitProgram unitProgram(const PreparedSend& send) {
    UnitProgram program;
    for (qsizetype i = 0; i < send.commands.size(); ++i) {
        const QStringList& commands = send.commands.at(i);
        // A go frame right after a move frame becomes part of that move in
        // the unit, whichever program line it came from.
        const bool go = commands.size() == 1 && commands.at(0) == QLatin1String("G");
        if (go && !program.commands.isEmpty()) {
            QString& last = program.commands.last();
            if ((last.startsWith(QLatin1Char('N')) || last.startsWith(QLatin1Char('P'))) &&
                !last.endsWith(QLatin1String(",G"))) {
                last += QStringLiteral(",G");
                continue;
            }
        }
        program.commands << unitForm(commands);
        program.lines << static_cast<int>(i) + 1;
    }
    return program;
}

Verification compareWithUnit(const PreparedSend& send, const ParsedReply& reply) {
    Verification result;
    result.outcome = Verification::Outcome::Differs;
    if (reply.corrupted) {
        result.message = QStringLiteral("The unit reports corrupted program memory after the send: "
                                        "it does not hold the program.");
        return result;
    }
    const UnitProgram program = unitProgram(send);
    const qsizetype sent = program.commands.size();
    const qsizetype held = reply.commands.size();
    for (qsizetype i = 0; i < std::max(sent, held); ++i) {
        const QString expected = i < sent ? program.commands.at(i) : QString();
        const QString found = i < held ? reply.commands.at(i) : QString();
        if (expected == found)
            continue;
        result.line = i < sent ? program.lines.at(i) : static_cast<int>(send.commands.size()) + 1;
        if (i >= held) {
            result.message = QStringLiteral("The unit holds something else: line %1 (%2) and the "
                                            "lines after it are missing in the unit.")
                                 .arg(result.line)
                                 .arg(expected);
        } else if (i >= sent) {
            result.message = QStringLiteral("The unit holds something else: it has more lines "
                                            "than were sent; line %1 there is %2.")
                                 .arg(i + 1)
                                 .arg(found);
        } else {
            result.message = QStringLiteral("The unit holds something else at line %1: sent %2, "
                                            "the unit holds %3.")
                                 .arg(result.line)
                                 .arg(expected, found);
        }
        if (reply.invalidData)
            result.message +=
                QStringLiteral(" Its reply also held characters that are no command.");
        return result;
    }
    result.outcome = Verification::Outcome::Verified;
    result.lines = static_cast<int>(send.commands.size());
    result.message = VerifiedMessage.arg(result.lines);
    return result;
}

namespace {

// A branch frame's target address, when the line branches: "&a_n", "Xa",
// "Ia,b,a", "Uv,p,a".
std::optional<int> branchAddress(const QStringList& commands) {
    if (commands.size() != 1 || commands.at(0).isEmpty())
        return std::nullopt;
    const QString& command = commands.at(0);
    const QChar letter = command.at(0);
    if (letter == QLatin1Char('&') && command.contains(QLatin1Char('_')))
        return command.mid(1, command.indexOf(QLatin1Char('_')) - 1).toInt();
    if (letter == QLatin1Char('X'))
        return command.mid(1).toInt();
    if (letter == QLatin1Char('I') || letter == QLatin1Char('U')) {
        const QStringList fields = command.mid(1).split(QLatin1Char(','));
        return fields.size() == 3 ? std::optional<int>(fields.at(2).toInt()) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

bool needsListingCheck(const PreparedSend& send) {
    bool afterUntil = false;
    for (const QStringList& commands : send.commands) {
        if (afterUntil && branchAddress(commands))
            return true;
        if (!commands.isEmpty() && commands.at(0).startsWith(QLatin1Char('U')))
            afterUntil = true;
    }
    // A branch before the until line may still point past it.
    if (!afterUntil)
        return false;
    for (const QStringList& commands : send.commands) {
        if (branchAddress(commands))
            return true;
    }
    return false;
}

Verification checkTargets(const PreparedSend& send, const QStringList& listing) {
    // The unit's address of each of its lines, in order.
    QList<int> unitAddresses;
    for (const QString& line : listing)
        unitAddresses << line.left(4).toInt();
    const UnitProgram program = unitProgram(send);
    // The tool's own addresses, which the branches were sent with.
    QList<int> toolAddresses;
    int address = 0;
    for (const QString& command : program.commands) {
        toolAddresses << address;
        address += program::knownCommandSize(command).value_or(0);
    }
    Verification result;
    result.outcome = Verification::Outcome::Verified;
    for (qsizetype i = 0; i < program.commands.size(); ++i) {
        const qsizetype sentLine = program.lines.at(i) - 1;
        const auto target = branchAddress(send.commands.at(sentLine));
        if (!target)
            continue;
        // A line of no counted size shares its address with the next; a
        // branch there means the last of them.
        const qsizetype meant = toolAddresses.lastIndexOf(*target);
        const qsizetype reached = unitAddresses.indexOf(*target);
        if (meant >= 0 && meant == reached)
            continue;
        result.outcome = Verification::Outcome::Differs;
        result.line = program.lines.at(i);
        const QString where =
            reached < 0 ? QStringLiteral("no line of the unit's program starts there")
                        : QStringLiteral("in the unit that is line %1")
                              .arg(program.lines.value(reached, static_cast<int>(reached) + 1));
        result.message =
            QStringLiteral("Line %1 branches to address %2, meant for line %3, but %4: "
                           "an until line before it takes memory that the addresses "
                           "did not count. The program is not verified.")
                .arg(result.line)
                .arg(*target)
                .arg(meant < 0 ? 0 : program.lines.at(meant))
                .arg(where);
        return result;
    }
    return result;
}

Verification verifySend(link::Link& link, const PreparedSend& send) {
    // The request goes out a sure pace after the send's last character; its
    // own characters at the send's pace, which the unit has just taken.
    link.pace(SurePace);
    const double requestPace = std::min(send.pace, SurePace);
    Verification result;
    // Straight after a send at a faster pace the unit may still be in
    // program entry: the request goes first, and only when it is not
    // answered is the entry ended (a quit frame to a unit out of entry
    // would set its error code) and the request made again.
    UnitReply reply = readUnitProgram(link, nullptr, requestPace);
    if (!reply.responded && reply.failure.isEmpty() && link.farEnd().entryMayBeOpen() &&
        !link.exchanges().interrupted() && link.isPortOpen()) {
        link.recovery().endProgramEntry();
        reply = readUnitProgram(link, nullptr, SurePace);
    }
    if (!reply.responded) {
        result.message = reply.failure.isEmpty() || reply.failure == NotRespondingMessage
                             ? QStringLiteral("The unit did not answer when its program was read "
                                              "back, so the send could not be verified.")
                             : reply.failure;
        return result;
    }
    result = compareWithUnit(send, parseUploadReply(reply.text));
    // The unit holds the whole program, its quit included: entry is over.
    if (result.verified())
        link.recovery().programEntryEnded();
    if (!result.verified() || !needsListingCheck(send))
        return result;
    // Where each branch lands is only known from the unit's own addresses.
    const UnitListing listing = readUnitListing(link);
    if (!listing.endedWithQ) {
        result.outcome = Verification::Outcome::NoAnswer;
        result.message = QStringLiteral("The unit's listing could not be read, so the branches "
                                        "after the until line could not be verified.");
        return result;
    }
    const Verification targets = checkTargets(send, listing.lines);
    return targets.verified() ? result : targets;
}

QString fasterPaceFailedMessage(double pace) {
    return QStringLiteral("The program was sent at the faster pace of %1 s per character, and the "
                          "unit does not hold it as sent. This unit or line needs the slower "
                          "pace: send the program again at 0.1 s per character.")
        .arg(pace);
}

} // namespace kqm::transfer
