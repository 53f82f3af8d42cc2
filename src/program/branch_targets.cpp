#include "program/branch_targets.h"

#include "program/command_set.h"

#include <QHash>

#include <algorithm>

namespace kqm::program {

namespace {

bool isAddressBranch(const QString& command) {
    if (command.startsWith(QLatin1Char('X')))
        return true;
    // The comma-form loop holds a line number instead.
    return command.startsWith(QLatin1Char('&')) && !command.contains(QLatin1Char(','));
}

} // namespace

QVector<int> lineStarts(const QVector<ProgramRow>& rows) {
    QVector<int> starts;
    starts.reserve(rows.size() + 1);
    int address = 0;
    for (const ProgramRow& row : rows) {
        starts.push_back(address);
        address += knownCommandSize(row.command).value_or(0);
    }
    starts.push_back(address);
    return starts;
}

std::optional<QString> withAddress(const QString& command, int oldAddress, int newAddress) {
    const QString written = QString::number(oldAddress);
    if (!command.mid(1).startsWith(written))
        return std::nullopt;
    const qsizetype end = 1 + written.size();
    if (end < command.size() && (command.at(end).isDigit() || command.at(end) == QLatin1Char('.')))
        return std::nullopt;
    return command.left(1) + QString::number(newAddress) + command.mid(end);
}

int lineAtAddress(const QVector<int>& starts, int address) {
    // The starts never fall, so the last line starting there is the one
    // before the first that starts later.
    const auto lines = starts.begin() + std::max<qsizetype>(starts.size() - 1, 0);
    const auto after = std::upper_bound(starts.begin(), lines, address);
    if (after == starts.begin() || *(after - 1) != address)
        return -1;
    return static_cast<int>(after - starts.begin()) - 1;
}

std::optional<int> branchAddress(const QString& command) {
    if (!isAddressBranch(command))
        return std::nullopt;
    return OperandField(command, 0);
}

void followBranches(const QVector<ProgramRow>& before, QVector<ProgramRow>& after,
                    const QVector<int>& origin) {
    const QVector<int> oldStarts = lineStarts(before);
    QHash<int, int> lineAt; // address -> the last line that starts there
    for (qsizetype i = 0; i < before.size(); ++i)
        lineAt.insert(oldStarts.at(i), static_cast<int>(i));

    // Where each old line stands now; a removed line hands on to the next
    // line that is still there (or to the end of the program).
    QVector<int> nowAt(before.size() + 1, -1);
    for (qsizetype j = 0; j < origin.size(); ++j) {
        const int from = origin.at(j);
        if (from >= 0 && from < before.size() && nowAt[from] < 0)
            nowAt[from] = static_cast<int>(j);
    }
    nowAt[before.size()] = static_cast<int>(after.size());
    for (qsizetype i = before.size() - 1; i >= 0; --i) {
        if (nowAt[i] < 0)
            nowAt[i] = nowAt[i + 1];
    }

    const QVector<int> newStarts = lineStarts(after);
    for (qsizetype j = 0; j < after.size(); ++j) {
        if (j < origin.size() && origin.at(j) == ForeignLine)
            continue;
        ProgramRow& row = after[j];
        const auto address = branchAddress(row.command);
        if (!address)
            continue;
        const auto target = lineAt.constFind(*address);
        if (target == lineAt.constEnd())
            continue;
        const int moved = newStarts.at(nowAt.at(*target));
        if (moved == *address)
            continue;
        if (const auto rewritten = withAddress(row.command, *address, moved)) {
            row.command = *rewritten;
            row.listing = QStringLiteral("!");
        }
    }
}

bool isLineBranch(const QString& command) {
    return command.startsWith(QLatin1Char('I')) || command.startsWith(QLatin1Char('U')) ||
           (command.startsWith(QLatin1Char('&')) && command.contains(QLatin1Char(',')));
}

qint64 lineTarget(const QString& command) {
    return OperandField(command, command.startsWith(QLatin1Char('&')) ? 1 : 2);
}

QString withLineTarget(const QString& command, qint64 line) {
    if (command.startsWith(QLatin1Char('&')))
        return QStringLiteral("&%1,%2").arg(OperandField(command, 0)).arg(line);
    return QStringLiteral("%1%2,%3,%4")
        .arg(command.at(0))
        .arg(OperandField(command, 0))
        .arg(OperandField(command, 1))
        .arg(line);
}

} // namespace kqm::program
