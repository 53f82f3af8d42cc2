#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl connect --port DEVICE [--baud N] [--axis N]
int connectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl readout --port DEVICE [--baud N] [--axis N]
int readoutCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl scan --port DEVICE [--baud N]: one line per answering unit,
// "AXIS<TAB>MODEL<TAB>REVISION", in address order.
int scanCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl simulate [--model KQM20|KQM21] [--axis N] [--axes N,N,... --models M,M,...]
int simulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
