#include "cli/text_commands.h"

#include "cli/command_line.h"
#include "cli/console_messages.h"
#include "cli/list_command.h"
#include "files/legacy_program.h"
#include "files/new_program_file.h"
#include "files/program_files.h"
#include "files/program_text_file.h"
#include "files/startup.h"
#include "platform/app_paths.h"
#include "program/listing.h"
#include "program/program_table.h"
#include "program/program_text.h"
#include "program/stored_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <optional>

namespace kqm::cli {

namespace {

// Export reports lines the import would refuse itself, once each, instead of
// the refresh's boxes.
class NoBoxes final : public platform::Messages {
public:
    platform::MessageAnswer show(platform::MessageIcon, const QString&,
                                 platform::MessageButtons) override {
        return platform::MessageAnswer::Ok;
    }
};

struct Arguments {
    QString input;
    QString output;
};

// One name and an optional "-o NAME" (or "--output NAME"), in any order;
// nullopt after the usage error.
std::optional<Arguments> parseArguments(const QString& command, QStringList arguments,
                                        QTextStream& err) {
    Arguments parsed;
    bool haveInput = false;
    while (!arguments.isEmpty()) {
        const QString word = arguments.takeFirst();
        if (word == QLatin1String("-o") || word == QLatin1String("--output")) {
            if (arguments.isEmpty() || !parsed.output.isEmpty()) {
                usageError(command, QStringLiteral("%1 takes one file name").arg(word), err);
                return std::nullopt;
            }
            parsed.output = arguments.takeFirst();
        } else if (looksLikeOption(word)) {
            usageError(command, unknownOption(word), err);
            return std::nullopt;
        } else if (haveInput) {
            usageError(command, unexpectedArgument(word), err);
            return std::nullopt;
        } else {
            parsed.input = word;
            haveInput = true;
        }
    }
    if (!haveInput) {
        usageError(command,
                   command == QLatin1String("export")
                       ? QStringLiteral("a program FILE is required")
                       : QStringLiteral("a TEXT file is required (- for standard input)"),
                   err);
        return std::nullopt;
    }
    return parsed;
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Makes the program file; a file that exists, or appears meanwhile, is never
// replaced (usage error).
int writeNewProgramFile(const QString& target, const QVector<program::ProgramRow>& imported,
                        QTextStream& err) {
    platform::ExecutableAppPaths paths;
    ConsoleMessages messages(err);
    const files::NewProgramFile made = files::writeNewProgramFile(
        files::ProgramDirectoryFiles::of(paths), target, imported, messages);
    if (made.ok())
        return Success;
    err << "kqmctl: " << made.error << Qt::endl;
    return made.failure == files::NewProgramFile::Failure::Exists ? UsageError : Failure;
}

} // namespace

int exportCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto parsed = parseArguments(QStringLiteral("export"), arguments, err);
    if (!parsed)
        return UsageError;
    const QString& path = parsed->input;
    if (const auto refusal =
            parsed->output.isEmpty() ? std::nullopt : files::exportRefusal(parsed->output, path)) {
        err << "kqmctl: " << *refusal << Qt::endl;
        return UsageError;
    }
    auto rows = readProgramRows(path, err);
    if (!rows)
        return UsageError;
    // The listing as the window shows it, so that a file never refreshed
    // carries no pending texts into the text.
    NoBoxes quiet;
    program::computeListing(*rows, quiet);
    for (const program::ProgramRow& row : *rows) {
        const program::StoredCommandCheck check = program::checkStoredCommand(row.command);
        if (!check.ok()) {
            err << "kqmctl: " << native(path) << " line " << row.lineNo << ": " << check.message
                << "; the import will refuse this line" << Qt::endl;
        }
    }
    const QString text = program::writeProgramText(*rows);
    if (parsed->output.isEmpty()) {
        out << text;
        out.flush();
        return Success;
    }
    QSaveFile file(parsed->output);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        err << "kqmctl: " << native(parsed->output)
            << " could not be written: " << file.errorString() << Qt::endl;
        return Failure;
    }
    return Success;
}

int importCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto parsed = parseArguments(QStringLiteral("import"), arguments, err);
    if (!parsed)
        return UsageError;
    if (parsed->output.isEmpty())
        return usageError(QStringLiteral("import"), QStringLiteral("-o FILE is required"), err);
    const QString& target = parsed->output;
    if (QFileInfo::exists(target)) {
        err << "kqmctl: " << native(target) << " exists already; choose a new file" << Qt::endl;
        return UsageError;
    }
    const QString name = parsed->input == QLatin1String("-") ? QStringLiteral("(standard input)")
                                                             : native(parsed->input);
    const files::ProgramTextFile text = files::readProgramTextFile(parsed->input);
    if (!text.unreadable.isEmpty()) {
        err << "kqmctl: " << text.problems(name).join('\n') << Qt::endl;
        return UsageError;
    }
    if (!text.ok()) {
        for (const QString& problem : text.problems(name))
            err << problem << Qt::endl;
        return Failure;
    }
    const int status = writeNewProgramFile(target, text.read.rows, err);
    if (status == Success)
        out << "Imported " << text.read.rows.size() << " lines into " << native(target) << Qt::endl;
    return status;
}

int convertCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString command = QStringLiteral("convert");
    QStringList names;
    for (const QString& word : arguments) {
        if (looksLikeOption(word))
            return usageError(command, unknownOption(word), err);
        names << word;
    }
    if (names.size() != 2)
        return usageError(command,
                          names.size() < 2 ? QStringLiteral("LEGACY and NEW are required")
                                           : unexpectedArgument(names.at(2)),
                          err);
    const QString& legacyPath = names.at(0);
    const QString& target = names.at(1);
    if (!files::legacyFormatOf(legacyPath)) {
        err << "kqmctl: " << native(legacyPath)
            << " is not an Access program file (no Jet or ACE database header)" << Qt::endl;
        return UsageError;
    }
    if (QFileInfo::exists(target)) {
        err << "kqmctl: " << native(target) << " exists already; choose a new file" << Qt::endl;
        return UsageError;
    }
    const files::LegacyProgram legacy = files::readLegacyProgram(legacyPath);
    if (!legacy.ok()) {
        err << "kqmctl: " << legacy.error << Qt::endl;
        return UsageError;
    }
    const int written = writeNewProgramFile(target, files::rowsForConversion(legacy.rows), err);
    if (written == Success)
        out << "Converted " << legacy.rows.size() << (legacy.rows.size() == 1 ? " line" : " lines")
            << " of " << native(legacyPath) << " (" << legacy.format.name() << ") into "
            << native(target) << Qt::endl;
    return written;
}

} // namespace kqm::cli
