#include "tools/calculator.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace kqm::tools {

std::optional<double> displayNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^-?(\\d+\\.?\\d*|\\.\\d+)([eE][-+]?\\d+)?$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    QString plain = text;
    if (plain.endsWith(QLatin1Char('.')))
        plain.chop(1);
    bool ok = false;
    const double value = plain.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

QString formatValue(double value) {
    // Plain decimal text, never an exponent, so that digits typed after a
    // conversion extend the number and not an exponent.
    const double magnitude = std::fabs(value);
    if (magnitude < 1e-15)
        return QStringLiteral("0");
    const int decimals =
        std::clamp(14 - static_cast<int>(std::floor(std::log10(magnitude))), 0, 15);
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

bool showable(double value) {
    return std::isfinite(value) && std::fabs(value) < MaxShown;
}

double leadingNumber(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*(-?\\d*\\.?\\d*)"));
    const QString match = number.match(text).captured(1);
    bool ok = false;
    const double value = match.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

namespace {
double valueOf(const QString& text) {
    return displayNumber(text).value_or(0.0);
}
} // namespace

void Calculator::digit(int d) {
    // A pocket calculator takes no more digits than it can show exactly.
    if (m_lastInput == Input::Nums &&
        std::count_if(m_display.begin(), m_display.end(), [](QChar c) { return c.isDigit(); }) >=
            MaxDigits)
        return;
    if (m_lastInput != Input::Nums) {
        m_display = QStringLiteral(".");
        m_decimalSeen = false;
    }
    if (m_decimalSeen)
        m_display += QString::number(d);
    else
        m_display = m_display.left(m_display.indexOf(QLatin1Char('.'))) + QString::number(d) +
                    QLatin1Char('.');
    if (m_lastInput == Input::Neg)
        m_display = QLatin1Char('-') + m_display;
    m_lastInput = Input::Nums;
}

void Calculator::decimalPoint() {
    if (m_lastInput == Input::Neg)
        m_display = QStringLiteral("-0.");
    else if (m_lastInput != Input::Nums)
        m_display = QStringLiteral("0.");
    m_decimalSeen = true;
    m_lastInput = Input::Nums;
}

void Calculator::op(QChar key) {
    m_savedReadout = m_display;
    if (m_lastInput == Input::Nums)
        ++m_operandCount;
    if (m_operandCount == 0) {
        if (key == QLatin1Char('-') && m_lastInput != Input::Neg) {
            m_display = QLatin1Char('-') + m_display;
            m_lastInput = Input::Neg;
        }
    } else if (m_operandCount == 1) {
        m_operand1 = m_display;
        if (key == QLatin1Char('-') && m_lastInput != Input::Nums &&
            m_pendingOp != QLatin1Char('=')) {
            m_display = QStringLiteral("-");
            m_lastInput = Input::Neg;
        }
    } else if (m_operandCount == 2) {
        m_operand2 = m_savedReadout;
        const double a = valueOf(m_operand1);
        const double b = valueOf(m_operand2);
        std::optional<double> result;
        switch (m_pendingOp.unicode()) {
        case '+':
            result = a + b;
            break;
        case '-':
            result = a - b;
            break;
        case 'X':
        case '%':
            result = a * b;
            break;
        case '/':
            if (b == 0.0) {
                if (warn)
                    warn(DivideByZeroMessage);
            } else {
                result = a / b;
            }
            break;
        case '=':
            m_operand1 = m_operand2;
            break;
        default:
            break;
        }
        if (result) {
            if (showable(*result))
                m_operand1 = formatValue(*result);
            else if (warn)
                warn(TooLargeMessage);
        }
        m_display = m_operand1;
        m_operandCount = 1;
    }
    if (m_lastInput != Input::Neg) {
        m_lastInput = Input::Ops;
        m_pendingOp = key;
    }
}

void Calculator::percent() {
    // A display that is no number (a lone "-") stays as it is.
    if (const auto value = displayNumber(m_display))
        m_display = formatValue(*value / 100.0);
    m_lastInput = Input::Ops;
    m_pendingOp = QLatin1Char('%');
    m_decimalSeen = true;
    ++m_operandCount;
}

void Calculator::clear() {
    m_display = QStringLiteral("0.");
    m_operand1 = QStringLiteral("0");
    m_operand2 = QStringLiteral("0");
    m_decimalSeen = false;
    m_operandCount = 0;
    m_lastInput = Input::None;
    m_pendingOp = QLatin1Char(' ');
}

void Calculator::clearEntry() {
    m_display = QStringLiteral("0.");
    m_decimalSeen = false;
    m_lastInput = Input::ClearEntry;
}

void Calculator::convert(const QString& stepsPerRev, bool toRps) {
    const auto value = displayNumber(m_display);
    if (!value)
        return;
    const double steps = leadingNumber(stepsPerRev);
    if (steps == 0.0) {
        if (warn)
            warn(StepsPerRevMessage);
        return;
    }
    const double result = toRps ? *value / steps : *value * steps;
    if (!showable(result)) {
        if (warn)
            warn(TooLargeMessage);
        return;
    }
    m_display = formatValue(result);
    if (!m_display.contains(QLatin1Char('.')))
        m_display += QLatin1Char('.');
}

void Calculator::ppsToRps(const QString& stepsPerRev) {
    convert(stepsPerRev, true);
}

void Calculator::rpsToPps(const QString& stepsPerRev) {
    convert(stepsPerRev, false);
}

bool Calculator::key(QChar character) {
    if (character.isDigit() && character.unicode() < 128) {
        digit(character.unicode() - '0');
        return true;
    }
    switch (character.unicode()) {
    case '*':
        op(QLatin1Char('X'));
        return true;
    case '+':
    case '-':
    case '/':
        op(character);
        return true;
    case 'e':
        op(QLatin1Char('='));
        return true;
    case '.':
        decimalPoint(); // the keyboard's point is the decimal key
        return true;
    default:
        return false;
    }
}

} // namespace kqm::tools
