#pragma once

#include <QString>

#include <optional>

namespace kqm::files {
class SettingsTable;
}

namespace kqm::link {

class Link;

inline const QString NotOpenError = QStringLiteral("The Com Port is not Open!");
inline const QString DidNotConnectError = QStringLiteral("Did Not Connect");
inline const QString ConnectErrorMessage =
    QStringLiteral("An Error occurred while trying to connect");
QString DidNotConnectMessage();
QString OpenFailedError(int port);

// Reads a stored port number or baud rate; nullopt when it is not a number
// the link can use.
std::optional<int> ParsePortNumber(const QString& text);
std::optional<int> ParseBaudRate(const QString& text);
// The Axis menu item that a stored axis address checks, or -1 for none.
int AxisMenuItemFor(const QString& axisAddress);

// Connecting to the unit and telling which model it is, the Axis menu's
// choice of address, and the start-up loading of the link settings.
class Connection {
public:
    Connection(Link& link, files::SettingsTable& settings);

    bool OpenComPort(int baudRate, int portNumber);
    bool IdentifyUnit(const QString& axisAddress);
    bool ConnectUnit();

    // Start-up: port, baud rate and axis from the settings; reports stored
    // values it cannot use and falls back to defaults. Returns the Axis
    // menu item to check (-1: none).
    int LoadCommSettings();

    // The user's connect action; true when the unit is connected afterwards.
    bool ConnectAction();
    // The Axis menu: stores the address and ends a connection. Returns the
    // item to check.
    int ChooseAxis(int index);

private:
    void readPortSettings();

    Link& m_link;
    files::SettingsTable& m_settings;
};

} // namespace kqm::link
