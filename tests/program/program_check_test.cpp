#include "program/program_check.h"
#include "program/stored_command.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <ostream>

namespace kqm::program {
inline void PrintTo(const ProgramProblem& p, std::ostream* os) {
    *os << p.line << ": " << severityName(p.severity).toStdString() << ": "
        << p.message.toStdString();
}
} // namespace kqm::program

using namespace kqm::program;

namespace {

QVector<ProgramRow> rowsOf(const QStringList& commands) {
    QVector<ProgramRow> rows;
    for (const QString& command : commands) {
        ProgramRow row;
        row.command = command;
        row.address = 999; // stale on purpose: the check works addresses out itself
        rows << row;
    }
    return rows;
}

ProgramProblem E(int line, const QString& message) {
    return {line, ProblemSeverity::Error, message};
}
ProgramProblem W(int line, const QString& message) {
    return {line, ProblemSeverity::Warning, message};
}

// A finding of the command check, as the program check words it.
QString storedFinding(const char* command) {
    QString message = checkStoredCommand(QString::fromLatin1(command)).message;
    message[0] = message.at(0).toUpper();
    return message;
}

struct Case {
    const char* name;
    QStringList program;
    QVector<ProgramProblem> expected;
};

TEST(ProgramCheck, RulesOnSmallPrograms) {
    const Case cases[] = {
        {"empty program", {}, {}},
        // A10@0 M2000@3 B500@7 W10@11 &11_3@16 ?5@21 X3@24 Q@28: the test
        // either runs the goto or skips to the quit, so everything runs.
        {"clean", {"A10", "M2000", "B500", "W10", "&11_3", "?5", "X3", "Q"}, {}},
        {"no quit at the end",
         {"A10"},
         {E(1, "The program does not end with Quit, so it cannot be sent: add a Quit line at "
               "the end.")}},
        {"loop address inside a line",
         {"A10", "W5", "&4_2", "Q"},
         {E(3, "Loop Address 4 is not the start of a line (line 2 starts at 3, line 3 at 8).")}},
        {"loop address past the end",
         {"&60_2", "Q"},
         {E(1, "Loop Address 60 lies beyond the last line (line 2 starts at 5).")}},
        {"goto past the end is one error, not a dead line after it too",
         {"X99", "Q"},
         {E(1, "Goto Address 99 lies beyond the last line (line 2 starts at 4).")}},
        {"line branches to lines the program lacks",
         {"&2,9", "U0,3,0", "&2,1", "Q"},
         {E(1, "Branches to line 9, which the program does not have (its last line is 4)."),
          E(2, "Branches to line 0, which the program does not have (its last line is 4)."),
          W(2, "Until line: the memory it takes in the unit is not known, so every address "
               "after it is uncertain. A verified send checks each branch against the unit's "
               "own listing.")}},
        {"run after a quit",
         {"A10", "Q", "W5", "W6", "Q"},
         {W(3, "Lines 3 to 5 can never run: line 2 is a Quit and nothing branches to them.")}},
        {"line after an endless goto",
         {"A10", "X0", "Q"},
         {W(3, "Line 3 can never run: line 2 is a Goto and nothing branches to it.")}},
        {"a test skips over a quit", {"?1", "Q", "W5", "Q"}, {}},
        {"a goto jumps over a quit",
         {"X6", "Q", "W5", "Q"},
         {W(2, "Line 2 can never run: line 1 is a Goto and nothing branches to it.")}},
        // The unknown line and the quit both start at 4; the goto reaches the
        // last of them, so the unknown line never runs.
        {"branch to a shared address goes to the last line there",
         {"X4", "J5", "Q"},
         {E(2, storedFinding("J5")),
          W(2, "Line 2 can never run: line 1 is a Goto and nothing branches to it.")}},
        {"base speed above a max speed on one of two paths",
         {"M1000", "?1", "M500", "B800", "Q"},
         {W(4, "Base speed 800 is above the max speed 500 set on line 3: lower the base speed "
               "or raise the max speed.")}},
        {"max speed reached round a loop",
         {"B800", "M500", "&0_2", "Q"},
         {W(1, "Base speed 800 is above the max speed 500 set on line 2: lower the base speed "
               "or raise the max speed.")}},
        {"base speed before the lower max speed", {"M1000", "B800", "M500", "Q"}, {}},
        // M500@6 never runs, though it falls into the target of the goto.
        {"max speed on a line that never runs",
         {"X10", "Q", "M500", "B800", "Q"},
         {W(2, "Lines 2 and 3 can never run: line 1 is a Goto and nothing branches to them.")}},
        {"input test right before the final quit",
         {"A10", "?3", "Q"},
         {W(2, "Input test right before the final Quit: when the inputs do not match, the Quit "
               "is skipped and the unit runs past the end of the program.")}},
        {"operand outside the editor's range", {"A300", "Q"}, {E(1, storedFinding("A300"))}},
        {"stale marker is read as the refresh leaves it", {"~A10", "Q"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(checkProgram(rowsOf(c.program)), c.expected);
    }
}

TEST(ProgramCheck, MemoryLimitIsInclusive) {
    // 1021 two-byte lines, A1 and Q: exactly 2047 bytes.
    QStringList fits(1021, QStringLiteral("+"));
    fits << QStringLiteral("A1") << QStringLiteral("Q");
    EXPECT_TRUE(checkProgram(rowsOf(fits)).isEmpty());

    // 292 go moves end at 2044; the wait after them is the first line that
    // does not fit.
    QStringList over(292, QStringLiteral("P1,G"));
    over << QStringLiteral("W5") << QStringLiteral("Q");
    EXPECT_EQ(checkProgram(rowsOf(over)),
              (QVector<ProgramProblem>{
                  E(293, "The program takes 2051 bytes, more than the unit's 2047: from this "
                         "line on it does not fit. Shorten the program before sending it.")}));
}

// A command that cannot be read is one error, and control is taken to fall
// through it: no branch or reachability findings pile up behind it.
TEST(ProgramCheck, CommandsTheToolCannotReadAreOneErrorEach) {
    for (const char* command : {"J500", "hello", "", "X1a", "&5", "Q5"}) {
        SCOPED_TRACE(command);
        ASSERT_FALSE(checkStoredCommand(QString::fromLatin1(command)).ok());
        const auto problems = checkProgram(rowsOf({QString::fromLatin1(command), "Q"}));
        EXPECT_EQ(problems, (QVector<ProgramProblem>{E(1, storedFinding(command))}));
    }
}

} // namespace
