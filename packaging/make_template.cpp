// Writes the empty program file that an installed copy ships as its
// read-only template: the same file the tool makes when it has none.
#include "program/program_table.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: make_template OUT\n";
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QFile::remove(path);
    QString error;
    if (!kqm::program::ProgramTable::createEmptyProgramFile(path, &error)) {
        err << "make_template: " << path << ": " << error << '\n';
        return 1;
    }
    return 0;
}
