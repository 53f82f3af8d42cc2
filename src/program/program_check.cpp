#include "program/program_check.h"

#include "program/command_set.h"
#include "program/stored_command.h"

#include <algorithm>
#include <climits>

namespace kqm::program {

namespace {

// How control leaves a line.
enum class Flow {
    Next,         // falls through to the next line
    Quit,         // ends the program
    Goto,         // only to its target
    Test,         // the next line, or the one after it
    BranchOrNext, // to its target, or on to the next line
};

enum class Target { None, Address, Line };

struct Line {
    QString command; // without a leftover "~" marker
    int address = 0;
    bool wellFormed = true; // a known command whose operands can be read
    Flow flow = Flow::Next;
    Target targetKind = Target::None;
    int operand = 0; // the branch operand as written: an address or a line number
    int target = -1; // index of the line the branch reaches; -1 when there is none
};

QChar letterOf(const QString& command) {
    return command.isEmpty() ? QChar() : command.at(0);
}

// What decides the flow and the branch of a line; the comma-form loop and
// the until and input branches name a line, the editor's loop and the goto
// an address.
void classify(Line& line) {
    const QChar letter = letterOf(line.command);
    if (letter == QLatin1Char('Q')) {
        line.flow = Flow::Quit;
    } else if (letter == QLatin1Char('?')) {
        line.flow = Flow::Test;
    } else if (letter == QLatin1Char('X')) {
        line.flow = Flow::Goto;
        line.targetKind = Target::Address;
        line.operand = OperandField(line.command, 0);
    } else if (letter == QLatin1Char('&')) {
        line.flow = Flow::BranchOrNext;
        const bool byAddress = line.command.contains(QLatin1Char('_'));
        line.targetKind = byAddress ? Target::Address : Target::Line;
        line.operand = OperandField(line.command, byAddress ? 0 : 1);
    } else if (letter == QLatin1Char('I') || letter == QLatin1Char('U')) {
        line.flow = Flow::BranchOrNext;
        line.targetKind = Target::Line;
        line.operand = OperandField(line.command, 2);
    }
}

// Index of the first line that starts after the address (the line count
// when there is none).
int firstLineAfter(const QVector<Line>& lines, int address) {
    const auto after = std::upper_bound(lines.begin(), lines.end(), address,
                                        [](int a, const Line& l) { return a < l.address; });
    return static_cast<int>(after - lines.begin());
}

// The last line that starts at the address (a line the unit gives no bytes
// shares its address with the next), or -1 when no line starts there. This is
// the line an upload makes of a branch to that address.
int lineAtAddress(const QVector<Line>& lines, int address) {
    const int after = firstLineAfter(lines, address);
    if (after == 0 || lines.at(after - 1).address != address)
        return -1;
    return after - 1;
}

// The command check words its findings for a list ("unknown command (J5)");
// here they stand beside sentences.
QString sentence(QString message) {
    if (!message.isEmpty())
        message[0] = message.at(0).toUpper();
    return message;
}

class Checker {
public:
    explicit Checker(const QVector<ProgramRow>& rows);
    QVector<ProgramProblem> run();

private:
    void error(int index, const QString& message) {
        m_problems.append({index + 1, ProblemSeverity::Error, message});
    }
    void warning(int index, const QString& message) {
        m_problems.append({index + 1, ProblemSeverity::Warning, message});
    }
    int lastIndex() const { return static_cast<int>(m_lines.size()) - 1; }
    // The lines control can go to from a line; -1 where there is none.
    std::pair<int, int> successors(int index) const;

    void checkSize();
    void checkEnd();
    void checkUntilSize();
    void checkBranch(int index);
    QString addressProblem(const Line& line) const;
    void checkReachable();
    void checkSpeeds();

