#include "transfer/unit_backup.h"

#include "files/file_copy.h"
#include "link/link.h"
#include "platform/messages.h"
#include "program/listing.h"
#include "program/program_table.h"
#include "transfer/upload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace kqm::transfer {

namespace {

const QString RecordSuffix = QStringLiteral(".backup");

QString stateName(UnitBackup::State state) {
    switch (state) {
    case UnitBackup::State::Empty:
        return QStringLiteral("empty");
    case UnitBackup::State::Corrupted:
        return QStringLiteral("corrupted");
    case UnitBackup::State::Program:
        break;
    }
    return QStringLiteral("program");
}

std::optional<UnitBackup> readRecord(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    if (json.isEmpty())
        return std::nullopt;
    UnitBackup backup;
    backup.record = path;
    backup.taken =
        QDateTime::fromString(json.value(QStringLiteral("taken")).toString(), Qt::ISODateWithMs);
    backup.axis = json.value(QStringLiteral("axis")).toInt();
    backup.model = json.value(QStringLiteral("model")).toString();
    backup.device = json.value(QStringLiteral("device")).toString();
    const QString state = json.value(QStringLiteral("state")).toString();
    backup.state = state == QLatin1String("empty")       ? UnitBackup::State::Empty
                   : state == QLatin1String("corrupted") ? UnitBackup::State::Corrupted
                                                         : UnitBackup::State::Program;
    backup.lines = json.value(QStringLiteral("lines")).toInt();
    backup.bytes = json.value(QStringLiteral("bytes")).toInt();
    // Only a file beside the record belongs to it, whatever the record says.
    const QString program = QFileInfo(json.value(QStringLiteral("program")).toString()).fileName();
    if (!program.isEmpty())
        backup.programFile = QFileInfo(path).dir().filePath(program);
    return backup;
}

// What a keeper killed on its way left: a program file no record names
// (the record comes last) and partial files. Only under the folder's lock.
void sweepUnrecorded(const QDir& dir) {
    QSet<QString> recorded;
    for (const QString& name : dir.entryList({QLatin1Char('*') + RecordSuffix}, QDir::Files)) {
        if (const auto backup = readRecord(dir.filePath(name)); backup && !backup->programFile.isEmpty())
            recorded.insert(QFileInfo(backup->programFile).fileName());
    }
    for (const QString& name : dir.entryList({QStringLiteral("*.mdb")}, QDir::Files)) {
        if (!recorded.contains(name))
            files::removeWithJournals(dir.filePath(name));
    }
    for (const QString& name : dir.entryList({QStringLiteral(".*.partial-*")},
                                             QDir::Files | QDir::Hidden)) {
        files::removeWithJournals(dir.filePath(name));
    }
}

// A name of its own for a backup taken now: the time, made unique.
QString freshStem(const QDir& directory, const QDateTime& taken) {
    const QString stem = taken.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    QString name = stem;
    for (int n = 2; QFileInfo::exists(directory.filePath(name + RecordSuffix)) ||
                    QFileInfo::exists(directory.filePath(name + QStringLiteral(".mdb")));
         ++n)
        name = stem + QStringLiteral("-%1").arg(n);
    return name;
}

} // namespace

QString backupRootPath(const QString& userDataDirectory) {
    return userDataDirectory + QStringLiteral("/backups");
}

QString axisBackupDirectory(const QString& root, int axis) {
    return QDir(root).filePath(QStringLiteral("axis-%1").arg(axis));
}

QString stateText(UnitBackup::State state) {
    switch (state) {
    case UnitBackup::State::Empty:
        return QStringLiteral("no program");
    case UnitBackup::State::Corrupted:
        return QStringLiteral("corrupted memory");
    case UnitBackup::State::Program:
        break;
    }
    return QStringLiteral("program");
}

