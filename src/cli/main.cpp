#include "cli/edit_command.h"
#include "cli/link_commands.h"
#include "cli/list_command.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

void printUsage(QTextStream& err) {
    err << "usage: kqmctl COMMAND [ARGUMENTS]\n"
           "\n"
           "commands:\n"
           "  list FILE                  print the listing of a program file\n"
           "  edit FILE OPERATION ...    add, insert, change or delete a program line\n"
           "                             (kqmctl edit --help for the details)\n"
           "  connect --port DEVICE      identify the unit on DEVICE (a serial device, or sim\n"
           "          [--baud N] [--axis N]  for the built-in simulated unit)\n"
           "  simulate [--model KQM20|KQM21] [--axis N]\n"
           "                             serve a simulated unit on a pseudo-terminal\n";
    err.flush();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
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
        return kqm::cli::ListCommand(arguments, out, err);
    if (command == QLatin1String("edit"))
        return kqm::cli::EditCommand(arguments, out, err);
    if (command == QLatin1String("connect"))
        return kqm::cli::ConnectCommand(arguments, out, err);
    if (command == QLatin1String("simulate"))
        return kqm::cli::SimulateCommand(arguments, out, err);
    err << "kqmctl: unknown command '" << command << "'" << Qt::endl;
    printUsage(err);
    return kqm::cli::UsageError;
}
