#pragma once

#include "link/far_end.h"
#include "link/link_state.h"

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
inline const QString BusyMessage =
    QStringLiteral("The unit is busy with another exchange. Please wait until it has finished.");

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
// paced writes, reading replies, the connection label and the busy state that
// keeps two exchanges from mixing their characters on the wire. Every wait
// sleeps through the clock; none spins the processor.
class Link : public QObject {
    Q_OBJECT
public:
    Link(platform::SerialPort& port, platform::Clock& clock, platform::Messages& messages,
         LinkState& state, QObject* parent = nullptr);
    ~Link() override;

    // Read-only: what changes it are the link's own operations (below) and
    // the connection's greeting.
    const LinkState& state() const { return m_state; }
    platform::Messages& messages() { return m_messages; }
    bool isPortOpen() const;
    platform::Clock& clock() { return m_clock; }
    // The device that the port stands for, for messages.
    QString deviceName() const;
    // The unit on the port is the built-in simulated one.
    bool isSimulated() const;

    void Delay(double seconds);
    bool ReplyPending();
    QString ReadReply();
    // ReadReply for the unit's listing, which may be as long as a program.
    QString readListingReply();
    // Waits until the receive count stays the same across a pause, then
    // returns everything received. Past maxBytes, or past the time the line
    // needs to carry that many, the line is taken as flooded: the port is
    // closed, the reason kept, and nothing returned.
    QByteArray readSettled(double pause, int maxBytes);
    // The same for a reply that ends with `endMark`: once the mark has
    // arrived, a short quiet (for anything trailing it) ends the wait
    // instead of the whole pause.
    QByteArray readUntilMark(char endMark, double pause, int maxBytes);
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

    // The far end of the line, as far as what was written tells. Every
    // writer goes through the link, so these are always up to date.
    // The unit's buffer may hold part of a frame: a half-typed Terminal
    // frame, or a send whose characters may have been lost on the way.
    bool frameMayBeOpen() const { return m_far.frameMayBeOpen(); }
    // Program entry was opened and no quit frame is known to have ended it.
    bool programEntryMayBeOpen() const { return m_far.entryMayBeOpen(); }
    // The axis that the last addressed frame on the line named (empty:
    // unknown); the upload request, which has no address, goes to it.
    QString addressedAxis() const { return m_far.addressedAxis(); }
    // A lone carriage return when a frame may be open: the unit takes it as
    // an empty frame, and what follows is a frame of its own.
    void closeOpenFrame();
    // Ends program entry: a lone CR, the quit frame at the sure pace, then
    // identification. True when the unit answered it (it is out of entry).
    bool endProgramEntry();
    // A unit at `axis` that did not answer may be storing frames since a
    // send that was cut off (another process, a pulled cable): a lone CR and
    // the quit frame at the sure pace end such an entry. The caller greets
    // the unit again.
    void endUnknownEntry(const QString& axis);
    // A unit found storing frames holds part of a program and the frames
    // that reached it since: its memory is emptied (the opening frame, then
    // the quit frame, at the sure pace), as a stopped send leaves it, so
    // that half a program can never run.
    void emptyProgramOf(const QString& axis);
    // The read-back showed the whole program with its quit: entry is over.
    void programEntryEnded() { m_far.entryEnded(); }
    // When the last addressed frame named another unit, the connected unit
    // is named again (its identification, reply read) so that the upload
    // request reaches it. False when it did not answer.
    bool nameConnectedUnit();
    // The pace that no unit loses a character at.
    static constexpr double SurePace = 0.1;
    bool SendPacedChar(QChar character, double timeout);
    // `pace`: the pause after each character (the read-back after a send at
    // a faster pace asks at that pace).
    bool TransmitPaced(const QString& text, double timeout, bool showProgress = false,
                       double pace = SurePace);
    bool SendTerminalChar(QChar character);
    bool TransmitTerminalText(const QString& text);
    void ReportNotConnected();
    void ShowConnectionStatus();
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
    // The port number and baud rate the next connect opens.
    void choosePort(int portNumber, int baudRate);
    void clearLastError() { m_state.LastCommError.clear(); }
    // Why the port went away last, if it did during the current exchange.
    QString lostReason() const { return m_lostReason; }
    // Appends text to the debug pane when the debug echo is on.
    void echoToDebug(const QString& text) { echo(text); }

    // The busy state: one exchange at a time.
    bool isBusy() const { return m_busy; }
    // What the user is told while the line is busy: what runs, when a long
    // exchange holds it.
    QString busyMessage() const;
    // Shows the busy message and returns true when an exchange is running.
    // A background query does not count: it gives way (see queryInBackground).
    bool refuseWhenBusy();
    // While an exchange is being confirmed (its dialog is open), the port
    // and the axis it is aimed at stay as they are.
    void holdTarget(bool held) { m_targetHeld = held; }
    bool targetHeld() const { return m_targetHeld; }
    // Shows why and returns true when the port or axis may not change now:
    // an exchange runs, or one is being confirmed.
    bool refuseTargetChange();
    // Ends the running exchange at its next wait (the window is closing).
    void requestAbort() { m_abort = true; }
    bool abortRequested() const { return m_abort; }
    // Asks a running program send to end after its current character.
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

    // "Stop Motion": never refused, never mixed into a frame. Outside a
    // program send the stop frame goes out at once, or, when a paced writer
    // is inside a frame, as soon as that frame is complete. During a program
    // send it asks the send to end; the send ends it cleanly (it finishes the
    // line, ends program entry, then writes the stop frame).
    void stopMotion();

