#include "link/connection.h"

#include "link/link.h"
#include "platform/messages.h"
#include "platform/serial_port.h"

namespace kqm::link {

using platform::MessageIcon;
using platform::SerialPort;

namespace {
constexpr int DefaultPort = 1;
constexpr int DefaultBaudRate = 9600;
} // namespace

QString didNotConnectMessage() {
    return QStringLiteral("The unit did not CONNECT.  \r\r") +
           QStringLiteral("Please check Baud Rate Setting, Baud Rate Switches, Axis Setting, ") +
           QStringLiteral("Cables, Com Port Setting and Power.");
}

QString leftStoringMessage(const QString& axis) {
    return QStringLiteral("The unit on axis %1 did not answer at first: it had been left storing a "
                          "program (a send to it was cut off). It answers again now, and what "
                          "that send left in its program memory has been cleared: send its "
                          "program again before you run it.")
        .arg(axis);
}

QString openFailedError(int port) {
    return QStringLiteral("Error Opening Com Port") + QString::number(port) +
           QStringLiteral(" - The com port is already open by another device (mouse, modem, "
                          "etc.) or it does not exist.");
}

QString openFailureInWords(const platform::SerialPort& port) {
    using Failure = platform::SerialPort::OpenFailure;
    const QString device = port.deviceName();
    const QString reason = port.errorString();
    switch (port.openFailure()) {
    case Failure::None:
        return QString();
    case Failure::NotFound:
        return QStringLiteral("%1: no such device").arg(device);
    case Failure::PermissionDenied:
        return QStringLiteral("%1: permission denied; add your user to the dialout group "
                              "(sudo usermod -aG dialout $USER), then log out and in again")
            .arg(device);
    case Failure::Busy:
        return QStringLiteral("%1: held by another program (close it there first)").arg(device);
    case Failure::Other:
        break;
    }
    // A device that is no serial port refuses the line's settings.
    if (reason.contains(QLatin1String("ioctl"), Qt::CaseInsensitive))
        return QStringLiteral("%1: not a serial port (%2)").arg(device, reason);
    return reason.isEmpty() ? QStringLiteral("%1: could not be opened").arg(device)
                            : QStringLiteral("%1: %2").arg(device, reason);
}

namespace {
// A stored number the link can hold: 1 to 32767.
std::optional<int> parsePositive16(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 32767)
        return std::nullopt;
    return value;
}
} // namespace

std::optional<int> parsePortNumber(const QString& text) {
    return parsePositive16(text);
}

std::optional<int> parseBaudRate(const QString& text) {
    return parsePositive16(text);
}

std::optional<UnitVersion> unitVersionOf(const QString& reply) {
    const QString model = reply.left(5);
    if (model != QLatin1String("KQM20") && model != QLatin1String("KQM21"))
        return std::nullopt;
    QString revision = reply.mid(7, 4);
    revision.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    return UnitVersion{model, revision.trimmed()};
}

int axisMenuItemFor(const QString& axisAddress) {
    if (axisAddress.isEmpty())
        return -1;
    const QChar first = axisAddress.at(0);
    if (first.isDigit() && first.unicode() < 128) {
        bool ok = false;
        const int index = axisAddress.toInt(&ok);
        return ok && index <= 31 ? index : -1;
    }
    const int letter = QStringLiteral("ABCDEF").indexOf(axisAddress);
    return axisAddress.size() == 1 && letter >= 0 ? 10 + letter : -1;
}

Connection::Connection(Link& link) : m_link(link) {}

