#include "link/link.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/serial_port.h"

#include <cmath>

namespace kqm::link {

using platform::MessageIcon;

QString notConnectedMessage() {
    return QStringLiteral(
        "The KQM20 unit is not connected!  \r\n\r\n"
        "The KQM20 unit must be ONLINE before you can send any information. \r\n"
        "Go to the Setup Menu to configure the Com Port and CONNECT to the unit.");
}

QString lineKeepsSendingMessage(const QString& device) {
    return QStringLiteral("The line on %1 keeps sending data, so no reply could be read: another "
                          "device is on this port, or the line picks up noise. The port was "
                          "closed; check what is connected to it and the Communication "
                          "Settings.")
        .arg(device);
}

QString transmittingCaption(int sent, int total) {
    const long percent = total > 0 ? std::lround(100.0 * sent / total) : 0;
    return QStringLiteral(" TRANSMITTING: ") +
           (percent == 0 ? QStringLiteral("%") : QString::number(percent) + QLatin1Char('%'));
}

Link::Link(platform::SerialPort& port, platform::Clock& clock, platform::Messages& messages,
           LinkState& state, QObject* parent)
    : QObject(parent), m_port(port), m_clock(clock), m_messages(messages), m_state(state) {
    m_port.setLostHandler([this](const QString& reason) { portLost(reason); });
}

Link::~Link() {
    m_port.setLostHandler({});
}

void Link::portLost(const QString& reason) {
    m_state.LastCommError =
        QStringLiteral("The serial device %1 is gone (%2).").arg(m_port.deviceName(), reason);
    m_lostReason = m_state.LastCommError;
    m_state.UnitConnected = false;
    ShowConnectionStatus();
}

bool Link::isPortOpen() const {
    return m_port.PortOpen();
}

bool Link::isSimulated() const {
    return m_port.simulated();
}

QString Link::deviceName() const {
    return m_port.deviceName();
}

void Link::Delay(double seconds) {
    if (m_abort)
        return;
    m_clock.Delay(seconds);
}

bool Link::waitFor(const std::function<bool()>& condition, double timeout, bool yield) {
    const double start = m_clock.now();
    while (!condition()) {
        if (m_abort || m_clock.now() - start > timeout)
            return false;
        if (yield)
            m_clock.Delay(PollInterval);
        else
            m_clock.waitWithoutYield(PollInterval);
    }
    return true;
}

bool Link::ReplyPending() {
    return m_port.PortOpen() && m_port.InBufferCount() > 0;
}

QString Link::ReadReply() {
    m_replyArrived = false;
    if (!waitForReply(0.5, true)) {
        if (!m_flooded)
            m_state.LastCommError = NoDataError;
        return QStringLiteral("False");
    }
    const QByteArray reply = readSettled(0.1, MaxQueryReplyBytes);
    m_replyArrived = !m_flooded;
    return m_flooded ? QStringLiteral("False") : QString::fromLatin1(reply);
}

QString Link::readListingReply() {
    if (!waitForReply(0.5, true)) {
        if (!m_flooded)
            m_state.LastCommError = NoDataError;
        return QStringLiteral("False");
    }
    return QString::fromLatin1(readSettled(0.1, MaxProgramReplyBytes));
}

double Link::deadlineFor(int bytes) const {
    // Ten bits a character at the line's rate, and two seconds of grace.
    const int baud = m_state.BaudRate > 0 ? m_state.BaudRate : 9600;
    return 2.0 + bytes * 10.0 / baud;
}

QByteArray Link::readSettled(double pause, int maxBytes) {
    const double deadline = m_clock.now() + deadlineFor(maxBytes);
    int previous = 0;
    int current = m_port.InBufferCount();
    while (current != previous && !m_abort) {
        if (current > maxBytes || m_clock.now() > deadline) {
            lineFlooded();
            return {};
        }
        previous = m_port.InBufferCount();
        Delay(pause);
        current = m_port.InBufferCount();
    }
    if (current > maxBytes) {
        lineFlooded();
        return {};
    }
    return m_port.Input();
}

QByteArray Link::readUntilMark(char endMark, double pause, int maxBytes) {
    // Long enough for a CR or two after the mark at any baud rate the unit
    // takes; a mark inside the reply is followed by more at once.
    constexpr double QuietAfterMark = 0.05;
    const double deadline = m_clock.now() + deadlineFor(maxBytes);
    QByteArray text;
    double grown = m_clock.now();
    while (!m_abort) {
        if (m_port.InBufferCount() > 0) {
            text += m_port.Input();
            grown = m_clock.now();
        }
        if (text.size() > maxBytes || m_clock.now() > deadline) {
            lineFlooded();
            return {};
        }
        const double quiet = text.endsWith(endMark) ? QuietAfterMark : pause;
        if (m_clock.now() - grown >= quiet - 1e-9)
            break;
        Delay(PollInterval);
    }
    return text;
}

void Link::lineFlooded() {
    m_flooded = true;
    m_state.LastCommError = lineKeepsSendingMessage(m_port.deviceName());
    m_lostReason = m_state.LastCommError;
    if (m_port.PortOpen())
        m_port.Close();
    m_state.UnitConnected = false;
    ShowConnectionStatus();
}

bool Link::waitForCts(double timeout, bool yield) {
    return waitFor([this] { return m_port.PortOpen() && m_port.CTSHolding(); }, timeout, yield);
}

bool Link::waitForReply(double timeout, bool yield) {
    // A port that closes meanwhile (lost, or found flooded) ends the wait.
    waitFor([this] { return ReplyPending() || !m_port.PortOpen(); }, timeout, yield);
    return ReplyPending();
}

void Link::writeDirect(const QString& text) {
    if (text.startsWith(QLatin1Char('@')))
        closeOpenFrame();
    put(text.toLatin1());
}

void Link::writeFrame(const QString& command) {
    // In pieces, as the unit is used to receiving them; no pause between.
    writeDirect(QStringLiteral("@"));
    writeDirect(m_state.AxisAddress);
    writeDirect(command);
    writeDirect(QStringLiteral("\r"));
}

void Link::echo(const QString& text) {
    if (m_state.debugEchoOn())
        emit debugEcho(text);
}

bool Link::SendPacedChar(QChar character, double timeout) {
    if (!waitForCts(timeout, true)) {
        m_state.LastCommError = CtsBusyError;
        m_port.Close();
        m_state.UnitConnected = false;
        ShowConnectionStatus();
        return false;
    }
    put(QByteArray(1, static_cast<char>(character.toLatin1())));
    echo(QString(character).toLower());
    if (!waitFor([this] { return m_port.OutBufferCount() < 1; }, timeout, true)) {
        m_state.LastCommError = NotAcceptedError;
        return false;
    }
    return true;
}

bool Link::TransmitPaced(const QString& text, double timeout, bool showProgress, double pace) {
    const auto finish = [this] {
        emit progressEnded();
    };
    emit progressStarted();
    closeOpenFrame();
    m_insideFrame = true;
    for (int i = 0; i < text.size(); ++i) {
        if (showProgress)
            emit progressChanged(i + 1, static_cast<int>(text.size()));
        if (!SendPacedChar(text.at(i), timeout)) {
            finish();
            writePendingStop();
            return false;
        }
        Delay(pace);
    }
    Delay(pace);
    finish();
    echo(QStringLiteral("\r\n"));
    const bool sent = SendPacedChar(QLatin1Char('\r'), timeout);
    m_insideFrame = !sent;
    writePendingStop();
    m_insideFrame = false;
    return sent;
}

bool Link::SendTerminalChar(QChar character) {
    constexpr double timeout = 0.5;
    const auto fail = [this](const QString& error) {
        m_state.LastCommError = error;
        m_messages.show(MessageIcon::None, error);
        return false;
    };
    if (!waitForCts(timeout, false))
        return fail(CtsBusyError);
    put(QByteArray(1, static_cast<char>(character.toLatin1())));
    echo(QString(character).toLower());
    const bool written = waitFor(
        [this] {
            m_port.waitForWritten(0);
            return m_port.OutBufferCount() < 1;
        },
        timeout, false);
    return written || fail(NotAcceptedError);
}

bool Link::TransmitTerminalText(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar character : text) {
        if (!SendTerminalChar(character))
            return false;
    }
    return true;
}

