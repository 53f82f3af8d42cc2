#include "program/paste_origin.h"

#include "program/branch_targets.h"
#include "program/command_set.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kqm::program {

namespace {

const QString ProgramKey = QStringLiteral("program");
const QString LinesKey = QStringLiteral("lines");
const QString CutKey = QStringLiteral("cut");
const QString Pending = QStringLiteral("!");

// Points the branches of pasted lines where they pointed in the program
// they were copied from (see planPaste).
class PastedBranches {
public:
    PastedBranches(const QVector<ProgramRow>& rows, int first, const QVector<ProgramRow>& pasted,
                   const std::optional<PasteOrigin>& origin)
        : m_first(first), m_count(static_cast<int>(pasted.size())) {
        if (!origin || !matches(*origin, pasted))
            return;
        m_known = true;
        QVector<ProgramRow> source(origin->program.size());
        for (qsizetype i = 0; i < source.size(); ++i)
            source[i].command = origin->program.at(i);
        m_sourceStarts = lineStarts(source);
        for (int n = 0; n < m_count; ++n) {
            if (!m_copyOf.contains(origin->lines.at(n)))
                m_copyOf.insert(origin->lines.at(n), n);
        }
        m_nowAt = linesNow(rows, *origin);
    }

    // Rewrites the pasted lines of `after` (the program with them in it);
    // returns a note for each branch left as written.
    QStringList map(QVector<ProgramRow>& after) const {
        // A command's size does not depend on its operands, so the addresses
        // are final before any branch is rewritten.
        const QVector<int> starts = lineStarts(after);
        QStringList notes;
        for (int n = 0; n < m_count; ++n) {
            const int line = m_first + n;
            ProgramRow& row = after[line];
            // An until line's text names its own line number.
            if (row.command.startsWith(QLatin1Char('U')))
                row.listing = Pending;
            const std::optional<QString> why = mapOne(row, starts);
            if (why) {
                notes << QStringLiteral("Line %1 (%2): %3; its branch is kept as written.")
                             .arg(line + 1)
                             .arg(QString(row.command).replace(QLatin1Char('\r'), QLatin1Char(' ')),
                                  *why);
            }
        }
        return notes;
    }

private:
    // Where each line of the program copied from stands in `rows`, when the
    // lines go back into that program as it was when they were copied, or as
    // cutting them left it: a line outside them is still the line it was.
    // Empty for any other program.
    static QVector<int> linesNow(const QVector<ProgramRow>& rows, const PasteOrigin& origin) {
        const auto sameCommands = [&rows](const QVector<QString>& program, auto shape) {
            return std::equal(rows.begin(), rows.end(), program.begin(), program.end(),
                              [&shape](const ProgramRow& row, const QString& command) {
                                  return shape(row.command) == shape(command);
                              });
        };
        const auto asWritten = [](const QString& command) {
            return command;
        };
        QVector<int> nowAt(origin.program.size());
        for (qsizetype i = 0; i < nowAt.size(); ++i)
            nowAt[i] = static_cast<int>(i);
        if (sameCommands(origin.program, asWritten))
            return nowAt;
        if (!origin.cut)
            return {};
        QVector<bool> gone(origin.program.size(), false);
        for (const int line : origin.lines)
            gone[line] = true;
        QVector<QString> left;
        for (qsizetype i = 0; i < nowAt.size(); ++i) {
            nowAt[i] = gone.at(i) ? -1 : static_cast<int>(left.size());
            if (!gone.at(i))
                left.push_back(origin.program.at(i));
        }
        // The cut renumbered the branches of the lines left.
        return sameCommands(left, withoutTarget) ? nowAt : QVector<int>{};
    }

    // A command with its branch target (if any) taken out.
    static QString withoutTarget(const QString& command) {
        if (isLineBranch(command))
            return withLineTarget(command, 0);
        if (const auto address = branchAddress(command))
            return withAddress(command, *address, 0).value_or(command);
        return command;
    }

    // The origin belongs to these lines: one line of its program for each,
    // holding the same command.
    static bool matches(const PasteOrigin& origin, const QVector<ProgramRow>& pasted) {
        if (origin.lines.size() != pasted.size())
            return false;
        for (qsizetype n = 0; n < pasted.size(); ++n) {
            const int line = origin.lines.at(n);
            if (line < 0 || line >= origin.program.size() ||
                origin.program.at(line) != pasted.at(n).command)
                return false;
        }
        return true;
    }

    // Rewrites one pasted line's branch; why it could not, otherwise.
    std::optional<QString> mapOne(ProgramRow& row, const QVector<int>& starts) const {
        const bool byLine = isLineBranch(row.command);
        const std::optional<int> address = branchAddress(row.command);
        if (!byLine && !address)
            return std::nullopt;
        if (!m_known)
            return QStringLiteral("where it was copied from is not known");
        const int sourceLines = static_cast<int>(m_sourceStarts.size()) - 1;
        int source = -1;
        if (byLine) {
            const qint64 named = lineTarget(row.command);
            if (named < 1 || named > sourceLines) {
                return QStringLiteral("the program it was copied from has no line %1").arg(named);
            }
            source = static_cast<int>(named) - 1;
        } else {
            source = lineAtAddress(m_sourceStarts, *address);
            if (source < 0) {
                return QStringLiteral("address %1 was not the start of a line where it was "
                                      "copied from")
                    .arg(*address);
            }
        }
        int target = 0;
        if (const auto copy = m_copyOf.constFind(source); copy != m_copyOf.constEnd()) {
            target = m_first + *copy;
        } else if (!m_nowAt.isEmpty() && m_nowAt.at(source) >= 0) {
            const int now = m_nowAt.at(source);
            target = now < m_first ? now : now + m_count;
        } else {
            // Pasted elsewhere, or the program has changed since the copy:
            // nothing says which line here that one is.
            return QStringLiteral("it branched to line %1 outside the copied lines, in another "
                                  "program or in this one before a change")
                .arg(source + 1);
        }
        QString command;
        if (byLine) {
            command = withLineTarget(row.command, target + 1);
        } else {
            const int moved = starts.at(target);
            if (lineAtAddress(starts, moved) != target) {
                return QStringLiteral("line %1 takes no memory and shares its address with "
                                      "the line after it")
                    .arg(target + 1);
            }
            const auto rewritten = withAddress(row.command, *address, moved);
            if (!rewritten)
                return QStringLiteral("its address is not written plainly");
            command = *rewritten;
        }
        if (command != row.command) {
            row.command = command;
            row.listing = Pending;
        }
        return std::nullopt;
    }

    int m_first;
    int m_count;
    bool m_known = false;
    QVector<int> m_nowAt;
    QVector<int> m_sourceStarts;
    QHash<int, int> m_copyOf; // source line -> the pasted line that copies it
};

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

QStringList mapPastedBranches(const QVector<ProgramRow>& before, QVector<ProgramRow>& after,
                              int first, const QVector<ProgramRow>& pasted,
                              const std::optional<PasteOrigin>& origin) {
    return PastedBranches(before, first, pasted, origin).map(after);
}

} // namespace kqm::program
