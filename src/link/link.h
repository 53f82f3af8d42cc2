#pragma once

#include "link/background_query.h"
#include "link/exchanges.h"
#include "link/far_end.h"
#include "link/line_recovery.h"
#include "link/link_state.h"
#include "link/send_writer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace kqm::platform {
class Clock;
class Messages;
class SerialPort;
} // namespace kqm::platform

namespace kqm::link {

inline const QString NoDataError = QStringLiteral("ERROR: There is no data in the serial port!");
inline const QString CtsBusyError =
    QStringLiteral("ERROR: The CTS line is BUSY - The unit is not responding");
inline const QString NotAcceptedError =
    QStringLiteral("ERROR: The unit would not accept serial data");

QString notConnectedMessage();
// A line that never falls silent: another device on the port, or noise.
QString lineKeepsSendingMessage(const QString& device);

// The most a reply may hold: a query's answer, and the upload or listing of
// a full program memory (a few kilobytes), with room to spare. A reply that
// grows past its limit, or does not settle within the time the line needs to
// carry that much, is no reply: the line keeps sending.
inline constexpr int MaxQueryReplyBytes = 256;
inline constexpr int MaxProgramReplyBytes = 12 * 1024;
// " TRANSMITTING: " and the share sent, formatted as "###%".
QString transmittingCaption(int sent, int total);

// The lowest layer of the device link: the wire form of a command, direct and
// paced writes and reading replies, and the unit it is connected to. Beside
// it, and part of it: the far end's bookkeeping, who may use the line
// (exchanges), the queries between the user's actions (background) and what
// ends a unit's open frame or program entry (recovery). Every wait sleeps
// through the clock; none spins the processor.
class Link : public QObject {
    Q_OBJECT
public:
    Link(platform::SerialPort& port, platform::Clock& clock, platform::Messages& messages,
         LinkState& state, QObject* parent = nullptr);
    ~Link() override;

    using Exchange = link::Exchange;
    using LongExchange = link::LongExchange;
    using BackgroundOutcome = BackgroundQueries::Outcome;
    using BackgroundReply = BackgroundQueries::Reply;
    using SendStep = SendWriter::Step;

    // Read-only: what changes it are the link's own operations (below) and
    // the connection's greeting.
    const LinkState& state() const { return m_state; }
    bool isPortOpen() const;
    // The device that the port stands for, for messages.
    QString deviceName() const;
    // The unit on the port is the built-in simulated one.
    bool isSimulated() const;

    Exchanges& exchanges() { return m_exchanges; }
    const Exchanges& exchanges() const { return m_exchanges; }
    BackgroundQueries& background() { return m_background; }
    LineRecovery& recovery() { return m_recovery; }
    // The far end of the line, as far as what was written tells. Every
    // writer goes through the link, so it is always up to date.
    const FarEnd& farEnd() const { return m_far; }

    void Delay(double seconds);
    bool ReplyPending();
    // A reply to a query; `maxBytes` larger for the unit's listing, which may
    // be as long as a program. "False" for silence or a flood.
    QString ReadReply(int maxBytes = MaxQueryReplyBytes);
    // Waits until the receive count stays the same across a pause, then
    // returns everything received. Past maxBytes, or past the time the line
    // needs to carry that many, the line is taken as flooded: the port is
    // closed, the reason kept, and nothing returned.
    QByteArray readSettled(double pause, int maxBytes);
    // The same for a reply that ends with `endMark`: once the mark has
    // arrived, a short quiet (for anything trailing it) ends the wait
    // instead of the whole pause. The reply is echoed to the debug pane.
    QByteArray readUntilMark(char endMark, double pause, int maxBytes);
    // One query answered as fast as the line carries it: the frame, then
    // the reply as soon as it is whole (its carriage return, or a pause of a
    // few characters' time after its last one), looking once a character's
    // time and sleeping between looks. Nothing when no reply began within
    // `timeout`, the port went or the line keeps sending. Runs inside the
    // caller's exchange.
    std::optional<QByteArray> queryReply(const QString& command, double timeout);
    // The time one character takes on the line at its baud rate.
    double characterTime() const;
    // The last read found a line that keeps sending.
    bool flooded() const { return m_flooded; }
    // The last ReadReply got a reply (not "False" for silence or a flood).
    bool lastReplyArrived() const { return m_replyArrived; }
    // Waits, without yielding when yield is false, for CTS or for the first
    // character of a reply; false when the time-out passes first.
    bool waitForCts(double timeout, bool yield);
    bool waitForReply(double timeout, bool yield);
    // "@", the axis address, the command, CR, written straight to the port.
    void writeFrame(const QString& command);
    // Text written straight to the port. Text that starts a frame ("@") is
    // kept apart from whatever the unit's buffer may still hold.
    void writeDirect(const QString& text);
    // The pace that no unit loses a character at.
    static constexpr double SurePace = 0.1;
    // `pace`: the pause after each character (the read-back after a send at
    // a faster pace asks at that pace).
    bool TransmitPaced(const QString& text, double timeout, bool showProgress = false,
                       double pace = SurePace);
    bool TransmitTerminalText(const QString& text);
    // The pause after the send's last character, counted from its write: the
    // time the write and the wake-up took is part of it. It is kept even
    // while the window closes, so that a send ends at the unit's pace.
    void pace(double seconds);

