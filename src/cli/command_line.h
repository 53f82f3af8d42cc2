#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QVector>

#include <optional>

class QCommandLineParser;

namespace kqm::program {
struct ProgramRow;
class ProgramTable;
} // namespace kqm::program

namespace kqm::cli {

// What `kqmctl COMMAND --help` prints, and the usage that follows every
// complaint about a command's arguments.
struct CommandHelp {
    const char* name;
    // One line per form of the command, each starting "kqmctl"; notes on
    // the forms may follow.
    const char* synopsis;
    const char* details;
};

// nullptr for a name that is no command.
const CommandHelp* findCommandHelp(const QString& name);

// --help or -h among the arguments; a word that is the value of --comment
// is the comment's text.
bool asksForHelp(const QStringList& arguments);

// The usage, then the details, on standard output.
void printCommandHelp(const CommandHelp& help, QTextStream& out);

// "kqmctl: WHY" and the command's usage on standard error; the usage error
// exit status, for returning.
int usageError(const QString& command, const QString& why, QTextStream& err);

// A word that is meant as an option: "--name", or "-x" that is no number.
bool looksLikeOption(const QString& word);
QString unknownOption(const QString& word);
QString unexpectedArgument(const QString& word);
// Why a QCommandLineParser refused the arguments, in the words above.
QString parserError(const QCommandLineParser& parser);

// One program FILE and the switches a read-only command takes (list,
// check, undo, ...); false after the usage error.
struct FileArguments {
    QString file;
    QStringList switches; // those of the allowed ones that were given
};
bool parseFileArguments(const QString& command, const QStringList& arguments,
                        const QStringList& allowedSwitches, FileArguments* parsed,
                        QTextStream& err);

// The rows of a program file, opened only for reading; nothing, after
// saying why on standard error, when it is no program file or cannot be
// read (a usage error for the commands that read one).
std::optional<QVector<program::ProgramRow>> readProgramRows(const QString& path, QTextStream& err);

// Why a program file could not be opened, for the user: an Access file of the
// older kind is named as one, with the command that converts it.
QString openFailureOf(const program::ProgramTable& table, const QString& path);

} // namespace kqm::cli
