#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl edit FILE OPERATION ...: the window's Add, Insert, Change and Delete
// for scripted program building.
int editCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