    // The program send's writer: one character per write, straight into the
    // port (no CTS, no echo).
    enum class SendStep { Written, PortClosed };
    // A pace faster than the sure pace may lose characters: afterwards the
    // unit's buffer and program entry are uncertain until ended.
    void beginSend(double pace = SurePace);
    SendStep writeSendCharacter(QChar character);
    void endSend();
    // Stop Motion was pressed or the window is closing.
    bool sendInterrupted() const { return m_stop || m_abort; }
    // The send's pause between characters: it is kept even while the window
    // closes, so that a send ends at the unit's pace.
    void pace(double seconds);

    // One exchange with the unit at a time; the line is free again when the
    // exchange object ends. Starting one takes the line from a background
    // query (see queryInBackground).
    class Exchange {
    public:
        explicit Exchange(Link& link);
        ~Exchange();
        Exchange(Exchange&& other) noexcept : m_link(other.m_link) { other.m_link = nullptr; }
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;
        Exchange& operator=(Exchange&&) = delete;

    private:
        Link* m_link;
    };
    // Work of many exchanges (a machine run, a pace test) holds the line as
    // one long exchange: the busy state stays on between its own exchanges,
    // which begin within it (tryBeginWithin), and anything else that would
    // write to the unit is refused, being told what runs. Stop Motion ends
    // the whole of it.
    class LongExchange {
    public:
        LongExchange(Link& link, const QString& what);
        ~LongExchange();
        LongExchange(LongExchange&& other) noexcept : m_link(other.m_link), m_id(other.m_id) {
            other.m_link = nullptr;
        }
        LongExchange(const LongExchange&) = delete;
        LongExchange& operator=(const LongExchange&) = delete;
        LongExchange& operator=(LongExchange&&) = delete;

        // Stop Motion was pressed since it began (or since forgetStop).
        bool stopped() const;
        // A Stop already acted on: only the next one counts (a pace test
        // sends the unit's own program back after the Stop that ended it).
        void forgetStop();

    private:
        friend class Link;
        Link* m_link;
        int m_id;
    };
    // Starts a long exchange, or shows why not and returns nothing.
    std::optional<LongExchange> tryBeginLong(const QString& what);
    // What holds the line as a long exchange ("a machine run"); empty when
    // nothing does.
    const QString& longWork() const { return m_longWork; }

    // Starts an exchange when a unit is connected and no other exchange
    // runs; otherwise shows why (the not-connected or the busy message) and
    // returns nothing.
    std::optional<Exchange> tryBegin();
    // The same for exchanges that need the line but no identified unit
    // (connecting, choosing settings). `within`: the long exchange that
    // holds the line, whose own exchange this is.
    std::optional<Exchange> tryBeginWithoutUnit(const LongExchange* within = nullptr);

    // A short query that runs between the user's actions (following the
    // position while the motor moves) and gives way to them: an action that
    // needs the line meanwhile is not refused, it takes the line over. The
    // frame is always whole on the wire before anything else can run; the
    // taker lets the query's reply arrive and drops it before its own first
    // frame, so that reply is never read as the answer to the taker's query.
    // The query then ends as GaveWay without reading anything more.
    enum class BackgroundOutcome {
        Answered,
        Silent,   // no reply within the short time-out
        GaveWay,  // a user's action took the line over
        LineBusy, // another exchange runs, or no unit is connected: not asked
        Lost,     // the port went away or the line kept sending
    };
    struct BackgroundReply {
        BackgroundOutcome outcome;
        QString text;
    };
    // `axis`: another unit on the line than the current one.
    BackgroundReply queryInBackground(const QString& command, const QString& axis = QString());
    bool backgroundRunning() const { return m_background; }
    // How long a background query waits for the first character of its reply.
    double backgroundTimeout() const;

    static constexpr double PollInterval = 0.01;
    static constexpr double BackgroundSettlePause = 0.05;

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
    LinkState& writableState() { return m_state; }
    platform::SerialPort& port() { return m_port; }
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
    // Waits in small sleeps until the condition holds or the time-out passes.
    bool waitFor(const std::function<bool()>& condition, double timeout, bool yield);
    // A user's exchange starts: a background query in progress stops, and
    // its reply, if one is on its way, is let in and dropped; so is the late
    // reply to one that went unanswered.
    void takeLineFromBackground();
    BackgroundReply endBackground(BackgroundOutcome outcome, const QString& text = QString());

    platform::SerialPort& m_port;
    platform::Clock& m_clock;
    platform::Messages& m_messages;
    LinkState& m_state;
    bool m_busy = false;
    bool m_inExchange = false; // an exchange runs (a long one's own, or any other)
    int m_longId = 0;          // the long exchange that holds the line; 0: none
    int m_lastLongId = 0;
    QString m_longWork;
    bool m_longStop = false;
    bool m_targetHeld = false;
    bool m_abort = false;
    bool m_stop = false;
    bool m_insideFrame = false;
    bool m_sending = false;
    bool m_flooded = false;
    bool m_replyArrived = false;
    bool m_stopPending = false;
    bool m_background = false;
    bool m_backgroundTakenOver = false;
    // The background query's frame went out and its reply is not yet read.
    bool m_backgroundAwaitingReply = false;
    double m_backgroundSentAt = 0.0;
    bool m_backgroundUnanswered = false;
    QString m_lostReason;
    double m_lastSendWrite = -1; // when the send's last character was written
    // What the unit's buffer may hold, program entry, the unit last named.
    FarEnd m_far;
};

} // namespace kqm::link
