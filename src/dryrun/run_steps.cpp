// The program as the executor reads it: its lines taken apart, their
// branches resolved, and the inputs' schedule.
#include "dryrun/executor.h"

#include "program/command_set.h"

#include <algorithm>
#include <cmath>

namespace kqm::dryrun {

std::optional<QList<InputChange>> parseInputSchedule(const QString& text, QString* why) {
    QList<InputChange> changes;
    for (const QString& item : text.split(QLatin1Char(','))) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        bool timeOk = false;
        bool patternOk = false;
        const double at = parts.value(0).toDouble(&timeOk);
        const int pattern = parts.value(1).toInt(&patternOk);
        if (parts.size() != 2 || !timeOk || !patternOk || at < 0 || !std::isfinite(at) ||
            pattern < 0 || pattern > 15) {
            *why = QStringLiteral("inputs are given as TIME:PATTERN,... with TIME in seconds "
                                  "from 0 and PATTERN 0 to 15, not \"%1\"")
                       .arg(item);
            return std::nullopt;
        }
        changes << InputChange{at, pattern};
    }
    return changes;
}

QList<RunStep> stepsFromCommands(const QStringList& commands) {
    QList<RunStep> steps;
    int address = 0;
    for (int i = 0; i < commands.size(); ++i) {
        // A "~" left at a line's start marks it for the listing's refresh;
        // the line runs as its command.
        const QString& command =
            commands.at(i).startsWith(QLatin1Char('~')) ? commands.at(i).mid(1) : commands.at(i);
        RunStep step;
        step.line = i + 1;
        step.address = address;
        step.text = command;
        step.letter = command.isEmpty() ? 0 : command.at(0).toLatin1();
        step.go = (step.letter == 'N' || step.letter == 'P') && command.contains(QLatin1Char('G'));
        if (step.letter == '&' && command.contains(QLatin1Char('_'))) {
            // The editor's form: address, then the count.
            const qsizetype underscore = command.indexOf(QLatin1Char('_'));
            step.operands[0] = program::readFieldValue(command.mid(1, underscore - 1));
            step.operands[1] = program::readFieldValue(command.mid(underscore + 1));
        } else if (!command.isEmpty()) {
            for (int field = 0; field < 3; ++field)
                step.operands[field] = program::OperandField(command, field);
        }
        address += program::knownCommandSize(command).value_or(0);
        steps << step;
    }
    // Branches: addresses for the editor's loop and the goto, line numbers
    // for the until and the upload's comma loop (count, then line).
    for (RunStep& step : steps) {
        const bool commaLoop = step.letter == '&' && !step.text.contains(QLatin1Char('_'));
        if (commaLoop)
            std::swap(step.operands[0], step.operands[1]);
        else if (step.letter != 'U')
            continue;
        const qint64 line = commaLoop ? step.operands[0] : step.operands[2];
        if (line < 1 || line > steps.size()) {
            step.problem =
                QStringLiteral("a branch to line %1, which is not in the program").arg(line);
            continue;
        }
        step.target = static_cast<int>(line - 1);
    }
    resolveAddressBranches(steps, false);
    return steps;
}

int stepAtAddress(const QList<RunStep>& steps, qint64 address) {
    const auto found = std::find_if(steps.begin(), steps.end(),
                                    [address](const RunStep& s) { return s.address == address; });
    return found == steps.end() ? -1 : static_cast<int>(found - steps.begin());
}

void resolveAddressBranches(QList<RunStep>& steps, bool untilByAddress) {
    for (RunStep& step : steps) {
        const bool editorLoop = step.letter == '&' && step.target < 0 && step.problem.isEmpty() &&
                                (untilByAddress || step.text.contains(QLatin1Char('_')));
        qint64 address = 0;
        if (step.letter == 'X' || editorLoop)
            address = step.operands[0];
        else if (step.letter == 'U' && untilByAddress)
            address = step.operands[2];
        else
            continue;
        step.target = stepAtAddress(steps, address);
        if (step.target < 0)
            step.problem =
                QStringLiteral("a branch to address %1, which is not the start of a line")
                    .arg(address);
    }
}

} // namespace kqm::dryrun
