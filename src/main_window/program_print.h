#pragma once

#include <QString>

namespace kqm::ui {

struct Session;

// File > Print: the dated listing of the program as the file holds it, on the
// printer the user chooses (a PDF named after the program offered first).
void printProgram(Session& session, const QString& suggestedPdf);

} // namespace kqm::ui
