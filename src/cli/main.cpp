#include "cli/list_command.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

void printUsage(QTextStream& err) {
    err << "usage: kqmctl COMMAND [ARGUMENTS]\n"
           "\n"
           "commands:\n"
           "  list FILE    print the listing of a program file\n";
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
    err << "kqmctl: unknown command '" << command << "'" << Qt::endl;
    printUsage(err);
    return kqm::cli::UsageError;
}
