#include "program/paste_origin.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kqm::program {

namespace {

const QString ProgramKey = QStringLiteral("program");
const QString LinesKey = QStringLiteral("lines");
const QString CutKey = QStringLiteral("cut");

} // namespace

PasteOrigin originOf(const QVector<ProgramRow>& rows, const QList<int>& copied, bool cut) {
    PasteOrigin origin;
    origin.program.reserve(rows.size());
    for (const ProgramRow& row : rows)
        origin.program.push_back(row.command);
    origin.lines = QVector<int>(copied.begin(), copied.end());
    origin.cut = cut;
    return origin;
}

QByteArray writePasteOrigin(const PasteOrigin& origin) {
    QJsonArray program;
    for (const QString& command : origin.program)
        program.append(command);
    QJsonArray lines;
    for (const int line : origin.lines)
        lines.append(line);
    return QJsonDocument(
               QJsonObject{{ProgramKey, program}, {LinesKey, lines}, {CutKey, origin.cut}})
        .toJson(QJsonDocument::Compact);
}

std::optional<PasteOrigin> readPasteOrigin(const QByteArray& data) {
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (!object.value(ProgramKey).isArray() || !object.value(LinesKey).isArray())
        return std::nullopt;
    PasteOrigin origin;
    origin.cut = object.value(CutKey).toBool(false);
    for (const QJsonValue command : object.value(ProgramKey).toArray()) {
        if (!command.isString())
            return std::nullopt;
        origin.program.push_back(command.toString());
    }
    for (const QJsonValue line : object.value(LinesKey).toArray()) {
        const double number = line.toDouble(-1);
        if (!line.isDouble() || number < 0 || number >= origin.program.size() ||
            number != static_cast<int>(number))
            return std::nullopt;
        origin.lines.push_back(static_cast<int>(number));
    }
    return origin;
}

} // namespace kqm::program
