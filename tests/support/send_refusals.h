#pragma once

#include "support/program_files.h"

#include <QList>
#include <QString>
#include <QVector>

namespace kqm::test {

// Programs that no send may put on the line, with what the user is told:
// the same table runs through every way there is to send.
struct RefusedProgram {
    const char* name;
    QVector<Line> lines;
    QString says; // the start of what is said
};

inline QList<RefusedProgram> refusedPrograms() {
    QVector<Line> tooLarge(410, Line{QStringLiteral("N1000")}); // 5 bytes each
    tooLarge << Line{QStringLiteral("Q")};
    return {
        {"empty", {}, QStringLiteral("The program is empty.")},
        {"too large", tooLarge,
         QStringLiteral("The program size exceeds available memory.  The program cannot be "
                        "sent until total memory usage is reduced to 2047 bytes or less.")},
        {"no Quit",
         {{QStringLiteral("A100")}, {QStringLiteral("W10")}},
         QStringLiteral("The last command must be a QUIT statement.  Please change and resend")},
        {"a branch to no line",
         {{QStringLiteral("A100")}, {QStringLiteral("I1,1,9")}, {QStringLiteral("Q")}},
         QStringLiteral("Line 2 branches to line 9, which the program does not have.")},
    };
}

} // namespace kqm::test
