#pragma once

#include "program/program_table.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The exact characters a program send puts on the wire: a carriage return,
// "@" axis "E0", then "@" axis and each stored command with a carriage return.
QString ProgramSendText(const QVector<program::ProgramRow>& rows, const QString& axisAddress);
// What the send dialog lists: one or two frames per program line.
QStringList sendListItems(const QVector<program::ProgramRow>& rows, const QString& axisAddress);

// Why the send button refuses, or nullopt when the dialog may open
// (connection is checked by the caller).
std::optional<QString> sendRefusal(int rowCount, bool programFits);

// What a send of these rows puts on the wire and lists, or why it cannot
// be sent at all.
struct PreparedSend {
    std::optional<QString> refusal;
    QString text;
    QStringList items;
};
PreparedSend prepareSend(const QVector<program::ProgramRow>& rows, bool programFits,
                         const QString& axisAddress);

// The time that characters still take at the send's pace, as "m:ss".
QString timeLeft(int characters);
inline const QString QuitRequiredMessage =
    QStringLiteral("The last command must be a QUIT statement.  Please change and resend");
bool endsWithQuit(const QString& sendText);

enum class SendOutcome { Sent, Stopped, PortClosed, Aborted };

// Sends the text one character every 0.1 s, straight into the port (no CTS,
// no echo, no reply). progress(index, character) is called before each
// character's pause. Ends early, between characters, when the port closes,
// Stop Motion asks it to, or the window is closing.
SendOutcome sendProgram(link::Link& link, const QString& text,
                        const std::function<void(int index, QChar character)>& progress);

inline const QString SendPortClosedMessage = QStringLiteral(
    "The serial port was closed while the program was being sent, so the unit holds an "
    "incomplete program. Connect to the unit again and send the program again.");

} // namespace kqm::transfer
