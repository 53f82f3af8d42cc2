#pragma once

#include "program/sqlite_file.h"

#include <QString>

#include <optional>

namespace kqm::platform {
class Messages;
}

namespace kqm::files {

// The positional settings of table "Main Table": record n is the n-th record in
// table order, its value the second field, as text.
class SettingsTable {
public:
    static inline const QString TableName = QStringLiteral("Main Table");
    static constexpr int RecordCount = 6;

    enum Record { ComPort = 1, BaudRate = 2, Axis = 3, Record4 = 4, Record5 = 5, CleanExit = 6 };

    // Opens the settings file; fails when it is not a database, has no
    // settings table, or holds fewer than six records.
    bool open(const QString& path);
    void close() { m_file.close(); }
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.path(); }
    QString lastError() const { return m_file.lastError(); }
    program::SqliteFile& file() { return m_file; }

    std::optional<QString> record(int number);
    bool setRecord(int number, const QString& value);

    // The serial device each port number stands for, kept in a table of its
    // own beside the positional records. nullopt when none is stored.
    static inline const QString PortDeviceTable = QStringLiteral("PortDevices");
    static inline const QString AutomaticDeviceTable = QStringLiteral("AutomaticPortDevices");
    std::optional<QString> portDevice(int port);
    // automatic: the tool chose the device itself (a default at first start),
    // so a later start may choose again; a user's choice is never changed.
    bool setPortDevice(int port, const QString& device, bool automatic = false);
    bool portDeviceAutomatic(int port);

    // The tool's own preferences (send verification, backups, the pace of
    // each port), by name, in a table of their own; nullopt when not set.
    static inline const QString PreferenceTable = QStringLiteral("Preferences");
    std::optional<QString> preference(const QString& name);
    bool setPreference(const QString& name, const QString& value);
    // A yes/no preference ("1" or "0"); the default where none is stored.
    bool preferenceOn(const QString& name, bool byDefault);
    bool setPreferenceOn(const QString& name, bool on);
    static inline const QString VerifySendPreference = QStringLiteral("VerifySend");
    static inline const QString BackupBeforeSendPreference = QStringLiteral("BackupBeforeSend");
    // The pause after each character a program send makes on a port (1 to
    // 4), as stored; which paces count is the send's pace policy.
    std::optional<double> sendPace(int port);
    bool setSendPace(int port, double pace);

    // Writes a new settings file with the defaults: COM 1, 9600 baud, axis 0,
    // and a clean exit recorded.
    static bool createDefaultFile(const QString& path, QString* error);

private:
    std::optional<qint64> rowidOf(int number);

    program::SqliteFile m_file;
    QString m_valueColumn;
};

// The link's settings as stored (records 1 to 3, as text), for the
// connection to read without knowing the settings file.
struct CommSettings {
    QString comPort;
    QString baudRate;
    QString axis = QStringLiteral("0");
};
// Reads records 1 to 5 (4 and 5 are read and not used); a missing record
// reads as empty text, a missing axis as "0".
CommSettings readCommSettings(SettingsTable& settings);
// Stores the axis address in record 3; a failed write is reported.
void storeAxisAddress(SettingsTable& settings, const QString& axis, platform::Messages& messages);

} // namespace kqm::files
