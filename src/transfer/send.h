#pragma once

#include "program/program_table.h"
#include "transfer/pace_policy.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The frames of one program line as the unit must receive them, whatever
// form the line is stored in: a go move as its two frames ("N500" and "G",
// the go addressed to the unit being programmed), a line-number branch (the
// comma-form loop, "I", "U") with the address of its target line. Addresses
// are worked out from the command sizes. A line that cannot go out (a target
// line that does not exist, a control character) gives the reason instead.
struct WireForm {
    QStringList commands;
    std::optional<QString> refusal;
};
WireForm wireForm(const QVector<program::ProgramRow>& rows, int index);

// A program send as it goes out: a carriage return and the opening frame,
// then each program line's frames. Every frame is "@" axis, the command, CR.
struct PreparedSend {
    std::optional<QString> refusal;
    QString axis;
    QString leadIn;
    QStringList lines;           // one entry per program line: its frames
    QStringList items;           // what the dialog lists: one entry per frame
    QList<QStringList> commands; // per program line: its frames' commands
    double pace = SurePace;      // seconds between characters
    QString text() const { return leadIn + lines.join(QString()); }
};
// The program line (1-based) the character at index belongs to: the lead-in
// counts as the first line's, anything past the last line as the last.
int lineOfCharacter(const PreparedSend& send, int index);

// The frames only: whether the program may be sent at all is the send
// request's to say (send_request.h).
PreparedSend prepareSend(const QVector<program::ProgramRow>& rows, const QString& axisAddress);

// The exact characters a program send puts on the wire (empty when a line
// cannot be sent).
QString ProgramSendText(const QVector<program::ProgramRow>& rows, const QString& axisAddress);
// What the send dialog lists: one item per frame.
QStringList sendListItems(const QVector<program::ProgramRow>& rows, const QString& axisAddress);

// The time that characters still take at the send's pace, as "m:ss".
QString timeLeft(int characters, double pace = SurePace);

inline const QString QuitRequiredMessage =
    QStringLiteral("The last command must be a QUIT statement.  Please change and resend");
bool endsWithQuit(const QString& sendText);

enum class SendOutcome { Sent, Stopped, PortClosed };
struct SendResult {
    SendOutcome outcome = SendOutcome::Sent;
    int linesSent = 0; // whole program lines that reached the unit
};

// Sends one character every 0.1 s, straight into the port (no CTS, no echo,
// no reply). progress(index, character) is called before each character's
// pause. Stop Motion, or the window closing, never cuts a program line: the
// line being written is finished, program entry is ended with the quit
// frame, the stop frame follows, and the unit is left with an empty program
// (the opening frame, then the quit frame), so half a program can never run.
SendResult sendProgram(link::Link& link, const PreparedSend& send,
                       const std::function<void(int index, QChar character)>& progress);

// What the user is told after a send that was stopped.
QString stoppedSendMessage(int linesSent);

inline const QString SendPortClosedMessage = QStringLiteral(
    "The serial port was closed while the program was being sent, so the unit holds an "
    "incomplete program. Connect to the unit again and send the program again.");

} // namespace kqm::transfer
