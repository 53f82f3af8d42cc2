#include "cli/check_command.h"

#include "cli/list_command.h"
#include "cli/printable.h"
#include "program/program_check.h"
#include "program/program_table.h"

#include <QDir>

#include <algorithm>

namespace kqm::cli {

namespace {

enum CheckStatus { Clean = 0, WarningsOnly = 1, HasErrors = 3 };

} // namespace

int checkCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.size() != 1) {
        err << "usage: kqmctl check FILE" << Qt::endl;
        return UsageError;
    }
    const QString path = arguments.at(0);
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly)) {
        err << "kqmctl: " << table.openFailure(path) << Qt::endl;
        return UsageError;
    }
    const auto rows = table.readRows();
    if (!rows) {
        err << "kqmctl: " << QDir::toNativeSeparators(path)
            << " could not be read: " << table.lastError() << Qt::endl;
        return UsageError;
    }
    const QVector<program::ProgramProblem> problems = program::checkProgram(*rows);
    for (const program::ProgramProblem& problem : problems) {
        out << problem.line << ": " << program::severityName(problem.severity) << ": "
            << printable(problem.message) << '\n';
    }
    out.flush();
    if (problems.isEmpty())
        return Clean;
    const bool anyError =
        std::any_of(problems.begin(), problems.end(), [](const program::ProgramProblem& p) {
            return p.severity == program::ProblemSeverity::Error;
        });
    return anyError ? HasErrors : WarningsOnly;
}

} // namespace kqm::cli