void Link::ShowConnectionStatus() {
    emit connectionStatusChanged(m_state.UnitConnected);
}

void Link::ReportNotConnected() {
    m_state.UnitConnected = false;
    ShowConnectionStatus();
    m_messages.show(MessageIcon::None, notConnectedMessage());
}

void Link::disconnectUnit() {
    // A unit is never left deaf in program entry on purpose; only a port
    // that is gone leaves it so.
    if (m_port.PortOpen() && m_far.entryMayBeOpen() && !m_sending)
        endProgramEntry();
    if (m_port.PortOpen())
        m_port.Close();
    m_state.UnitConnected = false;
    ShowConnectionStatus();
}

void Link::stopMotion() {
    emit stopMotionRequested();
    // The running exchange learns of it at its next step, whatever it is;
    // a long exchange ends with the one at hand.
    if (m_busy)
        m_stop = true;
    if (m_longId != 0)
        m_longStop = true;
    if (m_sending)
        return;
    if (m_insideFrame || (m_far.entryMayBeOpen() && m_busy)) {
        // After the frame being written; after the end of program entry,
        // where a stop frame would only be stored.
        m_stopPending = true;
        m_stop = true;
        return;
    }
    if (m_far.entryMayBeOpen()) {
        // An exchange of its own ends the entry first (its waits may let
        // another Stop in, which then waits too), and the stop follows as it
        // ends.
        Exchange ending(*this);
        m_stopPending = true;
        return;
    }
    writeFrame(QStringLiteral("."));
}