BackupResult keepBackup(const QString& reply, const QString& directory, int axis,
                        const QString& model, const QString& device, const QDateTime& taken) {
    BackupResult result;
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("."))) {
        result.error = QStringLiteral("the folder %1 could not be made")
                           .arg(QDir::toNativeSeparators(directory));
        return result;
    }
    UnitBackup& backup = result.backup;
    backup.taken = taken;
    backup.axis = axis;
    backup.model = model;
    backup.device = device;
    const ParsedReply parsed = parseUploadReply(reply);
    platform::SilentMessages quiet;
    const BuiltProgram built = buildUploadedProgram(reply, quiet);
    const bool empty = parsed.commands.isEmpty() || (parsed.commands.size() == 1 &&
                                                     parsed.commands.first() == QLatin1String("Q"));
    backup.state = parsed.corrupted ? UnitBackup::State::Corrupted
                   : empty          ? UnitBackup::State::Empty
                                    : UnitBackup::State::Program;
    // One keeper at a time in a folder, so that what a killed keeper left
    // (a program file without its record, a partial file) can be swept.
    QLockFile lock(dir.filePath(QStringLiteral(".keeping.lock")));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(10000)) {
        result.error = QStringLiteral("another program is keeping a backup in %1")
                           .arg(QDir::toNativeSeparators(directory));
        return result;
    }
    sweepUnrecorded(dir);
    const QString stem = freshStem(dir, taken);
    // The program file first, made whole under a hidden name; the record
    // last, so that a backup listed is a backup whole.
    std::optional<files::PartialFile> partial;
    if (backup.state == UnitBackup::State::Program) {
        backup.programFile = dir.filePath(stem + QStringLiteral(".mdb"));
        partial.emplace(backup.programFile);
        QString error;
        program::ProgramTable table;
        program::ProgramState state;
        if (!partial->open(&error) ||
            !program::ProgramTable::createEmptyProgramFile(partial->fileName(), &error) ||
            !table.open(partial->fileName())) {
            result.error = error.isEmpty() ? table.lastError() : error;
            return result;
        }
        const program::RefreshResult stored =
            program::storeAndRefresh(table, {}, built.rows, state, quiet);
        table.close();
        if (!stored.ok) {
            result.error = stored.error;
            return result;
        }
        if (partial->moveToTarget(&error) != files::MoveResult::Moved) {
            result.error = error;
            return result;
        }
        backup.lines = static_cast<int>(stored.rows.size());
        backup.bytes = state.ProgramSize;
    }
    QJsonObject json;
    json.insert(QStringLiteral("taken"), taken.toString(Qt::ISODateWithMs));
    json.insert(QStringLiteral("axis"), axis);
    json.insert(QStringLiteral("model"), model);
    json.insert(QStringLiteral("device"), device);
    json.insert(QStringLiteral("state"), stateName(backup.state));
    json.insert(QStringLiteral("lines"), backup.lines);
    json.insert(QStringLiteral("bytes"), backup.bytes);
    if (!backup.programFile.isEmpty())
        json.insert(QStringLiteral("program"), QFileInfo(backup.programFile).fileName());
    // The reply as read, so that nothing the unit said is lost.
    json.insert(QStringLiteral("reply"), reply);
    backup.record = dir.filePath(stem + RecordSuffix);
    QSaveFile record(backup.record);
    const QByteArray bytes = QJsonDocument(json).toJson();
    if (!record.open(QIODevice::WriteOnly) || record.write(bytes) != bytes.size() ||
        !record.commit()) {
        result.error = record.errorString();
        if (!backup.programFile.isEmpty())
            QFile::remove(backup.programFile);
        return result;
    }
    result.ok = true;
    pruneBackups(directory, BackupsKept, backup.record);
    return result;
}

BackupResult backUpUnitProgram(link::Link& link, const QString& directory, int axis,
                               const QString& model, const QDateTime& taken) {
    const UnitReply reply = readUnitProgram(link, nullptr);
    if (!reply.responded) {
        BackupResult result;
        result.unitSilent = reply.failure.isEmpty() || reply.failure == NotRespondingMessage;
        result.error = result.unitSilent
                           ? QStringLiteral("the unit did not answer when its program was read")
                           : reply.failure;
        return result;
    }
    return keepBackup(reply.text, directory, axis, model, link.deviceName(), taken);
}

QVector<UnitBackup> backupsIn(const QString& directory) {
    QVector<UnitBackup> backups;
    const QDir dir(directory);
    const QStringList records =
        dir.entryList({QLatin1Char('*') + RecordSuffix}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : records) {
        if (auto backup = readRecord(dir.filePath(name)))
            backups.push_back(std::move(*backup));
    }
    return backups;
}

QVector<UnitBackup> allBackups(const QString& root) {
    QVector<UnitBackup> backups;
    const QDir dir(root);
    for (const QString& axis : dir.entryList({QStringLiteral("axis-*")}, QDir::Dirs))
        backups += backupsIn(dir.filePath(axis));
    std::stable_sort(backups.begin(), backups.end(),
                     [](const UnitBackup& a, const UnitBackup& b) { return a.taken > b.taken; });
    return backups;
}

void pruneBackups(const QString& directory, int keep, const QString& kept) {
    QVector<UnitBackup> backups = backupsIn(directory);
    for (qsizetype i = backups.size() - 1; i >= 0 && backups.size() > keep; --i) {
        if (backups.at(i).record == kept)
            continue;
        if (!backups.at(i).programFile.isEmpty())
            QFile::remove(backups.at(i).programFile);
        QFile::remove(backups.at(i).record);
        backups.removeAt(i);
    }
}

} // namespace kqm::transfer
