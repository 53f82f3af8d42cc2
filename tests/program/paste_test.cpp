#include "program/branch_targets.h"
#include "program/command_set.h"
#include "program/editing.h"
#include "program/program_text.h"
#include "support/fake_messages.h"

#include <gtest/gtest.h>

#include <random>

using namespace kqm::program;

namespace {

// A program as the listing refresh leaves it; with `before`, the rows of a
// plan on it as storing the plan leaves them.
QVector<ProgramRow> made(const QStringList& commands, const QVector<ProgramRow>& before = {},
                         std::optional<EditPlan> plan = std::nullopt) {
    if (!plan) {
        plan.emplace();
        for (const QString& command : commands)
            appendProgramLine(plan->rows, command, QString());
    }
    followBranches(before, plan->rows, plan->origin);
    kqm::test::FakeMessages quiet;
    computeListing(plan->rows, quiet);
    return plan->rows;
}

QStringList fieldOf(const QVector<ProgramRow>& rows, QString ProgramRow::*field) {
    QStringList values;
    for (const ProgramRow& row : rows)
        values << row.*field;
    return values;
}

// The 0-based line a branch reaches by the refreshed LineNo and Address
// fields (-1: none), for the commands randomProgram writes.
int reached(const QVector<ProgramRow>& rows, int line) {
    const QString& command = rows.at(line).command;
    const auto address = branchAddress(command);
    const int named = OperandField(command, command.startsWith(QLatin1Char('&')) ? 1 : 2);
    int last = -1;
    for (int i = 0; i < rows.size(); ++i) {
        if (address ? rows.at(i).address == *address
                    : command.contains(QLatin1Char(',')) && rows.at(i).lineNo == named)
            last = i;
    }
    return last;
}

// Ends in Quit, with branches of all five forms to random lines; now and then
// an address into the middle of a line.
QStringList randomProgram(std::mt19937& random, int size) {
    const auto pick = [&random](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(random);
    };
    QStringList commands;
    for (int i = 0; i + 1 < size; ++i)
        commands << QStringList{"A100",  "W5",    "G",       "?3",     "X%1",
                                "&%1_3", "&2,%2", "I1,2,%2", "U0,3,%2"}
                        .at(pick(9));
    commands << QStringLiteral("Q");
    // Sizes do not depend on operands: the addresses are known already.
    const QVector<int> starts = lineStarts(made(commands));
    for (QString& command : commands) {
        const int line = pick(size);
        command.replace(QStringLiteral("%1"), QString::number(starts.at(line) + (pick(10) == 0)))
            .replace(QStringLiteral("%2"), QString::number(line + 1));
    }
    return commands;
}

TEST(PasteTest, PastedBranchesReachWhatTheCopiedOnesReached) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const auto pick = [&random](int n) {
            return std::uniform_int_distribution<int>(0, n - 1)(random);
        };
        const int size = 2 + pick(10);
        const QVector<ProgramRow> source = made(randomProgram(random, size));
        const int first = pick(size);
        const int count = 1 + pick(size - first);
        QList<int> lines;
        for (int i = first; i < first + count; ++i)
            lines << i;
        // Into the same program, after cutting the lines (never the final
        // Quit), or into another one; through the clipboard's formats.
        const int into = pick(3);
        const bool cut = into == 1 && first + count < size;
        const auto origin = readPasteOrigin(writePasteOrigin(originOf(source, lines, cut)));
        const ProgramTextRead text =
            readProgramText(writeProgramText(source.mid(first, count)), true);
        ASSERT_TRUE(origin && text.ok());
        const QVector<ProgramRow> before = cut         ? made({}, source, planDelete(source, lines))
                                           : into == 2 ? made(randomProgram(random, 1 + pick(8)))
                                                       : source;
        // Where each source line stands in the program pasted into (-1: not there).
        const bool same =
            fieldOf(before, &ProgramRow::command) == fieldOf(source, &ProgramRow::command);
        const auto nowAt = [&](int line) {
            return same || (cut && line < first)  ? line
                   : cut && line >= first + count ? line - count
                                                  : -1;
        };

        const int at = pick(static_cast<int>(before.size()) + 1);
        const EditPlan plan = planPaste(
            before, at < before.size() ? std::optional(at) : std::nullopt, text.rows, origin);
        const QVector<ProgramRow> after = made({}, before, plan);
        const auto moved = [&](int line) {
            return line < at ? line : line + count;
        };
        for (int i = 0; i < before.size(); ++i) {
            if (reached(before, i) >= 0) {
                EXPECT_EQ(reached(after, moved(i)), moved(reached(before, i))) << i;
            }
        }
        int notes = 0;
        for (int n = 0; n < count; ++n) {
            const int target = reached(source, first + n);
            const bool inside = target >= first && target < first + count;
            if (inside || (target >= 0 && nowAt(target) >= 0)) {
                EXPECT_EQ(reached(after, at + n),
                          inside ? at + target - first : moved(nowAt(target)))
                    << at + n;
            } else if (branchAddress(text.rows.at(n).command) ||
                       text.rows.at(n).command.contains(QLatin1Char(','))) {
                // Nowhere known to point it: as written, and named.
                EXPECT_EQ(after.at(at + n).command, text.rows.at(n).command);
                EXPECT_TRUE(plan.notes.value(notes++).startsWith(
                    QStringLiteral("Line %1 ").arg(at + n + 1)));
            }
        }
        EXPECT_EQ(plan.notes.size(), notes);
    }
}

TEST(PasteTest, CopiedLoopsAndUntilsPointAtTheirCopies) {
    // Lines first .. first + count - 1 pasted before row (-1: at the end).
    struct Case {
        const char *program, *expected;
        int first, count, row;
        bool known;
    };
    const Case cases[] = {
        {"W5 U0,3,2 &2,1 Q", "W5 U0,3,2 &2,1 W5 U0,3,5 &2,4 Q", 0, 3, 0, true},
        {"W5 U0,3,2 &2,1 Q", "W5 U0,3,2 &2,1 Q W5 U0,3,6 &2,5", 0, 3, -1, true},
        {"W5 U0,3,2 &2,1 Q", "W5 &2,1 U0,3,3 &2,1 Q", 2, 1, 1, true},
        {"W5 U0,3,2 &2,1 Q", "U0,3,2 &2,1 W5 U0,3,4 &2,3 Q", 1, 2, 0, false}, // from an editor
        {"A100 X0 &3_2 Q", "A100 X0 &3_2 Q X0 &14_2", 1, 2, -1, true},
    };
    for (const Case& c : cases) {
        const QVector<ProgramRow> rows = made(QString::fromLatin1(c.program).split(' '));
        QList<int> lines;
        for (int i = c.first; i < c.first + c.count; ++i)
            lines << i;
        const auto origin = c.known ? std::optional(originOf(rows, lines, false)) : std::nullopt;
        const auto row = c.row < 0 ? std::nullopt : std::optional(c.row);
        const QVector<ProgramRow> after =
            made({}, rows, planPaste(rows, row, rows.mid(c.first, c.count), origin));
        const QStringList commands = fieldOf(after, &ProgramRow::command);
        EXPECT_EQ(commands.join(' '), QString::fromLatin1(c.expected));
        // "Stay at Line" or not, and with which line: as a refresh makes it.
        EXPECT_EQ(fieldOf(after, &ProgramRow::listing),
                  fieldOf(made(commands), &ProgramRow::listing));
    }
}

} // namespace
