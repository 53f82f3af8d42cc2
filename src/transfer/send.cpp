#include "transfer/send.h"

#include "link/link.h"
#include "platform/serial_port.h"
#include "program/command_set.h"

namespace kqm::transfer {

QString ProgramSendText(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    const QString prefix = QLatin1Char('@') + axisAddress;
    QString text = QStringLiteral("\r") + prefix + QStringLiteral("E0\r");
    for (const program::ProgramRow& row : rows)
        text += prefix + row.command + QLatin1Char('\r');
    return text;
}

QStringList SendListItems(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
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

std::optional<QString> SendRefusal(int rowCount, bool programFits) {
    if (rowCount < 1)
        return QStringLiteral("The program is empty.");
    if (!programFits) {
        return QStringLiteral("The program size exceeds available memory.  The program cannot be "
                              "sent until total memory usage is reduced to 2047 bytes or less.");
    }
    return std::nullopt;
}

bool EndsWithQuit(const QString& sendText) {
    return sendText.size() >= 2 && sendText.at(sendText.size() - 2) == QLatin1Char('Q');
}

SendOutcome SendProgram(link::Link& link, const QString& text,
                        const std::function<void(int, QChar)>& progress) {
    platform::SerialPort& port = link.port();
    const auto finish = [&link](SendOutcome outcome) {
        link.WritePendingStop();
        link.setInsideFrame(false);
        return outcome;
    };
    for (int i = 0; i < text.size(); ++i) {
        if (link.abortRequested())
            return finish(SendOutcome::Aborted);
        if (link.stopRequested())
            return finish(SendOutcome::Stopped);
        if (!port.PortOpen())
            return finish(SendOutcome::PortClosed);
        port.Output(QByteArray(1, text.at(i).toLatin1()));
        link.setInsideFrame(text.at(i) != QLatin1Char('\r'));
        if (progress)
            progress(i, text.at(i));
        link.Delay(0.1);
    }
    return finish(SendOutcome::Sent);
}

} // namespace kqm::transfer
