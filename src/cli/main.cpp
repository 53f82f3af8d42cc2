#include "cli/check_command.h"
#include "cli/edit_command.h"
#include "cli/history_commands.h"
#include "cli/list_command.h"
#include "cli/print_command.h"
#include "cli/text_commands.h"
#include "cli/transfer_commands.h"
#include "cli/unit_commands.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

void printUsage(QTextStream& err) {
    err << "usage: kqmctl COMMAND [ARGUMENTS]\n"
           "\n"
           "commands:\n"
           "  list FILE                  print the listing of a program file\n"
           "  check FILE                 report problems in a program file before it is sent\n"
           "  edit FILE OPERATION ...    add, insert, change or delete a program line\n"
           "                             (kqmctl edit --help for the details)\n"
           "  undo FILE                  take back the last change to a program file\n"
           "  redo FILE                  make the last undone change again\n"
           "  history FILE               list the changes that undo and redo step through\n"
           "  print FILE --pdf OUT.pdf   write the printed listing of a program file to a PDF\n"
           "  export FILE [-o TEXT]      write a program file as program text (to standard\n"
           "                             output without -o)\n"
           "  import TEXT -o FILE        make a new program file from program text\n"
           "  connect --port DEVICE      identify the unit on DEVICE (a serial device, or sim\n"
           "          [--baud N] [--axis N]  for the built-in simulated unit)\n"
           "  send FILE --port DEVICE    send a program file to the unit\n"
           "       [--verify] [--backup-dir DIR] [--pace 0.1|0.05|0.02|0.01]\n"
           "                             read it back and compare; keep the unit's program\n"
           "                             first; a faster pace (always read back)\n"
           "  upload --port DEVICE --output FILE\n"
           "                             read the unit's program into a new program file\n"
           "  view --port DEVICE         print the unit's own listing\n"
           "  readout --port DEVICE      print the unit's parameters, version and inputs\n"
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
    if (arguments.isEmpty() || arguments.first() == QLatin1String("--help") ||
        arguments.first() == QLatin1String("-h")) {
        printUsage(err);
        return arguments.isEmpty() ? kqm::cli::UsageError : kqm::cli::Success;
    }
    const QString command = arguments.takeFirst();
    if (command == QLatin1String("list"))
        return kqm::cli::listCommand(arguments, out, err);
    if (command == QLatin1String("check"))
        return kqm::cli::checkCommand(arguments, out, err);
    if (command == QLatin1String("edit"))
        return kqm::cli::editCommand(arguments, out, err);
    if (command == QLatin1String("undo"))
        return kqm::cli::undoCommand(arguments, out, err);
    if (command == QLatin1String("redo"))
        return kqm::cli::redoCommand(arguments, out, err);
    if (command == QLatin1String("history"))
        return kqm::cli::historyCommand(arguments, out, err);
    if (command == QLatin1String("export"))
        return kqm::cli::exportCommand(arguments, out, err);
    if (command == QLatin1String("import"))
        return kqm::cli::importCommand(arguments, out, err);
    if (command == QLatin1String("print"))
        return kqm::cli::printCommand(arguments, out, err);
    if (command == QLatin1String("connect"))
        return kqm::cli::connectCommand(arguments, out, err);
    if (command == QLatin1String("send"))
        return kqm::cli::sendCommand(arguments, out, err);
    if (command == QLatin1String("upload"))
        return kqm::cli::uploadCommand(arguments, out, err);
    if (command == QLatin1String("readout"))
        return kqm::cli::readoutCommand(arguments, out, err);
    if (command == QLatin1String("view"))
        return kqm::cli::viewCommand(arguments, out, err);
    if (command == QLatin1String("scan"))
        return kqm::cli::scanCommand(arguments, out, err);
    if (command == QLatin1String("simulate"))
        return kqm::cli::simulateCommand(arguments, out, err);
    err << "kqmctl: unknown command '" << command << "'" << Qt::endl;
    printUsage(err);
    return kqm::cli::UsageError;
}