    QVector<Line> m_lines;
    int m_size = 0;
    QVector<bool> m_reached; // by line index, once checkReachable has run
    QVector<ProgramProblem> m_problems;
};

Checker::Checker(const QVector<ProgramRow>& rows) {
    m_lines.reserve(rows.size());
    int address = 0;
    for (const ProgramRow& row : rows) {
        Line line;
        // Every listing refresh drops the marker before anything else reads
        // the row, so a file that still holds one is checked as it will be.
        line.command = row.command.startsWith(QLatin1Char('~')) ? row.command.mid(1) : row.command;
        line.address = address;
        address += knownCommandSize(line.command).value_or(0);
        m_lines.append(line);
    }
    m_size = address;
}

QVector<ProgramProblem> Checker::run() {
    if (m_lines.isEmpty())
        return {};
    for (int i = 0; i < m_lines.size(); ++i) {
        Line& line = m_lines[i];
        const StoredCommandCheck stored = checkStoredCommand(line.command);
        if (!stored.ok())
            error(i, sentence(stored.message));
        // A command that cannot be read is passed on as it stands; where it
        // would lead is anybody's guess, so the check lets it fall through.
        line.wellFormed = stored.fault == StoredCommandFault::None ||
                          stored.fault == StoredCommandFault::OutOfRange;
        if (line.wellFormed) {
            classify(line);
            checkBranch(i);
        }
    }
    checkSize();
    checkEnd();
    checkUntilSize();
    checkReachable();
    checkSpeeds();
    // Line order; on one line the errors first.
    std::stable_sort(m_problems.begin(), m_problems.end(),
                     [](const ProgramProblem& a, const ProgramProblem& b) {
                         return std::pair(a.line, a.severity) < std::pair(b.line, b.severity);
                     });
    return m_problems;
}

void Checker::checkSize() {
    if (m_size <= UnitMemoryBytes)
        return;
    const auto overflowing = std::find_if(m_lines.begin(), m_lines.end(), [](const Line& line) {
        return line.address + knownCommandSize(line.command).value_or(0) > UnitMemoryBytes;
    });
    error(static_cast<int>(overflowing - m_lines.begin()),
          QStringLiteral("The program takes %1 bytes, more than the unit's %2: from this line on "
                         "it does not fit. Shorten the program before sending it.")
              .arg(m_size)
              .arg(UnitMemoryBytes));
}

void Checker::checkEnd() {
    const int last = lastIndex();
    if (m_lines.at(last).command != QLatin1String("Q")) {
        error(last, QStringLiteral("The program does not end with Quit, so it cannot be sent: "
                                   "add a Quit line at the end."));
        return;
    }
    if (last > 0 && m_lines.at(last - 1).flow == Flow::Test) {
        warning(last - 1, QStringLiteral("Input test right before the final Quit: when the inputs "
                                         "do not match, the Quit is skipped and the unit runs "
                                         "past the end of the program."));
    }
}

void Checker::checkUntilSize() {
    // The memory an until line takes in the unit is not known here; every
    // address worked out after it may be off by that much.
    const auto until = std::find_if(m_lines.begin(), m_lines.end(), [](const Line& line) {
        return letterOf(line.command) == QLatin1Char('U');
    });
    if (until == m_lines.end() || until + 1 == m_lines.end())
        return;
    warning(static_cast<int>(until - m_lines.begin()),
            QStringLiteral("Until line: the memory it takes in the unit is not known, so every "
                           "address after it is uncertain. A verified send checks each branch "
                           "against the unit's own listing."));
}

void Checker::checkBranch(int index) {
    Line& line = m_lines[index];
    if (line.targetKind == Target::Address) {
        line.target = lineAtAddress(m_lines, line.operand);
        if (line.target < 0) {
            error(index, addressProblem(line));
            // Nobody knows where such a goto lands; taking it as falling
            // through keeps the lines after it from being called dead too.
            if (line.flow == Flow::Goto)
                line.flow = Flow::Next;
        }
    } else if (line.targetKind == Target::Line) {
        if (line.operand >= 1 && line.operand <= m_lines.size()) {
            line.target = line.operand - 1;
        } else {
            error(index, QStringLiteral("Branches to line %1, which the program does not have "
                                        "(its last line is %2).")
                             .arg(line.operand)
                             .arg(m_lines.size()));
        }
    }
}

QString Checker::addressProblem(const Line& line) const {
    const QString what = line.flow == Flow::Goto ? QStringLiteral("Goto Address %1")
                                                 : QStringLiteral("Loop Address %1");
    const QString subject = what.arg(line.operand);
    const Line& last = m_lines.last();
    if (line.operand > last.address) {
        return QStringLiteral("%1 lies beyond the last line (line %2 starts at %3).")
            .arg(subject)
            .arg(m_lines.size())
            .arg(last.address);
    }
    // A line starts after the operand; name the lines on either side of it.
    const int next =
        lineAtAddress(m_lines, m_lines.at(firstLineAfter(m_lines, line.operand)).address);
    if (line.operand < 0 || next == 0) {
        return QStringLiteral("%1 is not the start of a line (line %2 starts at %3).")
            .arg(subject)
            .arg(next + 1)
            .arg(m_lines.at(next).address);
    }
    const int before = lineAtAddress(m_lines, m_lines.at(next - 1).address);
    return QStringLiteral("%1 is not the start of a line (line %2 starts at %3, line %4 at %5).")
        .arg(subject)
        .arg(before + 1)
        .arg(m_lines.at(before).address)
        .arg(next + 1)
        .arg(m_lines.at(next).address);
}

std::pair<int, int> Checker::successors(int index) const {
    const Line& line = m_lines.at(index);
    const int next = index + 1 <= lastIndex() ? index + 1 : -1;
    switch (line.flow) {
    case Flow::Next:
        return {next, -1};
    case Flow::Quit:
        return {-1, -1};
    case Flow::Goto:
        return {line.target, -1};
    case Flow::Test:
        return {next, index + 2 <= lastIndex() ? index + 2 : -1};
    case Flow::BranchOrNext:
        return {line.target, next};
    }
    return {-1, -1};
}

void Checker::checkReachable() {
    QVector<bool>& reached = m_reached;
    reached.fill(false, m_lines.size());
    QVector<int> pending{0};
    reached[0] = true;
    while (!pending.isEmpty()) {
        const auto [first, second] = successors(pending.takeLast());
        for (const int to : {first, second}) {
            if (to >= 0 && !reached.at(to)) {
                reached[to] = true;
                pending.append(to);
            }
        }
    }
    for (int i = 1; i < m_lines.size(); ++i) {
        if (reached.at(i) || !reached.at(i - 1))
            continue;
        int end = i;
        while (end + 1 < m_lines.size() && !reached.at(end + 1))
            ++end;
        // The line before a run that nothing reaches is a reached Quit or Goto.
        const QString before = m_lines.at(i - 1).flow == Flow::Quit ? QStringLiteral("a Quit")
                                                                    : QStringLiteral("a Goto");
        const QString which = end == i ? QStringLiteral("Line %1").arg(i + 1)
                              : end == i + 1
                                  ? QStringLiteral("Lines %1 and %2").arg(i + 1).arg(end + 1)
                                  : QStringLiteral("Lines %1 to %2").arg(i + 1).arg(end + 1);
        const QString message =
            QStringLiteral("%1 can never run: line %2 is %3 and nothing branches to %4.")
                .arg(which, QString::number(i), before,
                     end == i ? QStringLiteral("it") : QStringLiteral("them"));
        warning(i, message);
        i = end;
    }
}

// The lowest max speed that may be in force on some path into a line, and
// the line that set it.
struct MaxSpeed {
    int speed = INT_MAX;
    int line = 0;
    bool operator<(const MaxSpeed& other) const {
        return speed != other.speed ? speed < other.speed : line < other.line;
    }
};

void Checker::checkSpeeds() {
    QVector<MaxSpeed> entry(m_lines.size());
    // Every line that can run is looked at once, line 1 first, then again
    // whenever a lower max speed reaches it.
    QVector<bool> queued = m_reached;
    QVector<int> pending;
    pending.reserve(m_lines.size());
    for (int i = lastIndex(); i >= 0; --i) {
        if (m_reached.at(i))
            pending.append(i);
    }
    // Values only fall and each takes one of finitely many values, so this ends.
    while (!pending.isEmpty()) {
        const int index = pending.takeLast();
        queued[index] = false;
        const Line& line = m_lines.at(index);
        MaxSpeed leaving = entry.at(index);
        if (line.wellFormed && letterOf(line.command) == QLatin1Char('M'))
            leaving = {OperandField(line.command, 0), index + 1};
        const auto [first, second] = successors(index);
        for (const int to : {first, second}) {
            if (to >= 0 && leaving < entry.at(to)) {
                entry[to] = leaving;
                if (!queued.at(to)) {
                    queued[to] = true;
                    pending.append(to);
                }
            }
        }
    }
    for (int i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines.at(i);
        if (!line.wellFormed || letterOf(line.command) != QLatin1Char('B'))
            continue;
        const int base = OperandField(line.command, 0);
        if (entry.at(i).speed != INT_MAX && base > entry.at(i).speed) {
            warning(i, QStringLiteral("Base speed %1 is above the max speed %2 set on line %3: "
                                      "lower the base speed or raise the max speed.")
                           .arg(base)
                           .arg(entry.at(i).speed)
                           .arg(entry.at(i).line));
        }
    }
}

} // namespace

QString severityName(ProblemSeverity severity) {
    return severity == ProblemSeverity::Error ? QStringLiteral("error") : QStringLiteral("warning");
}

QVector<ProgramProblem> checkProgram(const QVector<ProgramRow>& rows) {
    return Checker(rows).run();
}

} // namespace kqm::program
