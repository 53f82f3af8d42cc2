#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace kqm::tools {

// The pocket calculator's keys and display, without a window. The display
// never shows anything that is not a number: a result that cannot be shown
// is reported and the display keeps its last value.
class Calculator {
public:
    enum class Input { None, Nums, Ops, Neg, ClearEntry };

    // Told about a division by zero or a result too large to show.
    std::function<void(const QString& message)> warn;

    QString display() const { return m_display; }

    void digit(int d);
    void decimalPoint();
    // "/", "+", "X", "-" or "=".
    void op(QChar key);
    void percent();
    void clear();
    void clearEntry();
    void ppsToRps(const QString& stepsPerRev);
    void rpsToPps(const QString& stepsPerRev);
    // A typed character; false when it is not one of the calculator's keys.
    bool key(QChar character);

    // For tests: the state the keys work on.
    Input lastInput() const { return m_lastInput; }
    QChar pendingOp() const { return m_pendingOp; }
    int operandCount() const { return m_operandCount; }

private:
    void convert(const QString& stepsPerRev, bool toRps);

    QString m_display = QStringLiteral("0.");
    QString m_operand1 = QStringLiteral("0");
    QString m_operand2 = QStringLiteral("0");
    QString m_savedReadout;
    bool m_decimalSeen = false;
    int m_operandCount = 0;
    Input m_lastInput = Input::None;
    QChar m_pendingOp = QLatin1Char(' ');
};

// The number a display shows ("12.", "-0.", "2.5", "1e+20"); nullopt for "."
// alone, "-" alone or anything else that is no number.
std::optional<double> displayNumber(const QString& text);
// A computed value as the display shows it: plain decimal text with up to 15
// significant digits, no decimal point for a whole number; below 1e-15 it is 0.
QString formatValue(double value);
// Results from 1e15 on (and infinities) are too large for the display.
inline constexpr double MaxShown = 1e15;
inline constexpr int MaxDigits = 15;
bool showable(double value);
// The number at the start of a text (leading digits, an optional fraction);
// 0 when it does not start with one.
double leadingNumber(const QString& text);

inline const QString DivideByZeroMessage = QStringLiteral("Can't divide by zero");
inline const QString TooLargeMessage = QStringLiteral("The result is too large to show.");
inline const QString StepsPerRevMessage =
    QStringLiteral("Steps Per Rev must be a number other than 0.");

} // namespace kqm::tools
