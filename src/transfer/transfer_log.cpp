#include "transfer/transfer_log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace kqm::transfer {

namespace {

// transfer-log.jsonl becomes transfer-log-20261208T101500123-00.jsonl: rotated
// files are kept, never overwritten, and sort in time order.
QString rotatedPath(const QString& path) {
    QString stem = path;
    if (stem.endsWith(QLatin1String(".jsonl")))
        stem.chop(6);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
    QString rotated;
    for (int n = 0; rotated.isEmpty() || QFileInfo::exists(rotated); ++n)
        rotated = QStringLiteral("%1-%2-%3.jsonl").arg(stem, stamp).arg(n, 2, 10, QLatin1Char('0'));
    return rotated;
}

QStringList rotatedFiles(const QString& path) {
    const QFileInfo log(path);
    QString stem = log.fileName();
    if (stem.endsWith(QLatin1String(".jsonl")))
        stem.chop(6);
    QStringList files;
    for (const QString& name :
         log.dir().entryList({stem + QStringLiteral("-*.jsonl")}, QDir::Files, QDir::Name))
        files << log.dir().filePath(name);
    return files;
}

// The account's own name, as the system knows it; the environment may lack
// or misstate it (a service, sudo, cron).
QString userName() {
#ifdef Q_OS_UNIX
    if (const passwd* account = getpwuid(geteuid()); account && account->pw_name &&
                                                       *account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    for (const char* name : {"USER", "LOGNAME", "USERNAME"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            return value;
    }
#ifdef Q_OS_UNIX
    return QStringLiteral("uid %1").arg(geteuid());
#else
    return QStringLiteral("unknown");
#endif
}

} // namespace

QJsonObject TransferLogEntry::toJson() const {
    QJsonObject object{
        {QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("user"), user},
        {QStringLiteral("host"), host},
        {QStringLiteral("port"), port},
        {QStringLiteral("device"), device},
        {QStringLiteral("axis"), axis},
        {QStringLiteral("model"), model},
        {QStringLiteral("revision"), revision},
        {QStringLiteral("program"), program},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("pace"), pace},
        {QStringLiteral("result"), result},
        {QStringLiteral("backup"), backup},
    };
    if (measuredSeconds)
        object.insert(QStringLiteral("measured_seconds"), *measuredSeconds);
    if (predictedSeconds)
        object.insert(QStringLiteral("predicted_seconds"), *predictedSeconds);
    return object;
}

std::optional<TransferLogEntry> TransferLogEntry::fromJson(const QJsonObject& object) {
    TransferLogEntry entry;
    entry.time =
        QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!entry.time.isValid() || !object.value(QStringLiteral("result")).isString())
        return std::nullopt;
    entry.time = entry.time.toUTC();
    const auto text = [&object](const char* key) {
        return object.value(QLatin1String(key)).toString();
    };
    entry.kind = text("kind");
    entry.user = text("user");
    entry.host = text("host");
    entry.port = text("port");
    entry.device = text("device");
    entry.axis = object.value(QStringLiteral("axis")).toInt();
    entry.model = text("model");
    entry.revision = text("revision");
    entry.program = text("program");
    entry.sha256 = text("sha256");
    entry.pace = object.value(QStringLiteral("pace")).toDouble();
    entry.result = text("result");
    entry.backup = text("backup");
    for (const auto& [key, field] :
         {std::pair{"measured_seconds", &entry.measuredSeconds},
          std::pair{"predicted_seconds", &entry.predictedSeconds}}) {
        if (const QJsonValue value = object.value(QLatin1String(key)); value.isDouble())
            *field = value.toDouble();
    }
    return entry;
}

QString transferLogPath(const QString& userDataDirectory) {
    return QDir(userDataDirectory).filePath(QStringLiteral("transfer-log.jsonl"));
}

TransferLogEntry newLogEntry(const QString& kind) {
    TransferLogEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.kind = kind;
    entry.user = userName();
    entry.host = QSysInfo::machineHostName();
    return entry;
}

QString sha256Of(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Sha256).toHex());
}

bool appendTransferLog(const QString& path, const TransferLogEntry& entry, QString* error,
                       qint64 rotateAt) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    if (QFileInfo(path).size() + line.size() > rotateAt) {
        // One writer rotates; a writer that opened the file before the
        // rename appends to the rotated file, where its line is kept too.
        QLockFile lock(path + QStringLiteral(".lock"));
        lock.setStaleLockTime(10000);
        if (lock.tryLock(5000) && QFileInfo(path).size() + line.size() > rotateAt)
            QFile::rename(path, rotatedPath(path));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    // A line cut short (a crash, a full disk) gets its end first, so that
    // it does not take this entry with it.
    QByteArray record = line;
    if (file.size() > 0 && file.seek(file.size() - 1) && file.read(1) != "\n")
        record.prepend('\n');
    if (file.write(record) != record.size()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

QList<TransferLogEntry> readTransferLog(const QString& path, const LogFilter& filter) {
    QList<TransferLogEntry> entries;
    QStringList files = rotatedFiles(path);
    files << path;
    for (const QString& file : std::as_const(files)) {
        QFile log(file);
        if (!log.open(QIODevice::ReadOnly))
            continue;
        while (!log.atEnd()) {
            const QJsonDocument document = QJsonDocument::fromJson(log.readLine());
            const auto entry = TransferLogEntry::fromJson(document.object());
            if (!entry || (filter.axis && entry->axis != *filter.axis) ||
                (filter.since && entry->time < *filter.since))
                continue;
            entries << *entry;
        }
    }
    return entries;
}

QStringList transferLogColumns() {
    return {QStringLiteral("Time (UTC)"), QStringLiteral("Kind"),     QStringLiteral("Axis"),
            QStringLiteral("Model"),      QStringLiteral("Revision"), QStringLiteral("Port"),
            QStringLiteral("Device"),     QStringLiteral("Result"),   QStringLiteral("Pace"),
            QStringLiteral("Program"),    QStringLiteral("SHA-256"),  QStringLiteral("User"),
            QStringLiteral("Host"),       QStringLiteral("Backup")};
}

QStringList transferLogFields(const TransferLogEntry& entry) {
    return {entry.time.toUTC().toString(Qt::ISODate),
            entry.kind,
            entry.axis >= 0 ? QString::number(entry.axis) : QString(),
            entry.model,
            entry.revision,
            entry.port,
            entry.device,
            entry.result,
            entry.pace > 0 ? QString::number(entry.pace) : QString(),
            entry.program,
            entry.sha256,
            entry.user,
            entry.host,
            entry.backup};
}

QString transferLogCsv(const QList<TransferLogEntry>& entries) {
    const auto line = [](QStringList fields) {
        for (QString& field : fields) {
            if (!field.isEmpty() && QStringLiteral("=+-@").contains(field.front()))
                field.prepend(QLatin1Char('\''));
            if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')))
                field = QLatin1Char('"') +
                        field.replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                        QLatin1Char('"');
        }
        return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    QString csv = line(transferLogColumns());
    for (const TransferLogEntry& entry : entries)
        csv += line(transferLogFields(entry));
    return csv;
}

} // namespace kqm::transfer
