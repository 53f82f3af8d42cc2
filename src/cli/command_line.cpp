#include "cli/command_line.h"

#include "cli/list_command.h"
#include "files/legacy_program.h"
#include "program/program_table.h"

#include <QCommandLineParser>
#include <QDir>

namespace kqm::cli {

namespace {

const CommandHelp Commands[] = {
    {"list", "kqmctl list [--json] FILE",
     "Prints the listing of a program file as the window computes it: line, address,\n"
     "command, listing and comment, tab-separated, then the memory line. The file is\n"
     "not changed.\n"
     "  --json   one JSON object instead (docs/json.md)\n"
     "Exit status: 0 the program fits, 3 it is larger than the unit's memory, 2 wrong\n"
     "arguments or no program file."},
    {"check", "kqmctl check [--json] FILE",
     "Reports what the send or the unit would trip over, one problem a line as\n"
     "LINE: error|warning: message.\n"
     "  --json   one JSON object instead (docs/json.md)\n"
     "Exit status: 0 clean, 1 warnings only, 3 at least one error, 2 wrong arguments or\n"
     "no program file."},
    {"edit",
     "kqmctl edit FILE add KIND [VALUES...] [--comment TEXT] [--axis N]\n"
     "kqmctl edit FILE insert LINE KIND [VALUES...] [--comment TEXT] [--axis N]\n"
     "kqmctl edit FILE change LINE KIND [VALUES...] [--comment TEXT] [--axis N]\n"
     "kqmctl edit FILE delete LINE\n"
     "KIND: accel V, base V, max V, move V, move-to V, registration V, set-position V, repeat,\n"
     "      slew, stop, finish, cw, ccw, home0, home1, outputs O1 O2, if-inputs I1 I2 I3 I4,\n"
     "      loop ADDRESS TIMES, goto ADDRESS, wait MS, quit",
     "Adds, inserts, changes or deletes a program line as the window's buttons do, with\n"
     "the command editor's checks. --axis is the axis written into moves (default: the\n"
     "one in config.kqm, else 0). A changed line keeps its comment unless --comment\n"
     "gives another.\n"
     "Exit status: 0 done, 1 refused by a check, 2 wrong arguments or no such line."},
    {"undo", "kqmctl undo FILE",
     "Takes back the last change to a program file.\n"
     "Exit status: 0 done, 1 nothing to undo, 2 wrong arguments or no program file."},
    {"redo", "kqmctl redo FILE",
     "Makes the last undone change again.\n"
     "Exit status: 0 done, 1 nothing to redo, 2 wrong arguments or no program file."},
    {"history", "kqmctl history FILE",
     "Lists the changes that undo and redo step through, oldest first; the undone\n"
     "ones are marked."},
    {"export", "kqmctl export FILE [-o TEXT]",
     "Writes a program file as program text, to standard output without -o (--output)."},
    {"import", "kqmctl import TEXT -o FILE",
     "Makes a new program file from program text (- for standard input); never\n"
     "overwrites a file."},
    {"convert", "kqmctl convert LEGACY NEW",
     "Makes a new program file NEW from a program file of the older kind, an Access\n"
     "(Jet 3 or Jet 4) database with the table Main; LEGACY is only read, NEW is never\n"
     "overwritten. list, check and export read such a file directly.\n"
     "Exit status: 0 converted, 1 NEW could not be written, 2 wrong arguments, NEW\n"
     "exists, or LEGACY cannot be read (its reason on standard error)."},
    {"run",
     "kqmctl run FILE [--inputs T:P,...] [--limit SECONDS] [--trace FILE.csv] [--plot FILE.svg]\n"
     "           [--json] [--accel-unit N] [--home N] [--moves-hold]",
     "Runs a program file on the executor of the simulated unit, with no unit and no\n"
     "motor, and reports how it ended, where, after how many seconds of program time and\n"
     "lines, the final, lowest and highest positions and the outputs. Times that depend\n"
     "on the motion model are marked \"estimated (model)\"; positions, outputs and the\n"
     "order of lines never do.\n"
     "  --inputs 0:5,2.5:0   the inputs' pattern (0 to 15) from each time in seconds\n"
     "  --limit S            the longest program time to run (default 60)\n"
     "  --trace FILE.csv     one row per executed line: time, line, command, position,\n"
     "                       outputs (written as the run goes)\n"
     "  --plot FILE.svg      position over time with the run-out, the outputs beneath\n"
     "  --json               the report as one JSON object (docs/dry-run.md)\n"
     "  --accel-unit N       steps/s^2 for each unit of A (default 1000)\n"
     "  --home N             where H0 and H1 move to (default 0)\n"
     "  --moves-hold         a move holds the program until it ends (default: only F\n"
     "                       and the next move wait for it)\n"
     "Exit status: 0 Quit was reached, 1 the limit or too many lines at one moment,\n"
     "3 a line that is not simulated,\n"
     "2 wrong arguments or no program file."},
    {"trace",
     "kqmctl trace FILE --port DEVICE [--baud N] [--axis N] [--limit S] [--json] [--csv OUT]\n"
     "             [--plot OUT.svg] [--fit] [--accel-unit N] [--moves-hold]",
     "Checks that the unit holds FILE's program (its program read back and compared, as\n"
     "machine status does), runs it (the Run button's frame) and reads the unit while it\n"
     "runs, one query at a time and as fast as the line carries them: its position (a\n"
     "KQM20; a KQM21 tells none), its inputs and its error code. The trace ends when the\n"
     "position has stood still for a second after the dry run's end of the program, at\n"
     "the limit, or on Ctrl+C, SIGTERM or SIGHUP, which stop the unit too. It then\n"
     "reports the readings a second, when the unit came to rest and when the model did,\n"
     "the final positions, the largest difference between the curves with its moment\n"
     "and line, each move's end, and what differs beyond what the readings can tell.\n"
     "  --limit S            the longest the unit runs (default 60 s)\n"
     "  --json               the report as one JSON object (docs/trace.md)\n"
     "  --csv OUT            the readings (seconds, position, inputs, error code), written\n"
     "                       as they come\n"
     "  --plot OUT.svg       the unit's curve over the model's, its inputs beneath\n"
     "  --fit                the acceleration unit that fits the readings best\n"
     "  --accel-unit N       the model's steps/s^2 for each unit of A (default 1000)\n"
     "  --moves-hold         the model's moves hold the program\n"
     "Each trace is a line in the transfer log (kind trace).\n"
     "Exit status: 0 the unit came to rest, 1 no unit, the port or the line failed,\n"
     "2 wrong arguments, 3 the limit or a stop ended it (the unit was stopped), 4 the\n"
     "unit holds another program, or none: send FILE first."},
    {"machine",
     "kqmctl machine status MACHINE --port DEVICE [--baud N] [--json]\n"
     "kqmctl machine send MACHINE --port DEVICE [--baud N] [--pace S] [--all] [--keep-going]\n"
     "                    [--backup-dir DIR] [--json]",
     "Reads the program of every unit the machine file names (docs/machine-file.md) back\n"
     "and compares it with its program file, as the verify of a send does; nothing in\n"
     "any unit changes. One line a unit: AXIS, MODEL, STATE and DETAIL, tab-separated;\n"
     "STATE is in-step, differs (DETAIL: the first line that differs), no-program,\n"
     "no-unit or wrong-model.\n"
     "send sends, with backup and read-back, every unit that is not in step, in the\n"
     "file's order, and ends with the same table. It stops at the first unit that fails\n"
     "(the rest are not sent); Ctrl+C ends the unit at hand as a send ends.\n"
     "  --json         one JSON object instead\n"
     "  --pace S       the pause after each character: 0.1, 0.05, 0.02, 0.01, the unit's\n"
     "                 proven pace or proven; without it, the faster of the port's pace\n"
     "                 (config.kqm) and the unit's proven one, else 0.1\n"
     "  --all          send the units in step too\n"
     "  --keep-going   go on after a unit that failed\n"
     "  --backup-dir DIR  keep each unit's program under DIR/axis-N (default: the\n"
     "                 window's backups)\n"
     "Exit status: 0 every unit is in step (at the end), 1 otherwise, 2 wrong arguments or\n"
     "a machine file that is refused (its problem on standard error)."},
    {"pace-test", "kqmctl pace-test --port DEVICE [--baud N] [--axis N]",
     "Keeps the unit's program, then sends a test program that fills its memory at\n"
     "0.02, 0.01, 0.005 and 0.002 s (never less than twice a character's time), then\n"
     "with the characters back to back (0), each read back, until a pace fails to\n"
     "verify twice in a row; then sends the unit's own program back at the pace just\n"
     "proven, verified. The fastest pace that verified twice is kept for that port,\n"
     "axis, model, revision and baud rate: sends to the unit take it.\n"
     "One line a trial: PACE, ATTEMPT, RESULT and SECONDS, tab-separated. Ctrl+C ends the\n"
     "trials; the unit's program is still sent back.\n"
     "Exit status: 0 the unit holds its own program again, 1 otherwise, 2 wrong arguments."},
    {"log", "kqmctl log [--axis N] [--since DATE] [--json]",
     "Lists the transfer log that the window and kqmctl both write: every send and upload,\n"
     "oldest first, one a line: time (UTC), kind, axis, model and revision, device,\n"
     "result and program file, tab-separated (docs/transfer-log.md).\n"
     "  --axis N      only the transfers with the unit on axis N\n"
     "  --since DATE  only those from DATE on (2026-12-08, or 2026-12-08T14:30:00Z)\n"
     "  --json        one JSON object a line, with every field\n"
     "Exit status: 0, or 2 for wrong arguments."},
    {"print", "kqmctl print FILE --pdf OUT.pdf",
     "Writes the dated printed listing of a program file to a PDF."},
    {"connect", "kqmctl connect --port DEVICE [--baud N] [--axis N]",
     "Identifies the unit on DEVICE (a serial device, or sim for the built-in\n"
     "simulated unit) and prints its model.\n"
     "Exit status: 0 connected, 1 not, 2 wrong arguments."},
    {"send",
     "kqmctl send FILE --port DEVICE [--baud N] [--axis N] [--verify] [--backup-dir DIR]\n"
     "                   [--pace 0.1|0.05|0.02|0.01|proven] [--quiet]",
     "Sends a program file to the unit, showing the progress on standard error (on a\n"
     "terminal in place, else a line at each tenth).\n"
     "  --verify           read the program back and compare\n"
     "  --backup-dir DIR   keep the unit's program in DIR first\n"
     "  --pace SECONDS     the pause after each character: one of those, the unit's proven\n"
     "                     pace, or proven; a faster one always reads back. Without it,\n"
     "                     the faster of the port's pace and the proven one, else 0.1;\n"
     "                     a pace the line cannot carry gives the fastest it can\n"
     "  --quiet            no progress\n"
     "Exit status: 0 sent, 1 the unit did not answer or refused, 2 wrong arguments,\n"
     "4 the unit holds something else."},
    {"upload", "kqmctl upload --port DEVICE [--baud N] [--axis N] --output FILE",
     "Reads the unit's program into a new program file; never overwrites a file."},
    {"view", "kqmctl view --port DEVICE [--baud N] [--axis N]", "Prints the unit's own listing."},
    {"readout", "kqmctl readout --port DEVICE [--baud N] [--axis N]",
     "Prints the unit's parameters, version and inputs, one label a line."},
    {"scan", "kqmctl scan --port DEVICE [--baud N]",
     "Asks axes 0 to 31 for their version; one line per unit that answers: AXIS, MODEL\n"
     "and REVISION, tab-separated. Exit status 1 when no unit answers."},
    {"simulate",
     "kqmctl simulate [--model KQM20|KQM21] [--axis N]\n"
     "kqmctl simulate --axes N,N,... [--models MODEL,MODEL,...]",
     "Serves simulated units on a pseudo-terminal, whose path is the first line printed,\n"
     "until Ctrl+C.\n"
     "  --accel-unit N         steps/s^2 for each unit of A when the stored program runs\n"
     "                         (default 1000, the dry run's): a motor the model does not fit\n"
     "  --wire                 each character takes the time of the baud rate the client\n"
     "                         set (ten bits), both ways, as on a serial wire\n"
     "  --stall-after BYTES    stop answering after this many reply bytes\n"
     "  --slow-receiver MS     lose characters that come closer than MS milliseconds\n"
     "  --garbage-after FRAMES, --noise-rate BYTES, --noise-after FRAMES   line faults"},
};

void printUsage(const CommandHelp& help, QTextStream& stream) {
    const QStringList lines = QString::fromUtf8(help.synopsis).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Lines that are no form of the command (edit's KIND list) stand as
        // they are.
        if (lines.at(i).startsWith(QLatin1String("kqmctl ")))
            stream << (i == 0 ? "usage: " : "       ");
        stream << lines.at(i) << '\n';
    }
}

} // namespace

const CommandHelp* findCommandHelp(const QString& name) {
    for (const CommandHelp& help : Commands) {
        if (name == QLatin1String(help.name))
            return &help;
    }
    return nullptr;
}

bool asksForHelp(const QStringList& arguments) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        const bool isComment = i > 0 && arguments.at(i - 1) == QLatin1String("--comment");
        if (!isComment && (word == QLatin1String("--help") || word == QLatin1String("-h")))
            return true;
    }
    return false;
}

