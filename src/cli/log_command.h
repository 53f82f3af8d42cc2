#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl log [--axis N] [--since DATE] [--json]: the transfer log's entries,
// oldest first, one a line (with --json one JSON object a line).
int logCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
