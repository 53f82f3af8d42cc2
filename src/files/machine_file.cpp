#include "files/machine_file.h"

#include "files/legacy_program.h"
#include "program/program_table.h"

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

// A machine of 32 units is a few KiB; anything far larger is no machine file.
constexpr qsizetype MaxMachineFileBytes = 1024 * 1024;

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
    if (QFileInfo(unit.program).isDir()) {
        *problem = QStringLiteral("axis %1: %2 is a folder, not a program file")
                       .arg(unit.axis)
                       .arg(QDir::toNativeSeparators(unit.program));
        return std::nullopt;
    }
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
    // Read now, before any port is opened for it.
    program::ProgramTable probe;
    if (!probe.open(unit.program, program::SqliteFile::Mode::ReadOnly)) {
        *problem = QStringLiteral("axis %1: %2").arg(unit.axis).arg(probe.openFailure(unit.program));
        return std::nullopt;
    }
    probe.close();
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

// QJsonDocument keeps the last of two equal keys without a word; a machine
// file that says a thing twice is refused instead. `json` is valid JSON.
QString duplicateKey(const QByteArray& json) {
    struct Level {
        bool object = false;
        QSet<QByteArray> keys;
    };
    QList<Level> levels;
    bool expectKey = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '{' || c == '[') {
            levels.append(Level{c == '{', {}});
            expectKey = c == '{';
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
            expectKey = false;
        } else if (c == ',') {
            expectKey = !levels.isEmpty() && levels.last().object;
        } else if (c == '"') {
            QByteArray raw;
            for (++i; i < json.size() && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\' && i + 1 < json.size())
                    raw += json.at(i++);
                raw += json.at(i);
            }
            if (expectKey && !levels.isEmpty()) {
                // Keys are compared as JSON reads them, escapes undone.
                const QByteArray key =
                    QJsonDocument::fromJson("[\"" + raw + "\"]").array().at(0).toString().toUtf8();
                if (levels.last().keys.contains(key))
                    return QString::fromUtf8(key);
                levels.last().keys.insert(key);
                expectKey = false;
            }
        }
    }
    return {};
}

} // namespace

std::optional<Machine> readMachineFile(const QString& path, QString* problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parse;
    const QByteArray bytes = file.read(MaxMachineFileBytes + 1);
    if (bytes.size() > MaxMachineFileBytes) {
        *problem = QStringLiteral("not a machine: the file is larger than %1 KiB")
                       .arg(MaxMachineFileBytes / 1024);
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *problem = parse.error != QJsonParseError::NoError
                       ? QStringLiteral("not valid JSON: %1 at character %2")
                             .arg(parse.errorString())
                             .arg(parse.offset)
                       : QStringLiteral("not a machine: the file holds no JSON object");
        return std::nullopt;
    }
    if (const QString key = duplicateKey(bytes); !key.isEmpty()) {
        *problem = QStringLiteral("the field \"%1\" is given twice").arg(key);
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
    if (units.isEmpty()) {
        *problem = QStringLiteral("the machine has no units: \"units\" lists none");
        return std::nullopt;
    }
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
