#include "transfer/send.h"

#include "link/link.h"
#include "program/command_set.h"

namespace kqm::transfer {

QString ProgramSendText(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    const QString prefix = QLatin1Char('@') + axisAddress;
    QString text = QStringLiteral("\r") + prefix + QStringLiteral("E0\r");
    for (const program::ProgramRow& row : rows)
        text += prefix + row.command + QLatin1Char('\r');
    return text;
}

QStringList sendListItems(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    QStringList items;
    for (const program::ProgramRow& row : rows) {
        const QString command = program::StripCrLf(row.command);
        const qsizetype at = command.indexOf(QLatin1Char('@'));
        items << QLatin1Char('@') + axisAddress + (at < 0 ? command : command.left(at));
        if (at >= 0 && at < command.size())
            items << command.mid(at);
    }
    return items;
}

std::optional<QString> sendRefusal(int rowCount, bool programFits) {
    if (rowCount < 1)
        return QStringLiteral("The program is empty.");
    if (!programFits) {
        return QStringLiteral("The program size exceeds available memory.  The program cannot be "
                              "sent until total memory usage is reduced to 2047 bytes or less.");
    }
    return std::nullopt;
}

PreparedSend prepareSend(const QVector<program::ProgramRow>& rows, bool programFits,
                         const QString& axisAddress) {
    PreparedSend prepared;
    prepared.refusal = sendRefusal(static_cast<int>(rows.size()), programFits);
    if (prepared.refusal)
        return prepared;
    prepared.text = ProgramSendText(rows, axisAddress);
    prepared.items = sendListItems(rows, axisAddress);
    return prepared;
}

QString timeLeft(int characters) {
    // Every character takes 0.1 s.
    const int tenths = std::max(characters, 0);
    return QStringLiteral("%1:%2")
        .arg(tenths / 600)
        .arg((tenths / 10) % 60, 2, 10, QLatin1Char('0'));
}

bool endsWithQuit(const QString& sendText) {
    return sendText.size() >= 2 && sendText.at(sendText.size() - 2) == QLatin1Char('Q');
}

SendOutcome sendProgram(link::Link& link, const QString& text,
                        const std::function<void(int, QChar)>& progress) {
    using Step = link::Link::SendStep;
    const auto finish = [&link](SendOutcome outcome) {
        link.endSend();
        return outcome;
    };
    for (int i = 0; i < text.size(); ++i) {
        switch (link.writeSendCharacter(text.at(i))) {
        case Step::Aborted:
            return finish(SendOutcome::Aborted);
        case Step::Stopped:
            return finish(SendOutcome::Stopped);
        case Step::PortClosed:
            return finish(SendOutcome::PortClosed);
        case Step::Written:
            break;
        }
        if (progress)
            progress(i, text.at(i));
        link.Delay(0.1);
    }
    return finish(SendOutcome::Sent);
}

} // namespace kqm::transfer
