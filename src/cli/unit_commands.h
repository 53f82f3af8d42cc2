#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl connect --port DEVICE [--baud N] [--axis N]
int connectCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl readout --port DEVICE [--baud N] [--axis N]
int readoutCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);
// kqmctl simulate [--model KQM20|KQM21] [--axis N]
int simulateCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
