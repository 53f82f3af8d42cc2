#pragma once

#include <QStringList>
#include <QTextStream>

namespace kqm::cli {

// kqmctl print FILE --pdf OUT.pdf: the printed listing of a program file,
// written to a PDF. Needs a QGuiApplication for the fonts.
int printCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace kqm::cli
