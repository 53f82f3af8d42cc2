#include "program/command_set.h"

#include "platform/messages.h"

#include <cmath>
#include <limits>

namespace kqm::program {

namespace {

const QString CommandLetters = QStringLiteral("ABDGHIJ&.MNOPQXSUWZ+-?F");

int16_t toInt16(int32_t value) {
    return static_cast<int16_t>(value);
}

QString number(int64_t value) {
    return QString::number(value);
}

// The loop count of the editor's form "&" address "_" count: read only when the
// "_" follows an address of 1 to 4 digits and the count is short enough.
std::optional<int32_t> loopCount(const QString& command) {
    const int underscore = command.indexOf(QLatin1Char('_'));
    if (underscore < 2 || underscore > 5)
        return std::nullopt;
    const QString count = command.mid(underscore + 1);
    const int maxLength = underscore >= 4 ? 4 : 5;
    if (count.isEmpty() || count.size() > maxLength)
        return std::nullopt;
    return readFieldValue(count);
}

QString loopText(const QString& command) {
    if (const auto count = loopCount(command))
        return QStringLiteral("Loop %1 Times to Address %2")
            .arg(number(*count), number(toInt16(OperandField(command, 0))));
    if (command.contains(QLatin1Char(','))) {
        // The form an upload writes: "&" count "," line number.
        return QStringLiteral("Loop %1 Times to Line %2")
            .arg(number(toInt16(OperandField(command, 0))),
                 number(toInt16(OperandField(command, 1))));
    }
    return QStringLiteral("Loop 0 Times to Address %1")
        .arg(number(toInt16(OperandField(command, 0))));
}

QString untilText(const QString& command, int lineNumber) {
    const int pattern = toInt16(OperandField(command, 1));
    const int line = toInt16(OperandField(command, 2));
    if (line == lineNumber)
        return QStringLiteral("Stay at Line %1 UNTIL %2")
            .arg(number(line), SwitchStateText(pattern));
    return QStringLiteral("If Not %1 GOTO LINE %2").arg(SwitchStateText(pattern), number(line));
}

} // namespace

bool IsCommandLetter(const QString& letter) {
    return letter.size() == 1 && CommandLetters.contains(letter.at(0));
}

bool IsCommandString(const QString& text) {
    return !text.isEmpty() && IsCommandLetter(text.left(1));
}

std::optional<int16_t> knownCommandSize(const QString& command) {
    if (command.isEmpty())
        return std::nullopt;
    switch (command.at(0).unicode()) {
    case 'Q':
    case 'S':
    case 'F':
    case '.':
    case 'G':
    case '+':
    case '-':
        return 2;
    case 'A':
    case 'H':
    case 'O':
    case '?':
        return 3;
    case 'B':
    case 'M':
    case 'X':
        return 4;
    case 'Z':
    case 'I':
    case '&':
    case 'W':
        return 5;
    case 'N':
        return command.contains(QLatin1Char('G')) ? 7 : 5;
    case 'P':
        return 7;
    default:
        return std::nullopt;
    }
}

QString unknownCommandText(const QString& command) {
    return QStringLiteral("Error: Unknown command (") + command + QStringLiteral(").");
}

int16_t CommandSize(const QString& command, platform::Messages& messages) {
    if (const auto size = knownCommandSize(command))
        return *size;
    messages.show(platform::MessageIcon::Critical, unknownCommandText(command));
    return 0;
}

double readDecimal(const QString& text) {
    double integerPart = 0.0;
    double fraction = 0.0;
    double scale = 1.0;
    bool negative = false;
    bool started = false; // a sign, digit or point has been read
    bool inFraction = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))
            continue;
        if (c == QLatin1Char('-') && !started) {
            negative = true;
            started = true;
        } else if (c.isDigit() && c.unicode() < 128) {
            started = true;
            const int digit = c.unicode() - '0';
            if (inFraction) {
                scale /= 10.0;
                fraction += digit * scale;
            } else if (integerPart < 1e18) {
                integerPart = integerPart * 10.0 + digit;
            } else {
                integerPart = 1e19; // far beyond any operand; callers range-check
            }
        } else if (c == QLatin1Char('.') && !inFraction) {
            started = true;
            inFraction = true;
        } else {
            break;
        }
    }
    const double value = integerPart + fraction;
    return negative ? -value : value;
}