    // Closes the port and shows the unit as not connected.
    void disconnectUnit();
    // The connected unit changes: the unit at `axis` answered as `model`
    // (revision `revision`). It becomes the address every frame goes to, the
    // line is known to name it (its answer just came), and the status line
    // says so. A machine run moving along its units and a check use it.
    void takeUnit(const QString& axis, const QString& model, const QString& revision);
    // The address frames go to from now on, with no unit connected at it
    // until it is greeted (the Axis menu, kqmctl --axis). The port stays as
    // it is; nothing goes out.
    void chooseAddress(const QString& axis);
    // The port number and baud rate the next connect opens; the last
    // error of the one before is forgotten.
    void choosePort(int portNumber, int baudRate);
    // Why the port went away last, if it did during the current exchange.
    QString lostReason() const { return m_lostReason; }

    // "Stop Motion": never refused, never mixed into a frame. Outside a
    // program send the stop frame goes out at once, or, when a paced writer
    // is inside a frame, as soon as that frame is complete. During a program
    // send it asks the send to end; the send ends it cleanly (it finishes the
    // line, ends program entry, then writes the stop frame).
    void stopMotion();

    static constexpr double PollInterval = 0.01;
    static constexpr double BackgroundSettlePause = BackgroundQueries::SettlePause;

signals:
    void connectionStatusChanged(bool connected);
    // The paced transmitter's progress: started (sent 0), each character
    // when progress is shown, and ended.
    void progressStarted();
    void progressChanged(int sent, int total);
    void progressEnded();
    // Text for the end of the debug pane.
    void debugEcho(const QString& text);
    void busyChanged(bool busy);
    // Stop Motion, from wherever it came: work of many exchanges (a
    // machine's units) ends with the one at hand.
    void stopMotionRequested();

private:
    friend class Connection;   // opens the port and greets the unit
    friend class DebugCounter; // the debug tab's counter
    friend class Exchanges;
    friend class link::Exchange;
    friend class BackgroundQueries;
    friend class LineRecovery;
    friend class SendWriter;
    LinkState& writableState() { return m_state; }
    platform::SerialPort& port() { return m_port; }
    platform::Messages& messages() { return m_messages; }
    void ShowConnectionStatus();
    // The unit is not connected (any more), and the status line says so.
    void unitGone();
    void writePendingStop();
    // Every character for the unit goes out here, so the far end's state
    // follows it.
    void put(const QByteArray& bytes);
    // The port was opened: nothing is known of the far end yet.
    void portOpened();
    void lineFlooded();
    double deadlineFor(int bytes) const;
    void echo(const QString& text);
    void portLost(const QString& reason);
    bool SendPacedChar(QChar character, double timeout);
    bool SendTerminalChar(QChar character);
    // Waits in small sleeps until the condition holds or the time-out passes.
    bool waitFor(const std::function<bool()>& condition, double timeout, bool yield);
    // An exchange starts (the line is busy from here) and ends.
    void exchangeBegins();
    void exchangeEnds();

    platform::SerialPort& m_port;
    platform::Clock& m_clock;
    platform::Messages& m_messages;
    LinkState& m_state;
    bool m_insideFrame = false;
    bool m_sending = false;
    bool m_flooded = false;
    bool m_replyArrived = false;
    bool m_stopPending = false;
    QString m_lostReason;
    double m_lastSendWrite = -1; // when the send's last character was written
    // What the unit's buffer may hold, program entry, the unit last named.
    FarEnd m_far;
    Exchanges m_exchanges{*this, m_state, m_messages};
    BackgroundQueries m_background{*this};
    LineRecovery m_recovery{*this};
};

} // namespace kqm::link
