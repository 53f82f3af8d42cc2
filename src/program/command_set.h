#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kqm::platform {
class Messages;
}

namespace kqm::program {

// The unit's command vocabulary and the small routines that take a stored
// command string apart. A stored command is one letter and its operand text,
// for example "A100", "&12_3" or "N500\r@0G".

inline constexpr int UnitMemoryBytes = 2047;

bool IsCommandLetter(const QString& letter);
bool IsCommandString(const QString& text);

// Bytes the command occupies in the unit's memory. An unknown letter shows
// "Error: Unknown command (...)." and counts 0 bytes.
int16_t CommandSize(const QString& command, platform::Messages& messages);
// The same rule without the message; nullopt for an unknown letter.
std::optional<int16_t> knownCommandSize(const QString& command);
QString unknownCommandText(const QString& command);

// Reads a field the way the unit's operands are read: blanks, tabs and line
// feeds are skipped, an optional minus sign, digits with an optional fraction;
// reading stops at the first other character, halves round to even, the result
// saturates to 32 bits.
int32_t readFieldValue(const QString& field);
// The same reading without rounding: the decimal number at the start of the
// text as written (0 when there is none).
double readDecimal(const QString& text);
// Value of the index-th comma-separated operand field after the letter.
int32_t OperandField(const QString& command, int index);

QString SwitchStateText(int pattern);
QString StripCrLf(const QString& text);
QString StripLf(const QString& text);

// The readable text of a command listed as the given line; nullopt where the
// command has none (so a pending "!" stays pending).
std::optional<QString> ListingText(const QString& command, int lineNumber);

} // namespace kqm::program
