#include "transfer/verify.h"

#include "link/link.h"
#include "program/command_set.h"

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

Verification compareWithUnit(const PreparedSend& send, const ParsedReply& reply) {
    Verification result;
    result.outcome = Verification::Outcome::Differs;
    if (reply.corrupted) {
        result.message = QStringLiteral("The unit reports corrupted program memory after the send: "
                                        "it does not hold the program.");
        return result;
    }
    const qsizetype sent = send.commands.size();
    const qsizetype held = reply.commands.size();
    for (qsizetype i = 0; i < std::max(sent, held); ++i) {
        const QString expected = i < sent ? unitForm(send.commands.at(i)) : QString();
        const QString found = i < held ? reply.commands.at(i) : QString();
        if (expected == found)
            continue;
        result.line = static_cast<int>(i) + 1;
        if (i >= held) {
            result.message = QStringLiteral("The unit holds something else: line %1 (%2) and the "
                                            "lines after it are missing in the unit.")
                                 .arg(i + 1)
                                 .arg(expected);
        } else if (i >= sent) {
            result.message = QStringLiteral("The unit holds something else: it has more lines "
                                            "than were sent; line %1 there is %2.")
                                 .arg(i + 1)
                                 .arg(found);
        } else {
            result.message = QStringLiteral("The unit holds something else at line %1: sent %2, "
                                            "the unit holds %3.")
                                 .arg(i + 1)
                                 .arg(expected, found);
        }
        if (reply.invalidData)
            result.message += QStringLiteral(" Its reply also held characters that are no command.");
        return result;
    }
    result.outcome = Verification::Outcome::Verified;
    result.lines = static_cast<int>(sent);
    result.message = VerifiedMessage.arg(sent);
    return result;
}

Verification verifySend(link::Link& link, const PreparedSend& send) {
    // The request goes out at the sure pace after the send's last character,
    // whatever the send's own pace was.
    link.pace(DefaultPace);
    const UnitReply reply = readUnitProgram(link);
    if (!reply.responded) {
        Verification result;
        result.message = QStringLiteral("The unit did not answer when its program was read back, "
                                        "so the send could not be verified.");
        return result;
    }
    return compareWithUnit(send, parseUploadReply(reply.text));
}

bool endProgramEntry(link::Link& link, const QString& axis) {
    link.beginSend();
    bool written = true;
    for (const QChar c : QLatin1Char('@') + axis + QStringLiteral("Q\r")) {
        if (link.writeSendCharacter(c) == link::Link::SendStep::PortClosed) {
            written = false;
            break;
        }
        link.pace(DefaultPace);
    }
    link.endSend();
    return written;
}

QString fasterPaceFailedMessage(double pace) {
    return QStringLiteral("The program was sent at the faster pace of %1 s per character, and the "
                          "unit does not hold it as sent. This unit or line needs the slower "
                          "pace: send the program again at 0.1 s per character.")
        .arg(pace);
}

} // namespace kqm::transfer
