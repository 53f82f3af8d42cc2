#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl send FILE --port DEVICE [--baud N] [--axis N]
int sendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl upload --port DEVICE [--baud N] [--axis N] --output FILE
int uploadCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl view --port DEVICE [--baud N] [--axis N]
int viewCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl pace-test --port DEVICE [--baud N] [--axis N]
int paceTestCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
