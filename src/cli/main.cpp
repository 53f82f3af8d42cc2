#include "cli/check_command.h"
#include "cli/command_line.h"
#include "cli/edit_command.h"
#include "cli/history_commands.h"
#include "cli/list_command.h"
#include "cli/log_command.h"
#include "cli/machine_commands.h"
#include "cli/print_command.h"
#include "cli/run_command.h"
#include "cli/trace_command.h"
#include "cli/text_commands.h"
#include "cli/transfer_commands.h"
#include "cli/unit_commands.h"
#include "version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <csignal>
#include <memory>
#include <utility>

namespace {

void printUsage(QTextStream& err) {
    err << "usage: kqmctl COMMAND [ARGUMENTS]\n"
           "       kqmctl COMMAND --help     the usage of one command\n"
           "       kqmctl --version\n"
           "\n"
           "commands:\n"
           "  list [--json] FILE         print the listing of a program file\n"
           "  check [--json] FILE        report problems in a program file before it is sent\n"
           "                             (--json: for scripts, see docs/json.md)\n"
           "  edit FILE OPERATION ...    add, insert, change or delete a program line\n"
           "                             (kqmctl edit --help for the details)\n"
           "  undo FILE                  take back the last change to a program file\n"
           "  redo FILE                  make the last undone change again\n"
           "  history FILE               list the changes that undo and redo step through\n"
           "  print FILE --pdf OUT.pdf   write the printed listing of a program file to a PDF\n"
           "  export FILE [-o TEXT]      write a program file as program text (to standard\n"
           "                             output without -o)\n"
           "  import TEXT -o FILE        make a new program file from program text\n"
           "  convert LEGACY NEW         make a new program file from an Access program file\n"
           "  run FILE [--inputs T:P,...] [--limit S] [--trace CSV] [--plot SVG] [--json]\n"
           "                             run a program file on the simulated executor, without\n"
           "                             a unit, and report where it ends and how it moved\n"
           "  trace FILE --port DEVICE [--limit S] [--json] [--csv OUT] [--plot SVG] [--fit]\n"
           "                             run the unit's program (checked to be FILE's), read\n"
           "                             it as it moves and compare it with the dry run\n"
           "  connect --port DEVICE      identify the unit on DEVICE (a serial device, or sim\n"
           "          [--baud N] [--axis N]  for the built-in simulated unit)\n"
           "  send FILE --port DEVICE    send a program file to the unit\n"
           "       [--verify] [--backup-dir DIR] [--pace 0.1|0.05|0.02|0.01|proven]\n"
           "                             read it back and compare; keep the unit's program\n"
           "                             first; a faster pace (always read back)\n"
           "  upload --port DEVICE --output FILE\n"
           "                             read the unit's program into a new program file\n"
           "  view --port DEVICE         print the unit's own listing\n"
           "  readout --port DEVICE      print the unit's parameters, version and inputs\n"
           "  machine status MACHINE --port DEVICE [--baud N] [--json]\n"
           "                             compare every unit of a machine file with its program\n"
           "  machine send MACHINE --port DEVICE [--pace S] [--all] [--keep-going]\n"
           "                             send every unit that is not in step, with backup and\n"
           "                             read-back\n"
           "  pace-test --port DEVICE [--axis N]\n"
           "                             find the fastest pace the unit takes, with read-back\n"
           "  log [--axis N] [--since DATE] [--json]\n"
           "                             list the transfer log: every send and upload, by whom,\n"
           "                             where and with what result\n"
           "  scan --port DEVICE [--baud N]\n"
           "                             ask axes 0 to 31 for their version; one line per unit\n"
           "                             that answers: AXIS, MODEL and REVISION, tab-separated\n"
           "  simulate [--model KQM20|KQM21] [--axis N]\n"
           "                             serve a simulated unit on a pseudo-terminal\n"
           "  simulate --axes N,N,... [--models MODEL,MODEL,...]\n"
           "                             serve several units on one line\n";
    err.flush();
}

// Qt's notes about its own environment (a missing runtime directory when
// printing without a desktop) are not kqmctl's to report: scripts read its
// standard error.
void quietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths:")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(quietQtNotes);
#ifdef SIGPIPE
    // Progress written into a pipe whose reader went away (a pager, "| head")
    // must not end a send half-way: the write fails, the send goes on.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Printing lays out text with fonts, which takes a GUI application; it
    // needs no display.
    const bool printing = argc > 1 && qstrcmp(argv[1], "print") == 0;
    if (printing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = printing
                                                ? std::make_unique<QGuiApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kqmctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        printUsage(err);
        return kqm::cli::UsageError;
    }
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        printUsage(out);
        return kqm::cli::Success;
    }
    if (command == QLatin1String("--version")) {
        out << "kqmctl " KQM_VERSION << Qt::endl;
        return kqm::cli::Success;
    }
    using Command = int (*)(const QStringList&, QTextStream&, QTextStream&);
    static const std::pair<const char*, Command> commands[] = {
        {"list", kqm::cli::listCommand},
        {"check", kqm::cli::checkCommand},
        {"edit", kqm::cli::editCommand},
        {"undo", kqm::cli::undoCommand},
        {"redo", kqm::cli::redoCommand},
        {"history", kqm::cli::historyCommand},
        {"export", kqm::cli::exportCommand},
        {"import", kqm::cli::importCommand},
        {"convert", kqm::cli::convertCommand},
        {"print", kqm::cli::printCommand},
        {"connect", kqm::cli::connectCommand},
        {"send", kqm::cli::sendCommand},
        {"upload", kqm::cli::uploadCommand},
        {"readout", kqm::cli::readoutCommand},
        {"view", kqm::cli::viewCommand},
        {"scan", kqm::cli::scanCommand},
        {"run", kqm::cli::runCommand},
        {"trace", kqm::cli::traceCommand},
        {"log", kqm::cli::logCommand},
        {"machine", kqm::cli::machineCommand},
        {"simulate", kqm::cli::simulateCommand},
        {"pace-test", kqm::cli::paceTestCommand},
    };
    for (const auto& [name, run] : commands) {
        if (command != QLatin1String(name))
            continue;
        if (kqm::cli::asksForHelp(arguments)) {
            kqm::cli::printCommandHelp(*kqm::cli::findCommandHelp(command), out);
            return kqm::cli::Success;
        }
        return run(arguments, out, err);
    }
    if (kqm::cli::looksLikeOption(command))
        err << "kqmctl: unknown option '" << command << "'" << Qt::endl;
    else
        err << "kqmctl: unknown command '" << command << "'" << Qt::endl;
    printUsage(err);
    return kqm::cli::UsageError;
}
