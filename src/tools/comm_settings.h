#pragma once

#include <QString>
#include <QStringList>

namespace kqm::files {
class SettingsTable;
}

namespace kqm::tools {

// The entries of the two lists, exactly as the dialog shows them.
QStringList ComPortEntries();
QStringList BaudRateEntries();
int BaudRateAt(int index);

// List indexes for the stored values; -1 where there is no entry.
int PortIndexFor(int comPortNumber);
int BaudIndexFor(int baudRate);

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
bool ApplyCommSettings(const CommChoice& chosen, const CommChoice& old, int& comPortNumber,
                       int& baudRate, files::SettingsTable& settings, QString* error);

} // namespace kqm::tools