int32_t readFieldValue(const QString& field) {
    const double value = std::nearbyint(readDecimal(field)); // default rounding: halves to even
    constexpr double low = std::numeric_limits<int32_t>::min();
    constexpr double high = std::numeric_limits<int32_t>::max();
    if (value < low)
        return std::numeric_limits<int32_t>::min();
    if (value > high)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

int32_t OperandField(const QString& command, int index) {
    QString rest = command.mid(1) + QStringLiteral(",,,");
    int32_t value = 0;
    for (int i = 0; i <= index; ++i) {
        const int comma = rest.indexOf(QLatin1Char(','));
        if (comma < 0)
            return 0; // more fields asked for than there are; no caller does this
        value = readFieldValue(rest.left(comma));
        rest.remove(0, comma + 1);
    }
    return value;
}

QString SwitchStateText(int pattern) {
    switch (pattern) {
    case 0:
        return QStringLiteral("1-off 2-off");
    case 1:
        return QStringLiteral("1-on 2-off");
    case 2:
        return QStringLiteral("1-off 2-on");
    case 3:
        return QStringLiteral("1-on 2-on");
    default:
        return QString();
    }
}

QString StripCrLf(const QString& text) {
    QString result = text;
    result.remove(QLatin1Char('\r'));
    result.remove(QLatin1Char('\n'));
    return result;
}

QString StripLf(const QString& text) {
    QString result = text;
    result.remove(QLatin1Char('\n'));
    return result;
}

std::optional<QString> ListingText(const QString& command, int lineNumber) {
    if (command.isEmpty())
        return std::nullopt;
    const auto n = [&command] {
        return number(OperandField(command, 0));
    };
    const bool hasGo = command.contains(QLatin1Char('G'));
    switch (command.at(0).unicode()) {
    case 'A':
        return QStringLiteral("Accel/Decel=") + n();
    case 'B':
        return QStringLiteral("Base Speed=") + n();
    case 'M':
        return QStringLiteral("Max Speed=") + n();
    case 'J':
        return QStringLiteral("Jog Speed=") + n();
    case 'G':
        return QStringLiteral("Repeat Last Move");
    case 'S':
        return QStringLiteral("Slew");
    case '.':
        return QStringLiteral("Stop Motion");
    case 'F':
        return QStringLiteral("Finish Move");
    case 'N':
        return (hasGo ? QStringLiteral("Go relative ") : QStringLiteral("Registration Index= ")) +
               n();
    case 'P':
        return hasGo ? QStringLiteral("Go Absolute ") + n() : command;
    case 'Z':
        return QStringLiteral("Position Register=") + n();
    case '+':
        return QStringLiteral("Direction CW");
    case '-':
        return QStringLiteral("Direction CCW");
    case 'H':
        return command.endsWith(QLatin1Char('0'))
                   ? QStringLiteral("Home to Soft and Home Switch (Type0)")
                   : QStringLiteral("Home to Home Limit Switch (Type1)");
    case 'O':
        if (command == QLatin1String("O0"))
            return QStringLiteral("Set Outputs 1-off 2-off");
        if (command == QLatin1String("O1"))
            return QStringLiteral("Set Outputs 1-on 2-off");
        if (command == QLatin1String("O2"))
            return QStringLiteral("Set Outputs 1-off 2-on");
        if (command == QLatin1String("O3"))
            return QStringLiteral("Set Outputs 1-on 2-on");
        return std::nullopt;
    case '?':
        return QStringLiteral("If Inputs=%1 Then execute the next line ")
            .arg(number(toInt16(OperandField(command, 0))));
    case '&':
        return loopText(command);
    case 'X':
        return QStringLiteral("Goto Address ") + n();
    case 'W':
        return QStringLiteral("Wait ") + n();
    case 'Q':
        return QStringLiteral("Quit");
    case 'U':
        return untilText(command, lineNumber);
    default:
        return std::nullopt; // "I", "D" and anything that is not a command
    }
}

} // namespace kqm::program