bool Connection::OpenComPort(int baudRate, int portNumber) {
    SerialPort& port = m_link.port();
    LinkState& state = m_link.writableState();
    if (port.PortOpen()) {
        state.LastCommError = QStringLiteral("Com Port %1 is already open").arg(port.CommPort());
        return false;
    }
    port.setSettings(QStringLiteral("%1,N,8,1").arg(baudRate));
    state.BaudRate = baudRate; // the pace the replies' deadlines reckon with
    port.setCommPort(portNumber);
    if (port.open()) {
        m_link.portOpened();
        return true;
    }
    state.UnitConnected = false;
    if (port.openFailure() == SerialPort::OpenFailure::PermissionDenied) {
        state.LastCommError =
            QStringLiteral("Error Opening Com Port%1 - permission to use %2 was denied. Add your "
                           "user to the dialout group (sudo usermod -aG dialout $USER), then log "
                           "out and in again.")
                .arg(portNumber)
                .arg(port.deviceName());
    } else {
        // Which device, and what the system said of it.
        const QString reason = port.errorString();
        state.LastCommError =
            openFailedError(portNumber) +
            QStringLiteral(" (%1%2)").arg(
                port.deviceName(), reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    }
    return false;
}

bool Connection::IdentifyUnit(const QString& axisAddress) {
    SerialPort& port = m_link.port();
    LinkState& state = m_link.writableState();
    if (!port.PortOpen()) {
        state.LastCommError = NotOpenError;
        return false;
    }
    // The port going away mid-way, or the window closing, ends the attempt;
    // the error text stays what this attempt had (the box says what went
    // wrong, and the connect action adds no third box).
    const QString errorBefore = state.LastCommError;
    const auto interrupted = [&] {
        if (m_link.exchanges().abortRequested()) {
            state.UnitConnected = false;
            return true;
        }
        if (port.PortOpen())
            return false;
        if (m_link.flooded()) {
            // LastCommError says it; the connect action shows it once.
            state.UnitConnected = false;
            return true;
        }
        state.LastCommError = errorBefore;
        m_link.messages().show(MessageIcon::Critical, ConnectErrorMessage);
        state.UnitConnected = false;
        return true;
    };
    const auto frame = [&](const QString& command) {
        m_link.writeDirect(QStringLiteral("@") + axisAddress + command + QLatin1Char('\r'));
        m_link.Delay(0.5);
        return !interrupted();
    };

    if (m_link.ReplyPending()) {
        const QString stale = m_link.ReadReply();
        if (m_link.flooded()) {
            state.UnitConnected = false;
            return false;
        }
        m_link.messages().show(MessageIcon::None,
                               QStringLiteral("This data was in the serial port [") + stale +
                                   QLatin1Char(']'));
    }
    // The greeting's answer, or nothing when the attempt was interrupted;
    // empty when nothing answered the version query.
    const auto greet = [&]() -> std::optional<QString> {
        m_link.Delay(0.5);
        if (interrupted())
            return std::nullopt;
        // A lone CR first: whatever a cut-off frame left in the unit's
        // buffer becomes a frame of its own instead of swallowing the stop.
        m_link.writeDirect(QStringLiteral("\r"));
        if (!frame(QStringLiteral(".")) || !frame(QStringLiteral("!")))
            return std::nullopt;
        if (m_link.ReplyPending())
            m_link.ReadReply();
        if (interrupted() || !frame(QStringLiteral("$")))
            return std::nullopt;
        const QString answer = m_link.ReplyPending() ? m_link.ReadReply() : QString();
        if (interrupted())
            return std::nullopt;
        return answer;
    };
    std::optional<QString> answer = greet();
    if (!answer)
        return false;
    bool recovered = false;
    if (answer->isEmpty() && port.PortOpen()) {
        // No answer at all: the unit may be storing frames since a send to
        // it was cut off. Its entry is ended and it is greeted again.
        m_link.recovery().endUnknownEntry(axisAddress);
        if (interrupted() || !(answer = greet()))
            return false;
        recovered = unitVersionOf(*answer).has_value();
    }
    const QString reply = answer->isEmpty() ? QStringLiteral(" ") : *answer;
    if (recovered) {
        m_link.recovery().emptyProgramOf(axisAddress);
        m_link.messages().show(MessageIcon::Warning, leftStoringMessage(axisAddress));
    }
    const std::optional<UnitVersion> version = unitVersionOf(reply);
    state.UnitModel = version ? version->model : QStringLiteral("KQM20");
    state.UnitRevision = version ? version->revision : QString();
    if (version) {
        state.UnitConnected = true;
        m_link.ShowConnectionStatus();
        return true;
    }
    state.LastCommError = DidNotConnectError;
    state.UnitConnected = false;
    m_link.ShowConnectionStatus();
    return false;
}

void Connection::readPortSettings(const files::CommSettings& stored) {
    LinkState& state = m_link.writableState();
    state.ComPortNumber = parsePortNumber(stored.comPort).value_or(DefaultPort);
    state.BaudRate = parseBaudRate(stored.baudRate).value_or(DefaultBaudRate);
}

bool Connection::connectTo(int baudRate, int portNumber) {
    if (!OpenComPort(baudRate, portNumber))
        return false;
    return IdentifyUnit(m_link.state().AxisAddress);
}

bool Connection::openStoredPort(const files::CommSettings& stored) {
    readPortSettings(stored);
    const LinkState& state = m_link.writableState();
    return OpenComPort(state.BaudRate, state.ComPortNumber);
}

bool Connection::ConnectUnit(const files::CommSettings& stored) {
    const bool connected = openStoredPort(stored) && IdentifyUnit(m_link.state().AxisAddress);
    // The status line says how it went, answered or not.
    m_link.ShowConnectionStatus();
    return connected;
}

void Connection::reportConnectFailure() {
    platform::Messages& messages = m_link.messages();
    const QString& error = m_link.state().LastCommError;
    if (!error.isEmpty())
        messages.show(MessageIcon::None, error);
    // A line that keeps sending is said once: baud rate and cables are not
    // what is wrong with it.
    const bool flooded = m_link.flooded();
    m_link.disconnectUnit();
    if (!flooded)
        messages.show(MessageIcon::Critical, didNotConnectMessage());
}

int Connection::LoadCommSettings(const files::CommSettings& stored) {
    LinkState& state = m_link.writableState();
    platform::Messages& messages = m_link.messages();
    const QString& port = stored.comPort;
    const QString& baud = stored.baudRate;
    if (!parsePortNumber(port)) {
        messages.show(MessageIcon::Warning,
                      QStringLiteral("The serial port stored in the settings (\"%1\") is not a "
                                     "port number. COM %2 is used until you choose another under "
                                     "Communication Settings.")
                          .arg(port)
                          .arg(DefaultPort));
    }
    if (!parseBaudRate(baud)) {
        bool number = false;
        baud.trimmed().toLongLong(&number);
        messages.show(MessageIcon::Warning,
                      QStringLiteral("The baud rate stored in the settings (\"%1\") is %2. %3 "
                                     "baud is used until you choose another under "
                                     "Communication Settings.")
                          .arg(baud, number ? QStringLiteral("not a rate the serial port can use")
                                            : QStringLiteral("not a number"))
                          .arg(DefaultBaudRate));
    }
    readPortSettings(stored);

    QString axis = stored.axis.left(2);
    if (axis.size() == 2 && axis.at(1) == QLatin1Char(' '))
        axis.truncate(1);
    if (!axis.isEmpty() && axis.at(0).isDigit() && axisMenuItemFor(axis) < 0) {
        messages.show(MessageIcon::Warning,
                      QStringLiteral("The axis address stored in the settings (\"%1\") is not "
                                     "between 0 and 31. Axis 0 is used until you choose another "
                                     "in the Axis menu.")
                          .arg(axis));
        axis = QStringLiteral("0");
    }
    state.AxisAddress = axis;
    return axisMenuItemFor(axis);
}

bool Connection::connectAction(const files::CommSettings& stored) {
    LinkState& state = m_link.writableState();
    if (state.UnitConnected)
        m_link.disconnectUnit();
    state.LastCommError.clear();
    if (ConnectUnit(stored)) {
        m_link.ShowConnectionStatus();
        return true;
    }
    if (m_link.exchanges().abortRequested()) {
        m_link.disconnectUnit();
        return false;
    }
    reportConnectFailure();
    return false;
}

int Connection::chooseAxis(int index) {
    LinkState& state = m_link.writableState();
    m_link.chooseAddress(QString::number(index));
    // The user chose to end the connection: nothing failed.
    state.LastCommError.clear();
    if (m_link.isPortOpen())
        m_link.disconnectUnit();
    return index;
}

} // namespace kqm::link
