#include "program/command_rules.h"

#include "program/command_set.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace kqm::program {

namespace {

struct KindInfo {
    CommandKind kind;
    const char* name;
    int tab;
    int values;
};

constexpr KindInfo Kinds[CommandKindCount] = {
    {CommandKind::Acceleration, "accel", 0, 1},
    {CommandKind::BaseSpeed, "base", 0, 1},
    {CommandKind::MaxSpeed, "max", 0, 1},
    {CommandKind::GoRelative, "move", 0, 1},
    {CommandKind::GoAbsolute, "move-to", 0, 1},
    {CommandKind::Registration, "registration", 0, 1},
    {CommandKind::Zero, "set-position", 0, 1},
    {CommandKind::RepeatLastMove, "repeat", 0, 0},
    {CommandKind::Slew, "slew", 0, 0},
    {CommandKind::Stop, "stop", 0, 0},
    {CommandKind::Finish, "finish", 0, 0},
    {CommandKind::Clockwise, "cw", 0, 0},
    {CommandKind::Counterclockwise, "ccw", 0, 0},
    {CommandKind::Home0, "home0", 0, 0},
    {CommandKind::Home1, "home1", 0, 0},
    {CommandKind::Output, "outputs", 2, 2},
    {CommandKind::IfThen, "if-inputs", 2, 4},
    {CommandKind::Loop, "loop", 2, 2},
    {CommandKind::Goto, "goto", 2, 1},
    {CommandKind::Wait, "wait", 2, 1},
    {CommandKind::Quit, "quit", 2, 0},
};

const KindInfo& info(CommandKind kind) {
    return Kinds[static_cast<int>(kind)];
}

// A value read from a box, checked against a range; nullopt when outside.
std::optional<qint64> inRange(const QString& text, qint64 low, qint64 high) {
    const auto value = readEntryNumber(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return value;
}

struct RangedKind {
    CommandKind kind;
    const char* letter;
    qint64 low;
    qint64 high;
    const char* message;
    const char* field;
};

constexpr RangedKind Ranged[] = {
    {CommandKind::Acceleration, "A", 1, 255, "Acceleration value out of range.", "Accel/Decel"},
    {CommandKind::BaseSpeed, "B", 70, 5000, "Base speed value out of range.", "Base Speed"},
    {CommandKind::MaxSpeed, "M", 70, 20000, "Max speed value out of range.", "Max. Speed"},
    {CommandKind::GoRelative, "N", 0, 8388607, "Number of steps out of range.", "Steps"},
    {CommandKind::GoAbsolute, "P", 0, 8388607, "Motor position value out of range.",
     "Move to Position"},
    {CommandKind::Registration, "N", 0, 8388607, "Registration value out of range.",
     "Registration Index"},
    {CommandKind::Zero, "Z", 0, 8388607, "Position register value out of range.", "Set Position"},
    {CommandKind::Wait, "W", 1, 10000, "Wait time out of range.", "Wait (milliseconds)"},
};

BuiltCommand notANumber(const char* field, const QString& typed) {
    return {QString(), notANumberMessage(QString::fromLatin1(field), typed)};
}

int pattern(const QString* boxes, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (boxes[i] == QLatin1String("1"))
            value += 1 << i;
    }
    return value;
}

BuiltCommand built(const QString& command) {
    return {command, QString()};
}

BuiltCommand rejected(const char* message) {
    return {QString(), QString::fromLatin1(message)};
}

} // namespace

bool isPlainNumber(const QString& text) {
    static const QRegularExpression plain(
        QStringLiteral("^\\s*(-?([0-9]+(\\.[0-9]*)?|\\.[0-9]+))?\\s*$"));
    return plain.match(text).hasMatch();
}

QString notANumberMessage(const QString& field, const QString& typed) {
    return QStringLiteral("%1: \"%2\" is not a number. Type the value in digits, for example 100.")
        .arg(field, typed);
}

std::optional<ValueRange> valueRange(CommandKind kind) {
    for (const RangedKind& ranged : Ranged) {
        if (ranged.kind == kind)
            return ValueRange{ranged.low, ranged.high, QString::fromLatin1(ranged.field)};
    }
    return std::nullopt;
}

std::optional<qint64> readEntryNumber(const QString& text) {
    const double value = std::floor(readDecimal(text));
    if (!(std::fabs(value) < 9.0e18))
        return std::nullopt;
    return static_cast<qint64>(value);
}