void Link::writePendingStop() {
    if (!m_stopPending)
        return;
    m_stopPending = false;
    m_insideFrame = false;
    if (m_far.entryMayBeOpen() && !m_sending)
        endProgramEntry();
    writeFrame(QStringLiteral("."));
}

void Link::beginSend(double pace) {
    m_sending = true;
    m_far.sendBegan(pace < SurePace - 1e-9);
}

Link::SendStep Link::writeSendCharacter(QChar character) {
    if (!m_port.PortOpen())
        return SendStep::PortClosed;
    // Nothing is read during a send: what arrives is dropped, so a line that
    // keeps sending cannot fill memory.
    if (m_port.InBufferCount() > 0)
        m_port.Input();
    // A pace faster than the sure one still lets a unit hold the line with
    // CTS (at most half a second a character, as the paced writer waits).
    if (m_far.fastSend() && !m_port.CTSHolding())
        waitForCts(0.5, true);
    put(QByteArray(1, character.toLatin1()));
    // Out of Qt's buffer now, not at the next wait: the pace counts from
    // here, so two characters never leave closer together than the pace.
    m_port.waitForWritten(0);
    m_lastSendWrite = m_clock.now();
    return SendStep::Written;
}

void Link::endSend() {
    m_sending = false;
    // Any character of a faster send may have been lost, a CR or the quit
    // among them.
    m_far.sendEnded();
}

void Link::pace(double seconds) {
    // From one character's write to the next: the time the write itself
    // and the wake-up take is part of the pause, not added to it.
    const double left = m_lastSendWrite < 0 ? seconds : m_lastSendWrite + seconds - m_clock.now();
    m_lastSendWrite = -1;
    if (left > 0)
        m_clock.Delay(left);
}

bool Link::refuseWhenBusy() {
    if (!m_busy && m_background && !m_backgroundTakenOver) {
        // The action may write to the line: the background query gives way
        // first. Should the window start to close meanwhile, the action is
        // dropped.
        Exchange settle(*this);
        return m_abort;
    }
    if (!m_busy)
        return false;
    m_messages.show(MessageIcon::Information, busyMessage());
    return true;
}

bool Link::refuseTargetChange() {
    if (m_targetHeld) {
        m_messages.show(MessageIcon::Information,
                        QStringLiteral("A send is waiting for your confirmation: the port and "
                                       "the axis stay as they are until its dialog is closed."));
        return true;
    }
    return refuseWhenBusy();
}

