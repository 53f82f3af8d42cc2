#include "files/settings_table.h"

#include "platform/messages.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kqm::files {

using program::quoteIdentifier;

bool SettingsTable::open(const QString& path) {
    const auto columns = m_file.openTable(path, program::SqliteFile::Mode::ReadWrite, TableName, 2,
                                          QStringLiteral("settings"), QStringLiteral("two"));
    if (!columns)
        return false;
    m_valueColumn = quoteIdentifier(columns->at(1));
    QSqlQuery query(m_file.database());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(TableName))) ||
        !query.next()) {
        const QString error = query.lastError().text();
        query = QSqlQuery();
        return m_file.fail(error);
    }
    if (query.value(0).toInt() < RecordCount) {
        query = QSqlQuery();
        return m_file.fail(QStringLiteral("its settings table holds fewer than six records"));
    }
    return true;
}

std::optional<qint64> SettingsTable::rowidOf(int number) {
    if (number < 1)
        return std::nullopt;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid LIMIT 1 OFFSET ?")
                      .arg(quoteIdentifier(TableName)));
    query.addBindValue(number - 1);
    if (!query.exec() || !query.next()) {
        m_file.setError(query.lastError().isValid() ? query.lastError().text()
                                                    : QStringLiteral("no such settings record"));
        return std::nullopt;
    }
    return query.value(0).toLongLong();
}

std::optional<QString> SettingsTable::record(int number) {
    const auto rowid = rowidOf(number);
    if (!rowid)
        return std::nullopt;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                      .arg(m_valueColumn, quoteIdentifier(TableName)));
    query.addBindValue(*rowid);
    if (!query.exec() || !query.next()) {
        m_file.setError(query.lastError().text());
        return std::nullopt;
    }
    const QVariant value = query.value(0);
    return value.isNull() ? QString() : value.toString();
}

bool SettingsTable::setRecord(int number, const QString& value) {
    const auto rowid = rowidOf(number);
    if (!rowid)
        return false;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("UPDATE %1 SET %2 = ? WHERE rowid = ?")
                      .arg(quoteIdentifier(TableName), m_valueColumn));
    query.addBindValue(value);
    query.addBindValue(*rowid);
    if (!query.exec()) {
        m_file.setError(query.lastError().text());
        return false;
    }
    return true;
}

std::optional<QString> SettingsTable::portDevice(int port) {
    if (!m_file.hasTable(PortDeviceTable))
        return std::nullopt;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("SELECT Device FROM %1 WHERE Port = ?")
                      .arg(quoteIdentifier(PortDeviceTable)));
    query.addBindValue(port);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toString();
}

std::optional<QString> SettingsTable::preference(const QString& name) {
    if (!m_file.hasTable(PreferenceTable))
        return std::nullopt;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("SELECT Value FROM %1 WHERE Name = ?")
                      .arg(quoteIdentifier(PreferenceTable)));
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toString();
}

bool SettingsTable::setPreference(const QString& name, const QString& value) {
    const QString table = quoteIdentifier(PreferenceTable);
    if (!m_file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Name TEXT PRIMARY KEY, "
                                    "Value TEXT)")
                         .arg(table)))
        return false;
    QSqlQuery query(m_file.database());
    query.prepare(
        QStringLiteral("INSERT OR REPLACE INTO %1 (Name, Value) VALUES (?, ?)").arg(table));
    query.addBindValue(name);
    query.addBindValue(value);
    if (!query.exec()) {
        m_file.setError(query.lastError().text());
        return false;
    }
    return true;
}

bool SettingsTable::preferenceOn(const QString& name, bool byDefault) {
    const auto value = preference(name);
    if (!value)
        return byDefault;
    return *value == QLatin1String("1");
}

bool SettingsTable::setPreferenceOn(const QString& name, bool on) {
    return setPreference(name, on ? QStringLiteral("1") : QStringLiteral("0"));
}

namespace {

QString sendPaceName(int port) {
    return QStringLiteral("SendPace/COM%1").arg(port);
}

} // namespace

