#include "link/motion_panel.h"

#include "link/link.h"
#include "platform/busy_cursor.h"

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

} // namespace

bool MotionPanel::frameThenWait(const QString& command, double seconds) {
    m_link.writeFrame(command);
    m_link.Delay(seconds);
    return false;
}

bool MotionPanel::run(MotionControl control, const QString& operand) {
    if (control == MotionControl::StopAll) {
        // Never refused, never waits.
        if (!m_link.state().UnitConnected)
            m_link.ReportNotConnected();
        else
            m_link.stopMotion();
        return false;
    }
    if (control == MotionControl::EnableAutostart || control == MotionControl::DisableAutostart) {
        platform::BusyCursorGuard busy(m_cursor);
        const auto exchange = m_link.tryBegin();
        if (!exchange)
            return false;
        return frameThenWait(control == MotionControl::EnableAutostart ? QStringLiteral("U1")
                                                                       : QStringLiteral("U0"),
                             0.5);
    }
    const auto exchange = m_link.tryBegin();
    if (!exchange)
        return false;
    if (const auto letter = parameterLetter(control)) {
        frameThenWait(*letter + operand, 0.5);
        return true;
    }
    const bool kqm21 = m_link.state().UnitModel == QLatin1String("KQM21");
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
        return frameThenWait(QStringLiteral("R0"), 0.5);
    case MotionControl::Stop:
        return frameThenWait(QStringLiteral("."), 0.5);
    default:
        return false;
    }
}

void MotionPanel::outputClicked(int output, bool checked) {
    const auto exchange = m_link.tryBegin();
    if (!exchange)
        return; // the box keeps what the user gave it; the flag stays as it was
    (output == 1 ? Output1On : Output2On) = checked ? 1 : 0;
    frameThenWait(QStringLiteral("O%1").arg(Output1On + 2 * Output2On), 0.5);
}

} // namespace kqm::link
