#include "transfer/proven_pace.h"

#include "link/link.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace kqm::transfer {

namespace {

QJsonArray readPaces(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll())
        .object()
        .value(QStringLiteral("paces"))
        .toArray();
}

bool sameUnit(const QJsonObject& entry, const PaceKey& key) {
    return entry.value(QStringLiteral("device")).toString() == key.device &&
           entry.value(QStringLiteral("axis")).toInt(-1) == key.axis;
}

} // namespace

PaceKey connectedUnitKey(link::Link& link) {
    const link::LinkState& state = link.state();
    return {link.deviceName(), state.AxisAddress.toInt(), state.UnitModel, state.UnitRevision,
            state.BaudRate};
}

QString provenPacesPath(const QString& userDataDirectory) {
    return QDir(userDataDirectory).filePath(QStringLiteral("proven-paces.json"));
}

std::optional<double> provenPace(const QString& path, const PaceKey& key) {
    for (const QJsonValue& value : readPaces(path)) {
        const QJsonObject entry = value.toObject();
        if (!sameUnit(entry, key))
            continue;
        const double pace = entry.value(QStringLiteral("pace")).toDouble();
        if (entry.value(QStringLiteral("model")).toString() != key.model ||
            entry.value(QStringLiteral("revision")).toString() != key.revision ||
            entry.value(QStringLiteral("baud")).toInt() != key.baud || !(pace >= 0))
            return std::nullopt;
        return pace;
    }
    return std::nullopt;
}

bool keepProvenPace(const QString& path, const PaceKey& key, std::optional<double> pace,
                    QString* error) {
    QJsonArray kept;
    for (const QJsonValue& value : readPaces(path)) {
        if (!sameUnit(value.toObject(), key))
            kept.append(value);
    }
    if (pace && *pace >= 0) {
        kept.append(QJsonObject{
            {QStringLiteral("device"), key.device},
            {QStringLiteral("axis"), key.axis},
            {QStringLiteral("model"), key.model},
            {QStringLiteral("revision"), key.revision},
            {QStringLiteral("baud"), key.baud},
            {QStringLiteral("pace"), *pace},
            {QStringLiteral("proven"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        });
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(QJsonDocument(QJsonObject{{QStringLiteral("paces"), kept}}).toJson());
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace kqm::transfer
