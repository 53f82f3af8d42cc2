#pragma once

#include <QString>
#include <QVector>

// The edits the crash test makes, step by step, and what the program holds
// after each: the driver makes them through the window, the test follows them
// in memory to know every state the program may be recovered in.
namespace kqm::test::crash {

struct Line {
    QString command;
    QString comment;
    bool operator==(const Line&) const = default;
};

inline constexpr int LongProgram = 1000;

inline QVector<Line> InitialProgram() {
    QVector<Line> lines;
    for (int i = 0; i < LongProgram; ++i)
        lines.push_back({QStringLiteral("W%1").arg(i + 1), QStringLiteral("line %1").arg(i + 1)});
    return lines;
}

enum class Kind { InsertFirst, ChangeSecond, DeleteLast, Add };

inline Kind KindOf(int step) {
    return static_cast<Kind>(step % 4);
}

// The command and comment the editor is given at a step.
inline QString StepValue(int step) {
    return QString::number(step + 1);
}

inline void Apply(int step, QVector<Line>& lines) {
    const QString value = StepValue(step);
    switch (KindOf(step)) {
    case Kind::InsertFirst:
        lines.insert(0, {QStringLiteral("W") + value, QStringLiteral("insert ") + value});
        break;
    case Kind::ChangeSecond:
        lines[1] = {QStringLiteral("W") + value, QStringLiteral("change ") + value};
        break;
    case Kind::DeleteLast:
        lines.removeLast();
        break;
    case Kind::Add:
        lines.push_back({QStringLiteral("W") + value, QStringLiteral("add ") + value});
        break;
    }
}

} // namespace kqm::test::crash
