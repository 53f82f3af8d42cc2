#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace kqm::program {

// The command kinds the editor offers, one per option button.
enum class CommandKind {
    Acceleration,
    BaseSpeed,
    MaxSpeed,
    GoRelative,
    GoAbsolute,
    Registration,
    Zero,
    RepeatLastMove,
    Slew,
    Stop,
    Finish,
    Clockwise,
    Counterclockwise,
    Home0,
    Home1,
    Output,
    IfThen,
    Loop,
    Goto,
    Wait,
    Quit,
};

inline constexpr int CommandKindCount = 21;

// What the user typed for one command: the texts of the kind's boxes.
struct CommandEntry {
    CommandKind kind = CommandKind::Quit;
    QString value;                  // the single entry box; for a loop the address
    QString times;                  // loop: times to loop
    std::array<QString, 2> outputs; // output 1, output 2
    std::array<QString, 4> inputs;  // inputs 1 to 4
};

struct BuiltCommand {
    QString command; // the stored form; empty when rejected
    QString message; // why it was rejected
    bool timesWrong = false; // a loop's times, not its address, was rejected
    bool ok() const { return message.isEmpty(); }
};

// Checks the entry as the editor's OK does and builds the stored command. Go
// moves embed the axis address after a carriage return.
BuiltCommand buildCommand(const CommandEntry& entry, const QString& axisAddress);

// Reads a box as OK does: like an operand field, then rounded down. nullopt
// when the value does not fit a 64-bit integer.
std::optional<qint64> readEntryNumber(const QString& text);

// A box's text is a plain decimal number: digits with an optional minus sign
// and fraction, blanks around it; or nothing. "4,000" and "1a" are not.
bool isPlainNumber(const QString& text);
// What the user is told when a box holds something else.
QString notANumberMessage(const QString& field, const QString& typed);

// The editor's range for a kind's single value, and the name of its box;
// nothing for kinds without one value.
struct ValueRange {
    qint64 low = 0;
    qint64 high = 0;
    QString field;
};
std::optional<ValueRange> valueRange(CommandKind kind);

// The tab (0 or 2) a kind's option lies on.
int tabOfKind(CommandKind kind);
// The name the command line uses for a kind ("accel", "move-to", ...).
QString kindName(CommandKind kind);
std::optional<CommandKind> kindFromName(const QString& name);
// How many values a kind takes on the command line.
int valueCount(CommandKind kind);

// What Change pre-loads into the editor for a stored line.
struct Preload {
    std::optional<CommandKind> kind; // none: the editor opens as for Add
    int tab = 0;
    QString value;
    QString times; // loop count
};
Preload preloadFor(const QString& command);

} // namespace kqm::program
