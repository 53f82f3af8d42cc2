#pragma once

#include <QString>

#include <array>
#include <optional>

#include "files/settings_table.h"
#include "platform/serial_port.h"

namespace kqm::link {

// The rates the unit's line runs at, slowest first.
inline constexpr std::array<int, 6> UnitBaudRates = {300, 600, 1200, 2400, 4800, 9600};
// Why a rate given on a command line is none of them; nothing when it is one.
inline std::optional<QString> baudRefusal(const QString& given) {
    // Written as the rate is, digits only: " 9600", "+9600" and "09600" are not.
    for (const int rate : UnitBaudRates) {
        if (given == QString::number(rate))
            return std::nullopt;
    }
    return QStringLiteral("--baud takes a rate the unit runs at: 300, 600, 1200, 2400, 4800 or "
                          "9600 (not %1)")
        .arg(given);
}

class Link;

inline const QString NotOpenError = QStringLiteral("The Com Port is not Open!");
inline const QString DidNotConnectError = QStringLiteral("Did Not Connect");
inline const QString ConnectErrorMessage =
    QStringLiteral("An Error occurred while trying to connect");
QString didNotConnectMessage();
QString openFailedError(int port);
// Why the port did not open, the device first, in the system's words: what
// a command line says, where the device was typed and no port number is.
// Empty when the port did not fail to open.
QString openFailureInWords(const platform::SerialPort& port);
// Said when a unit answers only after its program entry was ended.
QString leftStoringMessage(const QString& axis);

// What a unit tells of itself in its answer to "$" ("KQM20  1.65"): a unit
// is recognised only when the first five characters are exactly a model's
// name; the revision is characters 8 to 11.
struct UnitVersion {
    QString model;
    QString revision;
};
std::optional<UnitVersion> unitVersionOf(const QString& reply);

// Reads a stored port number or baud rate; nullopt when it is not a number
// the link can use.
std::optional<int> parsePortNumber(const QString& text);
std::optional<int> parseBaudRate(const QString& text);
// The Axis menu item that a stored axis address checks, or -1 for none.
int axisMenuItemFor(const QString& axisAddress);

// Connecting to the unit and telling which model it is, the Axis menu's
// choice of address, and the start-up loading of the link settings.
class Connection {
public:
    explicit Connection(Link& link);

    bool OpenComPort(int baudRate, int portNumber);
    // Opens the port of the stored settings without greeting any unit.
    bool openStoredPort(const files::CommSettings& stored);
    bool IdentifyUnit(const QString& axisAddress);
    // Opens the port and identifies the unit at the current axis address.
    bool connectTo(int baudRate, int portNumber);
    // After a failed attempt: shows why (LastCommError, if any), closes the
    // port and shows the message that the unit did not connect.
    void reportConnectFailure();
    // Port and baud rate from the stored settings, then open and identify.
    bool ConnectUnit(const files::CommSettings& stored);

    // Start-up: port, baud rate and axis from the stored settings; reports
    // stored values it cannot use and falls back to defaults. Returns the
    // Axis menu item to check (-1: none).
    int LoadCommSettings(const files::CommSettings& stored);

    // The user's connect action; true when the unit is connected afterwards.
    bool connectAction(const files::CommSettings& stored);
    // The Axis menu: takes the address and ends a connection (the caller
    // stores it). Returns the item to check.
    int chooseAxis(int index);

private:
    void readPortSettings(const files::CommSettings& stored);

    Link& m_link;
};

} // namespace kqm::link
