#include "files/machine_file.h"

#include "files/legacy_program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>

namespace kqm::files {

namespace {

const QStringList MachineFields = {QStringLiteral("name"), QStringLiteral("units")};
const QStringList UnitFields = {QStringLiteral("axis"), QStringLiteral("program"),
                                QStringLiteral("model")};

QString unknownField(const QJsonObject& object, const QStringList& known) {
    for (const QString& key : object.keys())
        if (!known.contains(key))
            return key;
    return {};
}

std::optional<MachineUnit> readUnit(const QJsonValue& value, const QDir& base, int index,
                                    QString* problem) {
    const QString where = QStringLiteral("unit %1").arg(index + 1);
    if (!value.isObject()) {
        *problem = where + QStringLiteral(" is not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    if (const QString field = unknownField(object, UnitFields); !field.isEmpty()) {
        *problem = QStringLiteral("%1: unknown field \"%2\"").arg(where, field);
        return std::nullopt;
    }
    const QJsonValue axis = object.value(QStringLiteral("axis"));
    if (!axis.isDouble() || axis.toDouble() != axis.toInt() || axis.toInt() < 0 ||
        axis.toInt() > 31) {
        *problem = where + QStringLiteral(": the axis must be a whole number from 0 to 31");
        return std::nullopt;
    }
    MachineUnit unit;
    unit.axis = axis.toInt();
    const QString program = object.value(QStringLiteral("program")).toString();
    if (program.isEmpty()) {
        *problem = QStringLiteral("axis %1: no program file is named").arg(unit.axis);
        return std::nullopt;
    }
    unit.program = QDir::cleanPath(base.absoluteFilePath(program));
    if (!QFileInfo(unit.program).isFile()) {
        *problem = QStringLiteral("axis %1: the program file %2 is missing")
                       .arg(unit.axis)
                       .arg(QDir::toNativeSeparators(unit.program));
        return std::nullopt;
    }
    if (legacyFormatOf(unit.program)) {
        *problem = QStringLiteral("axis %1: %2 is a program file of the older (Access) kind; "
                                  "make a program file of it with kqmctl convert first")
                       .arg(unit.axis)
                       .arg(QDir::toNativeSeparators(unit.program));
        return std::nullopt;
    }
    if (object.contains(QStringLiteral("model"))) {
        const QString model = object.value(QStringLiteral("model")).toString();
        if (model != QLatin1String("KQM20") && model != QLatin1String("KQM21")) {
            *problem = QStringLiteral("axis %1: the model must be KQM20 or KQM21").arg(unit.axis);
            return std::nullopt;
        }
        unit.model = model;
    }
    return unit;
}

} // namespace

std::optional<Machine> readMachineFile(const QString& path, QString* problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = parse.error != QJsonParseError::NoError
                       ? QStringLiteral("not valid JSON: %1 at character %2")
                             .arg(parse.errorString())
                             .arg(parse.offset)
                       : QStringLiteral("not a machine: the file holds no JSON object");
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (const QString field = unknownField(root, MachineFields); !field.isEmpty()) {
        *problem = QStringLiteral("unknown field \"%1\"").arg(field);
        return std::nullopt;
    }
    Machine machine;
    machine.name = root.value(QStringLiteral("name")).toString();
    if (machine.name.trimmed().isEmpty()) {
        *problem = QStringLiteral("the machine has no name");
        return std::nullopt;
    }
    if (!root.value(QStringLiteral("units")).isArray()) {
        *problem = QStringLiteral("\"units\" must be a list of units");
        return std::nullopt;
    }
    const QJsonArray units = root.value(QStringLiteral("units")).toArray();
    const QDir base = QFileInfo(path).absoluteDir();
    QSet<int> axes;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const auto unit = readUnit(units.at(i), base, static_cast<int>(i), problem);
        if (!unit)
            return std::nullopt;
        if (axes.contains(unit->axis)) {
            *problem = QStringLiteral("axis %1 is named twice").arg(unit->axis);
            return std::nullopt;
        }
        axes.insert(unit->axis);
        machine.units << *unit;
    }
    return machine;
}

bool writeMachineFile(const QString& path, const Machine& machine, QString* error) {
    const QDir base = QFileInfo(path).absoluteDir();
    QJsonArray units;
    for (const MachineUnit& unit : machine.units) {
        QJsonObject object{{QStringLiteral("axis"), unit.axis},
                           {QStringLiteral("program"), base.relativeFilePath(unit.program)}};
        if (unit.model)
            object.insert(QStringLiteral("model"), *unit.model);
        units.append(object);
    }
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("name"), machine.name},
                                                       {QStringLiteral("units"), units}})
                                 .toJson(QJsonDocument::Indented);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace kqm::files
