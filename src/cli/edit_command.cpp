#include "cli/edit_command.h"

#include "cli/command_line.h"
#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "platform/app_paths.h"
#include "program/command_rules.h"
#include "program/editing.h"
#include "program/program_text.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace kqm::cli {

using program::CommandKind;

namespace {

struct EditRequest {
    QString file;
    QString operation;
    int line = 0; // 1-based; 0 for add
    std::optional<program::CommandEntry> entry;
    std::optional<QString> comment; // none: a changed line keeps its own
    std::optional<QString> axis;
};

// The axis written into go moves when none is given: the settings file's.
QString storedAxis() {
    platform::ExecutableAppPaths paths;
    const auto files = files::ProgramDirectoryFiles::of(paths);
    files::SettingsTable settings;
    if (!QFileInfo::exists(files.settings) || !settings.open(files.settings))
        return QStringLiteral("0");
    QString axis = settings.record(files::SettingsTable::Axis).value_or(QString()).left(2);
    if (axis.size() == 2 && axis.at(1) == QLatin1Char(' '))
        axis.truncate(1);
    return axis.isEmpty() ? QStringLiteral("0") : axis;
}

std::optional<program::CommandEntry> entryFrom(const QStringList& words, QString* why) {
    if (words.isEmpty()) {
        *why = QStringLiteral("a command KIND is required");
        return std::nullopt;
    }
    const auto kind = program::kindFromName(words.first());
    if (!kind) {
        *why = QStringLiteral("unknown command kind '%1'").arg(words.first());
        return std::nullopt;
    }
    const QStringList values = words.mid(1);
    if (values.size() != program::valueCount(*kind)) {
        *why = QStringLiteral("'%1' takes %2 value(s)")
                   .arg(words.first())
                   .arg(program::valueCount(*kind));
        return std::nullopt;
    }
    program::CommandEntry entry;
    entry.kind = *kind;
    switch (*kind) {
    case CommandKind::Output:
        entry.outputs = {values.at(0), values.at(1)};
        break;
    case CommandKind::IfThen:
        entry.inputs = {values.at(0), values.at(1), values.at(2), values.at(3)};
        break;
    case CommandKind::Loop:
        entry.value = values.at(0);
        entry.times = values.at(1);
        break;
    default:
        if (!values.isEmpty())
            entry.value = values.at(0);
        break;
    }
    return entry;
}

std::optional<EditRequest> parse(QStringList arguments, QString* why) {
    EditRequest request;
    QStringList words;
    while (!arguments.isEmpty()) {
        const QString word = arguments.takeFirst();
        if (word == QLatin1String("--comment") || word == QLatin1String("--axis")) {
            if (arguments.isEmpty()) {
                *why = word + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            const QString value = arguments.takeFirst();
            if (word == QLatin1String("--comment")) {
                if (value.size() > program::EditorCommentLength) {
                    *why = QStringLiteral("--comment takes at most %1 characters, as the "
                                          "editor's comment box does")
                               .arg(program::EditorCommentLength);
                    return std::nullopt;
                }
                request.comment = value;
            } else {
                bool ok = false;
                const int axis = value.toInt(&ok);
                if (!ok || axis < 0 || axis > 31) {
                    *why = QStringLiteral("--axis takes a number from 0 to 31");
                    return std::nullopt;
                }
                request.axis = QString::number(axis);
            }
        } else if (word.startsWith(QLatin1String("--"))) {
            // Values may be negative numbers, so only "--" marks an option.
            *why = unknownOption(word);
            return std::nullopt;
        } else {
            words << word;
        }
    }
    if (words.size() < 2) {
        *why = QStringLiteral("a FILE and an operation are required");
        return std::nullopt;
    }
    request.file = words.takeFirst();
    request.operation = words.takeFirst();
    if (request.operation != QLatin1String("add")) {
        bool ok = false;
        request.line = words.isEmpty() ? 0 : words.takeFirst().toInt(&ok);
        if (!ok || request.line < 1) {
            *why = QStringLiteral("'%1' takes a LINE number").arg(request.operation);
            return std::nullopt;
        }
    }
    if (request.operation == QLatin1String("delete")) {
        if (!words.isEmpty()) {
            *why = QStringLiteral("'delete' takes only a LINE number");
            return std::nullopt;
        }
        return request;
    }
    if (request.operation != QLatin1String("add") && request.operation != QLatin1String("insert") &&
        request.operation != QLatin1String("change")) {
        *why = QStringLiteral("unknown operation '%1'").arg(request.operation);
        return std::nullopt;
    }
    request.entry = entryFrom(words, why);
    if (!request.entry)
        return std::nullopt;
    return request;
}

} // namespace

int editCommand(const QStringList& arguments, QTextStream&, QTextStream& err) {
    QString why;
    const auto request = parse(arguments, &why);
    if (!request)
        return usageError(QStringLiteral("edit"), why, err);
    program::ProgramTable table;
    if (!table.open(request->file, program::SqliteFile::Mode::ReadWriteExisting)) {
        err << "kqmctl: " << openFailureOf(table, request->file) << Qt::endl;
        return UsageError;
    }
    const auto rowCount = table.rowCount();
    if (!rowCount) {
        err << "kqmctl: " << table.lastError() << Qt::endl;
        return Failure;
    }
    const std::optional<program::EditOperation> operation =
        request->operation == QLatin1String("insert")   ? program::EditOperation::Insert
        : request->operation == QLatin1String("change") ? program::EditOperation::Change
        : request->operation == QLatin1String("delete") ? program::EditOperation::Delete
                                                        : std::optional<program::EditOperation>();
    if (operation && *rowCount == 0) {
        // The operations' own words for an empty program.
        err << *program::preconditionMessage(*operation, 0, std::nullopt) << Qt::endl;
        return Failure;
    }
    if (request->line > *rowCount) {
        err << "kqmctl: there is no line " << request->line << " (the program has " << *rowCount
            << " lines)" << Qt::endl;
        return UsageError;
    }

    ConsoleMessages messages(err);
    QString command;
    if (request->entry) {
        const program::BuiltCommand built =
            program::buildCommand(*request->entry, request->axis.value_or(storedAxis()));
        if (!built.ok()) {
            err << built.message << Qt::endl;
            return Failure;
        }
        command = built.command;
    }
    program::ProgramState state;
    const int row = request->line - 1;
    program::EditResult result;
    if (request->operation == QLatin1String("add"))
        result = program::addLine(table, state, messages, command, request->comment.value_or(QString()));
    else if (request->operation == QLatin1String("insert"))
        result = program::insertLine(table, state, messages, row, command,
                                     request->comment.value_or(QString()));
    else if (request->operation == QLatin1String("change"))
        result = program::changeLine(table, state, messages, row, command, request->comment);
    else
        result = program::deleteLine(table, state, messages, row);
    if (!result.ok) {
        err << "kqmctl: the program could not be changed (" << result.error
            << "); it is as it was before." << Qt::endl;
        return Failure;
    }
    return Success;
}

} // namespace kqm::cli
