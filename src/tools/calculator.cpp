#include "tools/calculator.h"

#include <QRegularExpression>

#include <cmath>

namespace kqm::tools {

std::optional<double> DisplayNumber(const QString& text) {
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

QString FormatValue(double value) {
    if (value == 0.0)
        value = 0.0; // no "-0" for a computed zero
    return QString::number(value, 'g', 15);
}

double LeadingNumber(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^\\s*(-?\\d*\\.?\\d*)"));
    const QString match = number.match(text).captured(1);
    bool ok = false;
    const double value = match.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

namespace {
double valueOf(const QString& text) {
    return DisplayNumber(text).value_or(0.0);
}
} // namespace

void Calculator::digit(int d) {
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
            if (std::isfinite(*result))
                m_operand1 = FormatValue(*result);
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
    if (const auto value = DisplayNumber(m_display))
        m_display = FormatValue(*value / 100.0);
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
    const auto value = DisplayNumber(m_display);
    if (!value)
        return;
    const double steps = LeadingNumber(stepsPerRev);
    if (steps == 0.0) {
        if (warn)
            warn(StepsPerRevMessage);
        return;
    }
    const double result = toRps ? *value / steps : *value * steps;
    if (!std::isfinite(result)) {
        if (warn)
            warn(TooLargeMessage);
        return;
    }
    m_display = FormatValue(result);
    if (!m_display.contains(QLatin1Char('.')) && !m_display.contains(QLatin1Char('e')))
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