double Link::backgroundTimeout() const {
    // The frame out and a short reply back at the line's rate, and as long
    // for the unit to start answering as any other query allows: a reply
    // that comes later than the query waits would be read as the answer to
    // the next exchange.
    const int baud = m_state.BaudRate > 0 ? m_state.BaudRate : 9600;
    return 0.55 + 16 * 10.0 / baud;
}

Link::BackgroundReply Link::endBackground(BackgroundOutcome outcome, const QString& text) {
    m_background = false;
    m_backgroundTakenOver = false;
    m_backgroundAwaitingReply = false;
    return {outcome, text};
}

Link::BackgroundReply Link::queryInBackground(const QString& command, const QString& axis) {
    using Outcome = BackgroundOutcome;
    if (m_busy || m_background || !m_state.UnitConnected || !m_port.PortOpen() ||
        m_far.entryMayBeOpen())
        return {Outcome::LineBusy, QString()};
    m_background = true;
    m_backgroundTakenOver = false;
    // What waits in the receive buffer answers nothing that is asked now.
    if (m_port.InBufferCount() > 0)
        m_port.Input();
    m_backgroundUnanswered = false;
    if (axis.isEmpty()) {
        writeFrame(command);
    } else {
        writeDirect(QStringLiteral("@") + axis + command + QLatin1Char('\r'));
    }
    m_backgroundAwaitingReply = true;
    m_backgroundSentAt = m_clock.now();
    // The waits sleep through the clock itself: an abort meant for a user's
    // exchange is not this query's business. Any of them may run a user's
    // whole action; after each, the query looks whether it still has the line.
    const auto gaveWay = [this] {
        return m_backgroundTakenOver || !m_port.PortOpen();
    };
    const double timeout = backgroundTimeout();
    while (!gaveWay() && m_port.InBufferCount() == 0 &&
           m_clock.now() - m_backgroundSentAt <= timeout)
        m_clock.Delay(PollInterval);
    if (m_backgroundTakenOver)
        return endBackground(Outcome::GaveWay);
    if (!m_port.PortOpen())
        return endBackground(Outcome::Lost);
    if (m_port.InBufferCount() == 0) {
        m_state.LastCommError = NoDataError;
        m_backgroundUnanswered = true;
        return endBackground(Outcome::Silent);
    }
    const double deadline = m_clock.now() + deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1;;) {
        const int count = m_port.InBufferCount();
        if (count == previous)
            break;
        if (count > MaxQueryReplyBytes || m_clock.now() > deadline) {
            lineFlooded();
            return endBackground(Outcome::Lost);
        }
        previous = count;
        m_clock.Delay(BackgroundSettlePause);
        if (m_backgroundTakenOver)
            return endBackground(Outcome::GaveWay);
        if (!m_port.PortOpen())
            return endBackground(Outcome::Lost);
    }
    return endBackground(Outcome::Answered, QString::fromLatin1(m_port.Input()));
}

void Link::takeLineFromBackground() {
    // A background query that went unanswered may have been answered late:
    // that reply answers nothing asked from now on.
    if (m_backgroundUnanswered && ReplyPending())
        m_port.Input();
    m_backgroundUnanswered = false;
    if (!m_background || m_backgroundTakenOver)
        return;
    m_backgroundTakenOver = true;
    if (!m_backgroundAwaitingReply)
        return;
    m_backgroundAwaitingReply = false;
    // Its reply is answered to nobody now; let it in and drop it. A unit
    // that stays silent is waited for no longer than the query would have.
    const double left = m_backgroundSentAt + backgroundTimeout() - m_clock.now();
    if (!waitFor([this] { return ReplyPending() || !m_port.PortOpen(); }, left, true))
        return;
    const double deadline = m_clock.now() + deadlineFor(MaxQueryReplyBytes);
    for (int previous = -1; m_port.PortOpen() && !m_abort && m_clock.now() <= deadline;) {
        const int count = m_port.InBufferCount();
        if (count == previous)
            break;
        previous = count;
        m_clock.Delay(BackgroundSettlePause);
    }
    if (m_port.PortOpen())
        m_port.Input();
}

} // namespace kqm::link
