#include "program/stored_command.h"

#include "program/command_rules.h"
#include "program/command_set.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>

#include <limits>
#include <optional>

namespace kqm::program {

namespace {

// The range of one operand and the name the user knows it by.
struct Bound {
    qint64 low = 0;
    qint64 high = 0;
    QString field;
    bool axis = false; // an axis address: 0 to 31, or a letter A to F kept from old settings
};

// One stored form of a letter: the text after the letter, one capture per
// operand.
struct Form {
    QRegularExpression pattern;
    QList<Bound> operands;
};

struct LetterForms {
    QList<Form> forms;
    QString example; // what the forms look like, for the malformed message
};

constexpr qint64 Int16Low = std::numeric_limits<qint16>::min();
constexpr qint64 Int16High = std::numeric_limits<qint16>::max();

Bound editorBound(CommandKind kind) {
    const ValueRange range = *valueRange(kind);
    return {range.low, range.high, range.field};
}

Bound bound(qint64 low, qint64 high, const char* field) {
    return {low, high, QString::fromLatin1(field)};
}

const Bound LineNumber = bound(0, Int16High, "Line number");
const Bound AxisAddress{0, 31, QStringLiteral("Axis address"), true};

Form form(const QString& pattern, QList<Bound> operands) {
    return {QRegularExpression(QRegularExpression::anchoredPattern(pattern)), std::move(operands)};
}

const QHash<QChar, LetterForms>& letterForms() {
    static const QHash<QChar, LetterForms> table = [] {
        const QString n = QStringLiteral("(-?[0-9]+)");
        const QString go = n + QStringLiteral("\r@([0-9]+|[A-F])G");
        const QString commaGo = n + QStringLiteral(",G");
        const QString pair = n + QStringLiteral(",") + n;
        const QString triple = pair + QStringLiteral(",") + n;
        QHash<QChar, LetterForms> forms;
        const auto single = [&](char letter, CommandKind kind, const char* example) {
            forms.insert(QLatin1Char(letter),
                         {{form(n, {editorBound(kind)})}, QString::fromLatin1(example)});
        };
        single('A', CommandKind::Acceleration, "A100");
        single('B', CommandKind::BaseSpeed, "B500");
        single('M', CommandKind::MaxSpeed, "M1500");
        single('W', CommandKind::Wait, "W10");
        single('Z', CommandKind::Zero, "Z0");
        const Bound steps = editorBound(CommandKind::GoRelative);
        const Bound position = editorBound(CommandKind::GoAbsolute);
        forms.insert(QLatin1Char('N'), {{form(n, {editorBound(CommandKind::Registration)}),
                                         form(go, {steps, AxisAddress}), form(commaGo, {steps})},
                                        QStringLiteral("N500, N500 @0G or N500,G")});
        forms.insert(QLatin1Char('P'), {{form(go, {position, AxisAddress}),
                                         form(commaGo, {position}), form(n, {position})},
                                        QStringLiteral("P100 @0G, P100,G or P100")});
        forms.insert(QLatin1Char('X'), {{form(n, {bound(Int16Low, Int16High, "Address Number")})},
                                        QStringLiteral("X12")});
        forms.insert(QLatin1Char('O'),
                     {{form(n, {bound(0, 3, "Set Outputs pattern")})}, QStringLiteral("O0 to O3")});
        forms.insert(QLatin1Char('?'),
                     {{form(n, {bound(0, 15, "If inputs pattern")})}, QStringLiteral("?0 to ?15")});
        forms.insert(QLatin1Char('H'),
                     {{form(n, {bound(0, 1, "Home type")})}, QStringLiteral("H0 or H1")});
        const Bound times = bound(1, 255, "Times to Loop");
        forms.insert(QLatin1Char('&'),
                     {{form(n + QStringLiteral("_") + n, {bound(0, 2057, "Address Number"), times}),
                       form(pair, {times, LineNumber})},
                      QStringLiteral("&12_3 (address, times) or &3,4 (times, line)")});
        const Bound operand = bound(Int16Low, Int16High, "Input branch operand");
        forms.insert(QLatin1Char('I'), {{form(triple, {operand, operand, LineNumber})},
                                        QStringLiteral("I1,2,7 (the third a line number)")});
        forms.insert(QLatin1Char('U'),
                     {{form(triple, {bound(Int16Low, Int16High, "Until value"),
                                     bound(Int16Low, Int16High, "Until switch pattern"), LineNumber})},
                      QStringLiteral("U0,3,7 (value, pattern, line)")});
        for (const char letter : {'G', 'S', '.', 'F', '+', '-', 'Q'})
            forms.insert(QLatin1Char(letter), {{form(QString(), {})}, QString()});
        return forms;
    }();
    return table;
}

// Long garbage is cut in messages; the line number tells where it is.
QString shown(const QString& command) {
    constexpr int Longest = 40;
    const QString readable = readableCommand(command);
    return readable.size() > Longest ? readable.left(Longest) + QStringLiteral("...") : readable;
}

StoredCommandCheck failed(StoredCommandFault fault, QString message) {
    return {fault, std::move(message)};
}

// Checks one operand as written: the shortest decimal form, then the range.
std::optional<StoredCommandCheck> checkOperand(const QString& text, const Bound& bound,
                                               const QString& command) {
    if (bound.axis && text.size() == 1 && text.at(0).isLetter())
        return std::nullopt;
    const QString digits = text.startsWith(QLatin1Char('-')) ? text.mid(1) : text;
    const auto outOfRange = [&] {
        return failed(StoredCommandFault::OutOfRange, QStringLiteral("%1 must be %2 to %3 (%4)")
                                                          .arg(bound.field)
                                                          .arg(bound.low)
                                                          .arg(bound.high)
                                                          .arg(shown(command)));
    };
    if (digits.size() > 18)
        return outOfRange();
    const qint64 value = text.toLongLong();
    if (QString::number(value) != text) {
        return failed(StoredCommandFault::Malformed,
                      QStringLiteral("malformed command (%1): write %2 as %3")
                          .arg(shown(command), text, QString::number(value)));
    }
    if (value < bound.low || value > bound.high)
        return outOfRange();
    return std::nullopt;
}

} // namespace

QString readableCommand(const QString& command) {
    QString readable = command;
    readable.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return readable;
}

StoredCommandCheck checkStoredCommand(const QString& command) {
    if (command.isEmpty())
        return failed(StoredCommandFault::Unknown, QStringLiteral("no command"));
    const auto letter = letterForms().constFind(command.at(0));
    if (!IsCommandString(command) || letter == letterForms().cend()) {
        return failed(StoredCommandFault::Unknown,
                      QStringLiteral("unknown command (%1)").arg(shown(command)));
    }
    const QString operands = command.mid(1);
    for (const Form& form : letter->forms) {
        const QRegularExpressionMatch match = form.pattern.match(operands);
        if (!match.hasMatch())
            continue;
        for (int i = 0; i < form.operands.size(); ++i) {
            if (auto fault = checkOperand(match.captured(i + 1), form.operands.at(i), command))
                return *fault;
        }
        return {};
    }
    const QString expected =
        letter->example.isEmpty()
            ? QStringLiteral("%1 takes nothing after the letter").arg(command.at(0))
            : QStringLiteral("expected %1").arg(letter->example);
    return failed(StoredCommandFault::Malformed,
                  QStringLiteral("malformed command (%1): %2").arg(shown(command), expected));
}

} // namespace kqm::program
