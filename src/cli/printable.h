#pragma once

#include <QString>

namespace kqm::cli {

// Text as kqmctl prints it: control characters written out (\n, \r, \t, or
// \xNN) and a backslash doubled, so that nothing from a file or the unit can
// move the terminal's cursor, ring its bell or add a line to the output.
QString printable(const QString& text);

} // namespace kqm::cli
