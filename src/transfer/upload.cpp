#include "transfer/upload.h"

#include "link/link.h"
#include "platform/messages.h"
#include "program/command_set.h"
#include "program/editing.h"
#include "program/listing.h"
#include "program/program_document.h"
#include "transfer/send_operation.h"

#include <algorithm>

namespace kqm::transfer {

using platform::MessageIcon;

namespace {

bool isCommandLetterAt(const QString& text, qsizetype i) {
    return i < text.size() && program::IsCommandLetter(text.mid(i, 1));
}

} // namespace

UnitReply readUnitProgram(link::Link& link, platform::Messages* report, double requestPace) {
    UnitReply reply;
    const auto say = [&](const QString& text) {
        reply.failure = text;
        if (report)
            report->show(MessageIcon::Critical, text);
    };
    const auto silent = [&] {
        // Stopped or closing: nothing is wrong with the unit.
        if (link.exchanges().interrupted())
            return;
        say(NotRespondingMessage);
        // The upload ends the connection as it has always done; a read-back
        // leaves the port to the work it is part of (the next unit of a
        // machine is on the same line).
        if (report)
            link.disconnectUnit();
    };
    if (link.ReplyPending()) {
        link.ReadReply();
        if (link.flooded()) {
            say(link.lostReason());
            return reply;
        }
    }
    // The request has no address: it goes to the unit the line named last.
    // Right after a send the unit may still be in program entry, where naming
    // it would be stored; but a send that may have lost characters leaves
    // unknown which unit a cut frame named, so the unit is named first: a
    // unit out of entry answers, one still in it does not, and the caller
    // ends the entry and asks again.
    const bool afterSend = link.farEnd().entryMayBeOpen();
    if (afterSend)
        link.recovery().closeOpenFrame();
    const bool named = (afterSend && link.farEnd().addressedAxis() == link.state().AxisAddress) ||
                       link.recovery().nameConnectedUnit();
    if (link.flooded()) {
        say(link.lostReason());
        return reply;
    }
    if (!named && afterSend)
        return reply;
    if (!link.waitForCts(0.5, false)) {
        silent();
        return reply;
    }
    if (!link.TransmitPaced(QStringLiteral("VE"), 0.5, false, requestPace) &&
        !link.exchanges().interrupted() && report) {
        // Said, then the wait for the reply goes on: a unit that took the
        // request may still answer; one that did not ends as not responding.
        report->show(MessageIcon::Critical, link.state().LastCommError);
    }
    // The unit's half second counts from the request's arrival: the line's
    // time for the CR and the first character of the answer, and one poll,
    // are added, so that an answer begun in time is never missed.
    const double lineTime = 2 * 10.0 / std::max(link.state().BaudRate, 1);
    if (!link.waitForReply(0.5 + lineTime + link::Link::PollInterval, false)) {
        // After a send the caller ends program entry and asks again.
        if (!afterSend)
            silent();
        return reply;
    }
    // The listing ends with its '*'.
    const QByteArray text = link.readUntilMark('*', 0.5, link::MaxProgramReplyBytes);
    if (link.flooded()) {
        say(link.lostReason());
        return reply;
    }
    // Stopped meanwhile: what arrived is no answer anybody waits for now.
    if (link.exchanges().interrupted())
        return reply;
    reply.responded = true;
    reply.text = QString::fromLatin1(text);
    return reply;
}

ParsedReply parseUploadReply(QString reply) {
    ParsedReply parsed;
    reply = program::StripLf(reply);
    if (!reply.endsWith(QLatin1Char('*')))
        reply += QLatin1Char('*');
    if (reply.contains(QLatin1Char('_'))) {
        parsed.corrupted = true;
        return parsed;
    }
    qsizetype i = 0;
    bool end = false;
    while (!end) {
        if (!isCommandLetterAt(reply, i)) {
            parsed.invalidData = i >= reply.size() || reply.at(i) != QLatin1Char('*');
            break;
        }
        QString command;
        do {
            const QChar c = reply.at(i);
            if (c == QLatin1Char('\r'))
                command += QLatin1Char(',');
            else if (c == QLatin1Char('*'))
                end = true;
            else
                command += c;
            ++i;
        } while (!end && i < reply.size() && !isCommandLetterAt(reply, i));
        if (command.endsWith(QLatin1Char(',')))
            command.chop(1);
        if ((command.startsWith(QLatin1Char('N')) || command.startsWith(QLatin1Char('P'))) &&
            i < reply.size() && reply.at(i) == QLatin1Char('G')) {
            ++i;
            command += QStringLiteral(",G");
        }
        parsed.commands << command;
        if (i >= reply.size())
            end = true;
    }
    return parsed;
}

void convertBranches(QVector<program::ProgramRow>& rows, platform::Messages& messages) {
    // Target lines are found by the addresses read from the unit, then
    // numbered by their place among the lines that remain.
    QVector<int16_t> addresses;
    for (const program::ProgramRow& row : rows)
        addresses << static_cast<int16_t>(row.address);
    const auto targetOf = [&addresses](int32_t address) {
        for (qsizetype i = addresses.size() - 1; i >= 0; --i) {
            if (addresses.at(i) == static_cast<int16_t>(address))
                return static_cast<int>(i);
        }
        return -1;
    };
    QVector<bool> kept(rows.size(), true);
    QVector<int> targets(rows.size(), -1);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString& command = rows.at(i).command;
        if (!program::IsCommandString(command))
            continue;
        const QChar letter = command.at(0);
        const bool loop = letter == QLatin1Char('&');
        if (!loop && letter != QLatin1Char('I') && letter != QLatin1Char('U'))
            continue;
        targets[i] = targetOf(program::OperandField(command, loop ? 1 : 2));
        if (targets[i] < 0) {
            kept[i] = false;
            messages.show(MessageIcon::None, loop ? InvalidLoopMessage : InvalidBranchMessage);
        }
    }
    QVector<int> newLine(rows.size() + 1, 0);
    int remaining = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        newLine[i] = remaining + 1; // a deleted target hands on to the next line
        if (kept.at(i))
            ++remaining;
    }
    QVector<program::ProgramRow> result;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!kept.at(i))
            continue;
        program::ProgramRow row = rows.at(i);
        if (targets.at(i) >= 0) {
            const QString& command = row.command;
            const int line = newLine.at(targets.at(i));
            if (command.at(0) == QLatin1Char('&')) {
                row.command =
                    QStringLiteral("&%1,%2").arg(program::OperandField(command, 0)).arg(line);
            } else {
                row.command = QStringLiteral("%1%2,%3,%4")
                                  .arg(command.at(0))
                                  .arg(program::OperandField(command, 0))
                                  .arg(program::OperandField(command, 1))
                                  .arg(line);
            }
            row.listing = QStringLiteral("!");
        }
        result << row;
    }
    rows = std::move(result);
}

