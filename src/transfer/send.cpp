#include "transfer/send.h"

#include "link/link.h"
#include "program/command_set.h"

#include <QRegularExpression>

#include <cmath>

#include <algorithm>

namespace kqm::transfer {

namespace {

const QRegularExpression GoMove(QStringLiteral("^([NP][^\\r,]*)(?:\\r@[0-9]+G|,G)$"));

bool holdsControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// The address of every line, from the command sizes.
QVector<int> lineAddresses(const QVector<program::ProgramRow>& rows) {
    QVector<int> addresses;
    int address = 0;
    for (const program::ProgramRow& row : rows) {
        addresses << address;
        address += program::knownCommandSize(row.command).value_or(0);
    }
    return addresses;
}

WireForm wireFormAt(const QVector<program::ProgramRow>& rows, const QVector<int>& addresses,
                    int index) {
    const QString& command = rows.at(index).command;
    const int line = index + 1;
    if (const auto go = GoMove.match(command); go.hasMatch())
        return {{go.captured(1), QStringLiteral("G")}, std::nullopt};
    if (holdsControlCharacter(command)) {
        return {{},
                QStringLiteral("Line %1 holds a control character in its command, which would "
                               "put a frame of its own on the line. Change that line before "
                               "sending the program.")
                    .arg(line)};
    }
    const QChar letter = command.isEmpty() ? QChar() : command.at(0);
    const bool commaLoop = letter == QLatin1Char('&') && !command.contains(QLatin1Char('_'));
    if (!commaLoop && letter != QLatin1Char('I') && letter != QLatin1Char('U'))
        return {{command}, std::nullopt};
    const int target = program::OperandField(command, commaLoop ? 1 : 2);
    if (target < 1 || target > rows.size()) {
        return {{},
                QStringLiteral("Line %1 branches to line %2, which the program does not have. "
                               "Change that line before sending the program.")
                    .arg(line)
                    .arg(target)};
    }
    const QString address = QString::number(addresses.at(target - 1));
    const auto field = [&command](int n) {
        return QString::number(program::OperandField(command, n));
    };
    if (commaLoop)
        return {{QStringLiteral("&") + address + QLatin1Char('_') + field(0)}, std::nullopt};
    return {{letter + field(0) + QLatin1Char(',') + field(1) + QLatin1Char(',') + address},
            std::nullopt};
}

} // namespace

WireForm wireForm(const QVector<program::ProgramRow>& rows, int index) {
    return wireFormAt(rows, lineAddresses(rows), index);
}

QString ProgramSendText(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    const PreparedSend prepared = prepareSend(rows, axisAddress);
    return prepared.refusal ? QString() : prepared.text();
}

QStringList sendListItems(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    return prepareSend(rows, axisAddress).items;
}

PreparedSend prepareSend(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    PreparedSend prepared;
    const QString prefix = QLatin1Char('@') + axisAddress;
    prepared.axis = axisAddress;
    prepared.leadIn = QStringLiteral("\r") + prefix + QStringLiteral("E0\r");
    const QVector<int> addresses = lineAddresses(rows);
    for (int i = 0; i < rows.size(); ++i) {
        const WireForm form = wireFormAt(rows, addresses, i);
        if (form.refusal) {
            prepared.refusal = form.refusal;
            return prepared;
        }
        QString line;
        prepared.commands << form.commands;
        for (const QString& command : form.commands) {
            line += prefix + command + QLatin1Char('\r');
            prepared.items << prefix + command;
        }
        prepared.lines << line;
    }
    return prepared;
}

QString timeLeft(int characters, double pace) {
    const int seconds = static_cast<int>(std::floor(std::max(characters, 0) * pace + 1e-9));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

bool endsWithQuit(const QString& sendText) {
    return sendText.size() >= 2 && sendText.at(sendText.size() - 2) == QLatin1Char('Q');
}

namespace {

// Writes characters at the send's pace; false when the port has closed.
bool writePaced(link::Link& link, link::SendWriter& writer, const QString& text, int* index,
                const std::function<void(int, QChar)>& progress, double pace) {
    for (const QChar c : text) {
        if (writer.write(c) == link::SendWriter::Step::PortClosed)
            return false;
        if (progress)
            progress((*index)++, c);
        link.pace(pace);
    }
    return true;
}

} // namespace

SendResult sendProgram(link::Link& link, const PreparedSend& send,
                       const std::function<void(int, QChar)>& progress) {
    link::SendWriter writer(link, send.pace);
    SendResult result;
    int index = 0;
    const auto closed = [&result] {
        result.outcome = SendOutcome::PortClosed;
        return result;
    };
    if (!writePaced(link, writer, send.leadIn, &index, progress, send.pace))
        return closed();
    for (const QString& line : send.lines) {
        if (link.exchanges().interrupted())
            break;
        if (!writePaced(link, writer, line, &index, progress, send.pace))
            return closed();
        ++result.linesSent;
    }
    const QString prefix = QLatin1Char('@') + send.axis;
    const QString stop = prefix + QStringLiteral(".\r");
    if (!link.exchanges().interrupted())
        return result;
    // What ends a stopped send goes at the unit's sure pace, whatever the
    // pace of the program was; after a faster pace, a lone CR first closes
    // a frame whose characters may have been lost.
    const bool wasFast = send.pace < SurePace - 1e-9;
    writer.slowDown();
    if (wasFast)
        link.pace(SurePace);
    const QString lead = wasFast ? QStringLiteral("\r") : QString();
    int uncounted = 0;
    // Stopped during the line before a last Quit: the quit frame that ends
    // program entry is that line, so the program is in whole.
    const bool lastIsQuit =
        !send.lines.isEmpty() && send.lines.last() == prefix + QStringLiteral("Q\r");
    const bool quitLeft = lastIsQuit && result.linesSent + 1 == send.lines.size();
    if (result.linesSent == send.lines.size() || quitLeft) {
        // The whole program is in: only the stop that was asked for follows;
        // after a faster pace the quit may have been lost, and is sent again
        // so that the stop is executed, not stored.
        const QString quit = wasFast || quitLeft ? prefix + QStringLiteral("Q\r") : QString();
        if (!writePaced(link, writer, lead + quit + stop, &uncounted, {}, SurePace))
            return closed();
        result.linesSent = static_cast<int>(send.lines.size());
        return result;
    }
    // End program entry, stop, then leave an empty program behind.
    const QString end = lead + prefix + QStringLiteral("Q\r") + stop + prefix +
                        QStringLiteral("E0\r") + prefix + QStringLiteral("Q\r");
    if (!writePaced(link, writer, end, &uncounted, {}, SurePace))
        return closed();
    result.outcome = SendOutcome::Stopped;
    return result;
}

QString stoppedSendMessage(int linesSent) {
    return QStringLiteral("The send was stopped after %1 program lines. The unit's program memory "
                          "is now empty: send the program again before you run it.")
        .arg(linesSent);
}

int lineOfCharacter(const PreparedSend& send, int index) {
    qsizetype end = send.leadIn.size();
    for (qsizetype line = 0; line < send.lines.size(); ++line) {
        end += send.lines.at(line).size();
        if (index < end)
            return static_cast<int>(line + 1);
    }
    return static_cast<int>(std::max<qsizetype>(send.lines.size(), 1));
}

} // namespace kqm::transfer
