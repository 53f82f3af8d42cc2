#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace kqm::files {
class SettingsTable;
}
namespace kqm::platform {
class Messages;
}

namespace kqm::tools {

// The entries of the two lists, exactly as the dialog shows them.
QStringList comPortEntries();
QStringList baudRateEntries();
int baudRateAt(int index);

// List indexes for the stored values; -1 where there is no entry.
int portIndexFor(int comPortNumber);
int baudIndexFor(int baudRate);

inline const QString SettingsChangedMessage = QStringLiteral(
    "Changes will take effect the next time you connect.  To reconnect, click the Connect "
    "button or choose Connect from the Setup menu.  This will disconnect the unit.   Then click "
    "or choose Connect again and the program will attempt to reconnect with the new settings.");

// What OK does with the selections: takes the chosen values and, when either
// selection changed, writes records 2 and 1. True when something was written.
struct CommChoice {
    int portIndex = -1;
    int baudIndex = -1;
};
bool applyCommSettings(const CommChoice& chosen, const CommChoice& old, int& comPortNumber,
                       int& baudRate, files::SettingsTable& settings, QString* error);

// What the dialog hands back when the user presses OK: the selections it
// opened with and ended with, and the device of each port number.
struct CommSettingsChoice {
    CommChoice chosen;
    CommChoice old;
    std::array<QString, 4> devices;
    // The send pace of each port number; 0: as stored.
    std::array<double, 4> paces{};
};
// The stored device of each port number 1 to 4 (or its default).
std::array<QString, 4> storedDevices(files::SettingsTable& settings);
// The send pace of each port number 1 to 4, and what the dialog offers.
std::array<double, 4> storedPaces(files::SettingsTable& settings);
QStringList paceEntries();
// Stores what the user chose and says so: the changed port and baud rate
// (records 1 and 2), the changed devices, and the message that the change
// takes effect at the next connect. A failed write is reported.
void storeCommSettingsChoice(const CommSettingsChoice& choice, int& comPortNumber, int& baudRate,
                             files::SettingsTable& settings, platform::Messages& messages);

} // namespace kqm::tools