BuiltCommand buildCommand(const CommandEntry& entry, const QString& axisAddress) {
    for (const RangedKind& ranged : Ranged) {
        if (ranged.kind != entry.kind)
            continue;
        if (!isPlainNumber(entry.value))
            return notANumber(ranged.field, entry.value);
        // Values are 32-bit: a value too large for that is out of range too.
        const auto value = inRange(entry.value, ranged.low, ranged.high);
        if (!value)
            return rejected(ranged.message);
        QString command = QString::fromLatin1(ranged.letter) + QString::number(*value);
        if (entry.kind == CommandKind::GoRelative || entry.kind == CommandKind::GoAbsolute)
            command += QStringLiteral("\r@") + axisAddress + QLatin1Char('G');
        return built(command);
    }
    switch (entry.kind) {
    case CommandKind::RepeatLastMove:
        return built(QStringLiteral("G"));
    case CommandKind::Slew:
        return built(QStringLiteral("S"));
    case CommandKind::Stop:
        return built(QStringLiteral("."));
    case CommandKind::Finish:
        return built(QStringLiteral("F"));
    case CommandKind::Clockwise:
        return built(QStringLiteral("+"));
    case CommandKind::Counterclockwise:
        return built(QStringLiteral("-"));
    case CommandKind::Home0:
        return built(QStringLiteral("H0"));
    case CommandKind::Home1:
        return built(QStringLiteral("H1"));
    case CommandKind::Quit:
        return built(QStringLiteral("Q"));
    case CommandKind::Output:
        return built(QStringLiteral("O%1").arg(pattern(entry.outputs.data(), 2)));
    case CommandKind::IfThen:
        return built(QStringLiteral("?%1").arg(pattern(entry.inputs.data(), 4)));
    case CommandKind::Loop: {
        const auto timesRejected = [](BuiltCommand result) {
            result.timesWrong = true;
            return result;
        };
        if (!isPlainNumber(entry.times))
            return timesRejected(notANumber("Times to Loop", entry.times));
        const auto times = inRange(entry.times, 1, 255);
        if (!times)
            return timesRejected(rejected("Number of times to loop out of range."));
        if (!isPlainNumber(entry.value))
            return notANumber("Address Number", entry.value);
        const auto address = inRange(entry.value, 0, 2057);
        if (!address || entry.value.isEmpty())
            return rejected("Address number empty or invalid.");
        return built(QStringLiteral("&%1_%2").arg(*address).arg(*times));
    }
    case CommandKind::Goto: {
        if (!isPlainNumber(entry.value))
            return notANumber("Address Number", entry.value);
        // The goto address has no range of its own, but it is a 16-bit value.
        const auto address = inRange(entry.value, std::numeric_limits<qint16>::min(),
                                     std::numeric_limits<qint16>::max());
        if (!address)
            return rejected("Address number empty or invalid.");
        return built(QStringLiteral("X%1").arg(*address));
    }
    default:
        break;
    }
    return rejected("Please select a command.");
}

int tabOfKind(CommandKind kind) {
    return info(kind).tab;
}

QString kindName(CommandKind kind) {
    return QString::fromLatin1(info(kind).name);
}

std::optional<CommandKind> kindFromName(const QString& name) {
    for (const KindInfo& kind : Kinds) {
        if (name == QLatin1String(kind.name))
            return kind.kind;
    }
    return std::nullopt;
}

int valueCount(CommandKind kind) {
    return info(kind).values;
}

Preload preloadFor(const QString& command) {
    Preload preload;
    if (!IsCommandString(command))
        return preload;
    const QString operand = QString::number(OperandField(command, 0));
    const bool hasGo = command.contains(QLatin1Char('G'));
    const auto select = [&](CommandKind kind, QString value = QString()) {
        preload.kind = kind;
        preload.tab = tabOfKind(kind);
        preload.value = std::move(value);
        return preload;
    };
    switch (command.at(0).unicode()) {
    case '.':
        return select(CommandKind::Stop);
    case 'A':
        return select(CommandKind::Acceleration, operand);
    case 'B':
        return select(CommandKind::BaseSpeed, operand);
    case 'F':
        return select(CommandKind::Finish);
    case 'G':
        return select(CommandKind::RepeatLastMove);
    case 'H':
        return select(command.mid(1, 1) == QLatin1String("0") ? CommandKind::Home0
                                                              : CommandKind::Home1);
    case '?':
        return select(CommandKind::IfThen);
    case 'M':
        return select(CommandKind::MaxSpeed, operand);
    case 'N':
        return select(hasGo ? CommandKind::GoRelative : CommandKind::Registration, operand);
    case 'O':
        return select(CommandKind::Output);
    case 'P':
        return hasGo ? select(CommandKind::GoAbsolute, operand) : preload;
    case 'Q':
        return select(CommandKind::Quit);
    case 'S':
        return select(CommandKind::Slew);
    case 'W':
        return select(CommandKind::Wait, operand);
    case 'X':
        return select(CommandKind::Goto, operand);
    case 'Z':
        return select(CommandKind::Zero, operand);
    case '+':
        return select(CommandKind::Clockwise);
    case '-':
        return select(CommandKind::Counterclockwise);
    case '&': {
        select(CommandKind::Loop);
        // The editor's form: address "_" count, the "_" at position 2 to 5.
        const QString rest = command.mid(1);
        for (int position = 2; position <= 5; ++position) {
            if (rest.size() >= position && rest.at(position - 1) == QLatin1Char('_')) {
                const QString count = rest.mid(position);
                if (count.size() >= 1 && count.size() <= 4) {
                    preload.value = rest.left(position - 1);
                    preload.times = count;
                }
                break;
            }
        }
        return preload;
    }
    default:
        return preload;
    }
}

} // namespace kqm::program
