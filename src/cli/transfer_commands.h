#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl send FILE --port DEVICE [--baud N] [--axis N]
int SendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl upload --port DEVICE [--baud N] [--axis N] --output FILE
int UploadCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl view --port DEVICE [--baud N] [--axis N]
int ViewCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