void trimTrailingQuits(QVector<program::ProgramRow>& rows, platform::Messages& messages) {
    const auto isQuit = [&rows](qsizetype i) {
        return rows.at(i).command == QLatin1String("Q");
    };
    if (rows.isEmpty())
        return;
    if (!isQuit(rows.size() - 1)) {
        messages.show(MessageIcon::Warning, NoQuitMessage);
        return;
    }
    while (rows.size() >= 2 && isQuit(rows.size() - 2))
        rows.removeAt(rows.size() - 2);
    if (rows.size() == 1)
        messages.show(MessageIcon::Warning, MemoryClearedMessage);
}

BuiltProgram buildUploadedProgram(const QString& reply, platform::Messages& messages) {
    BuiltProgram built;
    const ParsedReply parsed = parseUploadReply(reply);
    if (parsed.corrupted) {
        messages.show(MessageIcon::Warning, CorruptedMessage);
        return built;
    }
    if (parsed.invalidData)
        messages.show(MessageIcon::Warning, InvalidDataMessage);
    built.stored = true;
    if (parsed.commands.isEmpty()) {
        messages.show(MessageIcon::Warning, NoLinesMessage);
        return built;
    }
    for (const QString& command : parsed.commands)
        program::appendProgramLine(built.rows, command, QStringLiteral(" "));
    platform::SilentMessages quiet;
    program::computeListing(built.rows, quiet);
    convertBranches(built.rows, messages);
    trimTrailingQuits(built.rows, messages);
    return built;
}

namespace {

QString uploadLogResult(const UploadReport& report) {
    switch (report.end) {
    case UploadEnd::Uploaded:
        return QStringLiteral("uploaded");
    case UploadEnd::Stopped:
        return QStringLiteral("stopped");
    case UploadEnd::Corrupted:
        return QStringLiteral("failed: ") + CorruptedMessage;
    case UploadEnd::Refused:
    case UploadEnd::NoAnswer:
        break;
    }
    return QStringLiteral("failed: the unit did not answer");
}

void logUpload(link::Link& link, const UploadLog& log, UploadReport& report) {
    if (log.logFile.isEmpty())
        return;
    TransferLogEntry entry = linkLogEntry(link, QStringLiteral("upload"));
    entry.program = log.programPath;
    QString text;
    for (const program::ProgramRow& row : report.uploaded.built.rows)
        text += row.command + QLatin1Char('\r');
    entry.sha256 = sha256Of(text);
    entry.result = uploadLogResult(report);
    appendTransferLog(log.logFile, entry, &report.logError);
}

} // namespace

UploadReport runUpload(link::Link& link, platform::Messages& messages, const UploadLog& log,
                       const std::function<void()>& replyArrived) {
    UploadReport report;
    const auto exchange = link.exchanges().tryBegin();
    if (!exchange)
        return report;
    report.ran = true;
    // What went wrong on the line is said as it happens, once.
    const UnitReply reply = readUnitProgram(link, &messages);
    if (!reply.responded) {
        report.end = link.exchanges().interrupted() ? UploadEnd::Stopped : UploadEnd::NoAnswer;
        if (report.end == UploadEnd::Stopped)
            report.message = UploadStoppedMessage;
        logUpload(link, log, report);
        return report;
    }
    report.uploaded.responded = true;
    if (replyArrived)
        replyArrived();
    report.uploaded.built = buildUploadedProgram(reply.text, messages);
    report.end = report.uploaded.built.stored ? UploadEnd::Uploaded : UploadEnd::Corrupted;
    logUpload(link, log, report);
    return report;
}

bool storeUploadedProgram(program::ProgramDocument& document, const BuiltProgram& built,
                          QString* error, std::optional<quint64> binding) {
    return !built.stored ||
           document.replaceRows(built.rows, error, QStringLiteral("Upload program"), binding);
}

} // namespace kqm::transfer