void printCommandHelp(const CommandHelp& help, QTextStream& out) {
    printUsage(help, out);
    out << '\n' << help.details << Qt::endl;
}

int usageError(const QString& command, const QString& why, QTextStream& err) {
    err << "kqmctl: " << why << '\n';
    if (const CommandHelp* help = findCommandHelp(command))
        printUsage(*help, err);
    err.flush();
    return UsageError;
}

bool looksLikeOption(const QString& word) {
    if (word.size() < 2 || !word.startsWith(QLatin1Char('-')))
        return false;
    bool number = false;
    word.toDouble(&number);
    return !number;
}

QString unknownOption(const QString& word) {
    return QStringLiteral("unknown option '%1'").arg(word);
}

QString unexpectedArgument(const QString& word) {
    return QStringLiteral("unexpected argument '%1'").arg(word);
}

QString parserError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    const QString dashes = unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--");
    return unknownOption(dashes + unknown.first());
}

bool parseFileArguments(const QString& command, const QStringList& arguments,
                        const QStringList& allowedSwitches, FileArguments* parsed,
                        QTextStream& err) {
    bool haveFile = false;
    for (const QString& word : arguments) {
        if (allowedSwitches.contains(word)) {
            if (!parsed->switches.contains(word))
                parsed->switches << word;
        } else if (looksLikeOption(word)) {
            usageError(command, unknownOption(word), err);
            return false;
        } else if (haveFile) {
            usageError(command, unexpectedArgument(word), err);
            return false;
        } else {
            parsed->file = word;
            haveFile = true;
        }
    }
    if (!haveFile) {
        usageError(command, QStringLiteral("a program FILE is required"), err);
        return false;
    }
    return true;
}

QString openFailureOf(const program::ProgramTable& table, const QString& path) {
    if (const auto legacy = files::legacyFormatOf(path)) {
        return QStringLiteral("%1 is an %2 file, a program file of the older kind, which kqmctl "
                              "only reads; make a program file of it first: kqmctl convert %1 "
                              "NEW.mdb")
            .arg(QDir::toNativeSeparators(path), legacy->name());
    }
    return table.openFailure(path);
}

std::optional<QVector<program::ProgramRow>> readProgramRows(const QString& path, QTextStream& err) {
    // A program file of the older kind is read as it is, never written.
    if (files::legacyFormatOf(path)) {
        files::LegacyProgram legacy = files::readLegacyProgram(path);
        if (!legacy.ok()) {
            err << "kqmctl: " << legacy.error << Qt::endl;
            return std::nullopt;
        }
        return legacy.rows;
    }
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << table.openFailure(path) << Qt::endl;
        return std::nullopt;
    }
    auto rows = table.readRows();
    if (!rows) {
        err << "kqmctl: " << QDir::toNativeSeparators(path)
            << " could not be read: " << table.lastError() << Qt::endl;
    }
    return rows;
}

} // namespace kqm::cli
