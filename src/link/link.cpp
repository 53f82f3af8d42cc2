#include "link/link.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/serial_port.h"

#include <algorithm>
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
    if (m_exchanges.abortRequested())
        return;
    m_clock.Delay(seconds);
}

bool Link::waitFor(const std::function<bool()>& condition, double timeout, bool yield) {
    const double start = m_clock.now();
    while (!condition()) {
        if (m_exchanges.abortRequested() || m_clock.now() - start > timeout)
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

QString Link::ReadReply(int maxBytes) {
    m_replyArrived = false;
    if (!waitForReply(0.5, true)) {
        if (!m_flooded)
            m_state.LastCommError = NoDataError;
        return QStringLiteral("False");
    }
    const QByteArray reply = readSettled(0.1, maxBytes);
    m_replyArrived = !m_flooded;
    return m_flooded ? QStringLiteral("False") : QString::fromLatin1(reply);
}

double Link::characterTime() const {
    return 10.0 / (m_state.BaudRate > 0 ? m_state.BaudRate : 9600);
}

std::optional<QByteArray> Link::queryReply(const QString& command, double timeout) {
    m_replyArrived = false;
    if (!m_port.PortOpen())
        return std::nullopt;
    // What waits in the receive buffer answers nothing asked now.
    if (m_port.InBufferCount() > 0)
        m_port.Input();
    writeFrame(command);
    // A look a character's time; never more often than a millisecond. No
    // answer can begin before the frame is out: the first look waits for it.
    const double look = std::max(0.001, characterTime());
    const double sent = m_clock.now();
    m_clock.Delay((3 + m_state.AxisAddress.size() + command.size()) * characterTime());
    while (m_port.PortOpen() && m_port.InBufferCount() == 0) {
        if (m_exchanges.abortRequested() || m_clock.now() - sent > timeout) {
            if (m_port.PortOpen())
                m_state.LastCommError = NoDataError;
            return std::nullopt;
        }
        m_clock.Delay(look);
    }
    if (!m_port.PortOpen())
        return std::nullopt;
    const double quiet = 4 * characterTime() + 0.002;
    const double deadline = m_clock.now() + deadlineFor(MaxQueryReplyBytes);
    QByteArray reply;
    double grown = m_clock.now();
    while (m_port.PortOpen()) {
        if (m_port.InBufferCount() > 0) {
            reply += m_port.Input();
            grown = m_clock.now();
        }
        if (reply.size() > MaxQueryReplyBytes || m_clock.now() > deadline) {
            lineFlooded();
            return std::nullopt;
        }
        if (reply.endsWith('\r') || m_clock.now() - grown >= quiet || m_exchanges.abortRequested())
            break;
        m_clock.Delay(look);
    }
    m_replyArrived = true;
    return reply;
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
    while (current != previous && !m_exchanges.abortRequested()) {
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
    while (!m_exchanges.abortRequested()) {
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
    echo(QString::fromLatin1(text).remove(QLatin1Char('\r')).remove(QLatin1Char('\n')) +
         QStringLiteral("\r\n"));
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
        m_recovery.closeOpenFrame();
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
    m_recovery.closeOpenFrame();
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

void Link::unitGone() {
    m_state.UnitConnected = false;
    ShowConnectionStatus();
}

void Link::disconnectUnit() {
    // A unit is never left deaf in program entry on purpose; only a port
    // that is gone leaves it so.
    if (m_port.PortOpen() && m_far.entryMayBeOpen() && !m_sending)
        m_recovery.endProgramEntry();
    if (m_port.PortOpen())
        m_port.Close();
    unitGone();
}

void Link::stopMotion() {
    emit stopMotionRequested();
    // The running exchange learns of it at its next step, whatever it is;
    // a long exchange ends with the one at hand.
    m_exchanges.stopPressed();
    if (m_sending)
        return;
    if (m_insideFrame || (m_far.entryMayBeOpen() && m_exchanges.isBusy())) {
        // After the frame being written; after the end of program entry,
        // where a stop frame would only be stored.
        m_stopPending = true;
        m_exchanges.requestStop();
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
        m_recovery.endProgramEntry();
    writeFrame(QStringLiteral("."));
}

void Link::pace(double seconds) {
    // From one character's write to the next: the time the write itself
    // and the wake-up take is part of the pause, not added to it.
    const double left = m_lastSendWrite < 0 ? seconds : m_lastSendWrite + seconds - m_clock.now();
    m_lastSendWrite = -1;
    if (left > 0)
        m_clock.Delay(left);
}

void Link::exchangeBegins() {
    m_stopPending = false;
    m_lostReason.clear();
    m_flooded = false;
    m_exchanges.setBusy(true);
    m_background.takeLine();
    // Nothing else goes out while the unit may still be in program entry.
    if (m_far.entryMayBeOpen() && m_port.PortOpen())
        m_recovery.endProgramEntry();
}

void Link::exchangeEnds() {
    if (m_far.entryMayBeOpen() && m_port.PortOpen() && !m_sending)
        m_recovery.endProgramEntry();
    writePendingStop();
    m_insideFrame = false;
}

// Every character for the unit goes out here, so the far end follows it.
void Link::put(const QByteArray& bytes) {
    if (!m_port.PortOpen())
        return;
    m_port.Output(bytes);
    m_far.written(bytes);
}

void Link::portOpened() {
    m_far.portOpened();
}

void Link::takeUnit(const QString& axis, const QString& model, const QString& revision) {
    m_state.AxisAddress = axis;
    m_state.UnitModel = model;
    m_state.UnitRevision = revision;
    m_state.UnitConnected = true;
    // The unit's answer has just come: the line names it unless something
    // was written since.
    if (m_far.addressedAxis() != axis)
        m_recovery.nameConnectedUnit();
    ShowConnectionStatus();
}

void Link::chooseAddress(const QString& axis) {
    if (m_state.AxisAddress == axis)
        return;
    m_state.AxisAddress = axis;
    if (m_state.UnitConnected) {
        m_state.UnitConnected = false;
        ShowConnectionStatus();
    }
}

void Link::choosePort(int portNumber, int baudRate) {
    m_state.ComPortNumber = portNumber;
    m_state.BaudRate = baudRate;
    m_state.LastCommError.clear();
}

} // namespace kqm::link
