#include "link/motion_panel.h"

#include "link/link.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "program/command_rules.h"

#include <optional>

namespace kqm::link {

namespace {

// Controls that write one frame, wait half a second and re-read the unit.
std::optional<QString> parameterLetter(MotionControl control) {
    switch (control) {
    case MotionControl::SendAccel:
        return QStringLiteral("A");
    case MotionControl::SendBase:
        return QStringLiteral("B");
    case MotionControl::SendMax:
        return QStringLiteral("M");
    case MotionControl::JogSpeed:
        return QStringLiteral("J");
    case MotionControl::AbsolutePosition:
        return QStringLiteral("Z");
    case MotionControl::DirPlus:
        return QStringLiteral("+");
    case MotionControl::DirMinus:
        return QStringLiteral("-");
    default:
        return std::nullopt;
    }
}

// Controls whose command the motor follows for a while. A KQM21's
// registration mark index only arms the next move.
bool setsMotorMoving(MotionControl control, bool kqm21) {
    switch (control) {
    case MotionControl::SendGo:
    case MotionControl::Slew:
    case MotionControl::HomeType0:
    case MotionControl::HomeType1:
    case MotionControl::Run:
        return true;
    case MotionControl::AbsoluteMove:
        return !kqm21;
    default:
        return false;
    }
}

} // namespace

std::optional<QString> MotionPanel::checkedOperand(MotionControl control, const QString& operand) {
    using program::CommandKind;
    const bool kqm21 = m_link.state().UnitModel == QLatin1String("KQM21");
    std::optional<CommandKind> kind;
    QString field;
    switch (control) {
    case MotionControl::SendAccel:
        kind = CommandKind::Acceleration;
        break;
    case MotionControl::SendBase:
        kind = CommandKind::BaseSpeed;
        break;
    case MotionControl::SendMax:
        kind = CommandKind::MaxSpeed;
        break;
    case MotionControl::AbsolutePosition:
        kind = CommandKind::Zero;
        break;
    case MotionControl::SendGo:
        kind = CommandKind::GoRelative;
        break;
    case MotionControl::AbsoluteMove:
        kind = kqm21 ? CommandKind::Registration : CommandKind::GoAbsolute;
        break;
    case MotionControl::JogSpeed:
        field = QStringLiteral("Jog Speed");
        break;
    default:
        return operand; // no operand to check
    }
    const std::optional<program::ValueRange> range =
        kind ? program::valueRange(*kind) : std::nullopt;
    if (range)
        field = range->field;
    platform::Messages& messages = m_messages;
    if (!program::isPlainNumber(operand) || (!range && operand.trimmed().isEmpty())) {
        messages.show(platform::MessageIcon::Warning, program::notANumberMessage(field, operand) +
                                                          QStringLiteral(" Nothing was sent."));
        return std::nullopt;
    }
    const std::optional<qint64> value = program::readEntryNumber(operand);
    if (!value || (range && (*value < range->low || *value > range->high))) {
        messages.show(platform::MessageIcon::Warning,
                      QStringLiteral("%1: %2 is outside the range %3 to %4. Nothing was sent.")
                          .arg(field, operand.trimmed().isEmpty() ? QStringLiteral("nothing")
                                                                  : operand.trimmed())
                          .arg(range ? range->low : 0)
                          .arg(range ? range->high : 0));
        return std::nullopt;
    }
    return QString::number(*value);
}

bool MotionPanel::frameThenWait(const QString& command, double seconds) {
    m_link.writeFrame(command);
    m_link.Delay(seconds);
    return false;
}

bool MotionPanel::run(MotionControl control, const QString& operand) {
    m_startedMotion = false;
    if (control == MotionControl::StopAll) {
        // Never refused, never waits.
        if (!m_link.state().UnitConnected)
            m_link.exchanges().reportNotConnected();
        else
            m_link.stopMotion();
        return false;
    }
    if (control == MotionControl::EnableAutostart || control == MotionControl::DisableAutostart) {
        platform::BusyCursorGuard busy(m_cursor);
        const auto exchange = m_link.exchanges().tryBegin();
        if (!exchange)
            return false;
        return frameThenWait(control == MotionControl::EnableAutostart ? QStringLiteral("U1")
                                                                       : QStringLiteral("U0"),
                             0.5);
    }
    const auto exchange = m_link.exchanges().tryBegin();
    if (!exchange)
        return false;
    const std::optional<QString> checked = checkedOperand(control, operand);
    if (!checked)
        return false;
    return send(control, *checked);
}

bool MotionPanel::send(MotionControl control, const QString& operand) {
    if (const auto letter = parameterLetter(control)) {
        frameThenWait(*letter + operand, 0.5);
        return true;
    }
    const bool kqm21 = m_link.state().UnitModel == QLatin1String("KQM21");
    m_startedMotion = setsMotorMoving(control, kqm21);
    switch (control) {
    case MotionControl::SendGo:
        frameThenWait(QStringLiteral("N") + operand, 0.1);
        return frameThenWait(QStringLiteral("G"), 0.5);
    case MotionControl::AbsoluteMove:
        if (kqm21) {
            frameThenWait(QStringLiteral("N") + operand, 0.1);
            m_link.Delay(0.5);
            return true;
        }
        frameThenWait(QStringLiteral("P") + operand, 0.1);
        return frameThenWait(QStringLiteral("G"), 0.1);
    case MotionControl::Slew:
        return frameThenWait(QStringLiteral("S"), 0.1);
    case MotionControl::HomeType0:
        return frameThenWait(QStringLiteral("H0"), 0.5);
    case MotionControl::HomeType1:
        return frameThenWait(QStringLiteral("H1"), 0.5);
    case MotionControl::Run:
        return frameThenWait(RunProgramFrame, 0.5);
    case MotionControl::Stop:
        return frameThenWait(QStringLiteral("."), 0.5);
    default:
        return false;
    }
}

void MotionPanel::outputClicked(int output, bool checked) {
    const auto exchange = m_link.exchanges().tryBegin();
    if (!exchange)
        return; // the box keeps what the user gave it; the flag stays as it was
    (output == 1 ? Output1On : Output2On) = checked ? 1 : 0;
    frameThenWait(QStringLiteral("O%1").arg(Output1On + 2 * Output2On), 0.5);
}

} // namespace kqm::link
