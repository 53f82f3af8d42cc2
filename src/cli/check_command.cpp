#include "cli/check_command.h"

#include "cli/command_line.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "program/program_check.h"
#include "program/program_table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace kqm::cli {

namespace {

enum CheckStatus { Clean = 0, WarningsOnly = 1, HasErrors = 3 };

// The layout is documented in docs/json.md; scripts depend on it.
QByteArray problemsJson(const QVector<program::ProgramProblem>& problems) {
    QJsonArray list;
    int errors = 0;
    for (const program::ProgramProblem& problem : problems) {
        if (problem.severity == program::ProblemSeverity::Error)
            ++errors;
        list.append(
            QJsonObject{{QStringLiteral("line"), problem.line},
                        {QStringLiteral("severity"), program::severityName(problem.severity)},
                        {QStringLiteral("message"), problem.message}});
    }
    const QJsonObject summary{
        {QStringLiteral("errors"), errors},
        {QStringLiteral("warnings"), static_cast<int>(problems.size()) - errors},
        {QStringLiteral("clean"), problems.isEmpty()}};
    const QJsonObject root{{QStringLiteral("problems"), list},
                           {QStringLiteral("summary"), summary}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace

int checkCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const QString json = QStringLiteral("--json");
    FileArguments parsed;
    if (!parseFileArguments(QStringLiteral("check"), arguments, {json}, &parsed, err))
        return UsageError;
    const QString& path = parsed.file;
    const auto rows = readProgramRows(path, err);
    if (!rows)
        return UsageError;
    const QVector<program::ProgramProblem> problems = program::checkProgram(*rows);
    if (parsed.switches.contains(json)) {
        out << QString::fromUtf8(problemsJson(problems));
    } else {
        for (const program::ProgramProblem& problem : problems) {
            out << problem.line << ": " << program::severityName(problem.severity) << ": "
                << printable(problem.message) << '\n';
        }
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