std::optional<double> SettingsTable::sendPace(int port) {
    const auto stored = preference(sendPaceName(port));
    bool number = false;
    const double pace = stored ? stored->toDouble(&number) : 0.0;
    return number ? std::optional<double>(pace) : std::nullopt;
}

bool SettingsTable::setSendPace(int port, double pace) {
    return setPreference(sendPaceName(port), QString::number(pace));
}

bool SettingsTable::setPortDevice(int port, const QString& device, bool automatic) {
    const QString devices = quoteIdentifier(PortDeviceTable);
    const QString automatics = quoteIdentifier(AutomaticDeviceTable);
    if (!m_file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Port INTEGER PRIMARY KEY, "
                                    "Device TEXT)")
                         .arg(devices)) ||
        !m_file.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (Port INTEGER PRIMARY KEY)")
                         .arg(automatics)))
        return false;
    program::Transaction transaction(m_file);
    QSqlQuery query(m_file.database());
    query.prepare(
        QStringLiteral("INSERT OR REPLACE INTO %1 (Port, Device) VALUES (?, ?)").arg(devices));
    query.addBindValue(port);
    query.addBindValue(device);
    QSqlQuery mark(m_file.database());
    mark.prepare(automatic
                     ? QStringLiteral("INSERT OR REPLACE INTO %1 (Port) VALUES (?)").arg(automatics)
                     : QStringLiteral("DELETE FROM %1 WHERE Port = ?").arg(automatics));
    mark.addBindValue(port);
    if (!query.exec() || !mark.exec() || !transaction.commit()) {
        m_file.setError(query.lastError().isValid() ? query.lastError().text()
                                                    : mark.lastError().text());
        return false;
    }
    return true;
}

bool SettingsTable::portDeviceAutomatic(int port) {
    if (!m_file.hasTable(AutomaticDeviceTable))
        return false;
    QSqlQuery query(m_file.database());
    query.prepare(QStringLiteral("SELECT 1 FROM %1 WHERE Port = ?")
                      .arg(quoteIdentifier(AutomaticDeviceTable)));
    query.addBindValue(port);
    return query.exec() && query.next();
}

bool SettingsTable::createDefaultFile(const QString& path, QString* error) {
    QFile::remove(path);
    program::SqliteFile file;
    const auto fail = [&] {
        if (error)
            *error = file.lastError();
        return false;
    };
    if (!file.open(path))
        return fail();
    if (!file.exec(QStringLiteral("CREATE TABLE %1 (Setting TEXT, Value TEXT)")
                       .arg(quoteIdentifier(TableName))))
        return fail();
    static const char* const defaults[RecordCount][2] = {
        {"ComPort", "1"},  {"BaudRate", "9600"}, {"Axis", "0"},
        {"Reserved4", ""}, {"Reserved5", ""},    {"CleanExit", "1"},
    };
    program::Transaction transaction(file);
    QSqlQuery insert(file.database());
    insert.prepare(QStringLiteral("INSERT INTO %1 VALUES (?, ?)").arg(quoteIdentifier(TableName)));
    for (const auto& record : defaults) {
        insert.bindValue(0, QString::fromLatin1(record[0]));
        insert.bindValue(1, QString::fromLatin1(record[1]));
        if (!insert.exec()) {
            file.setError(insert.lastError().text());
            return fail();
        }
    }
    return transaction.commit() || fail();
}

CommSettings readCommSettings(SettingsTable& settings) {
    CommSettings stored;
    stored.comPort = settings.record(SettingsTable::ComPort).value_or(QString());
    stored.baudRate = settings.record(SettingsTable::BaudRate).value_or(QString());
    stored.axis = settings.record(SettingsTable::Axis).value_or(QStringLiteral("0"));
    settings.record(SettingsTable::Record4);
    settings.record(SettingsTable::Record5);
    return stored;
}

void storeAxisAddress(SettingsTable& settings, const QString& axis, platform::Messages& messages) {
    if (settings.setRecord(SettingsTable::Axis, axis))
        return;
    messages.show(platform::MessageIcon::Warning,
                  QStringLiteral("The axis address could not be stored in the settings (%1).")
                      .arg(settings.lastError()));
}

} // namespace kqm::files
