#pragma once

#include <QString>

#include <optional>

namespace kqm::platform {
class BusyCursor;
class Messages;
} // namespace kqm::platform

namespace kqm::link {

class Link;

// The frame that starts the unit's stored program (the Run button's).
inline const QString RunProgramFrame = QStringLiteral("R0");

// The controls that drive the unit directly: each writes its frames, waits
// its fixed time, and some ask for the parameter readout afterwards.
enum class MotionControl {
    SendAccel,
    SendBase,
    SendMax,
    JogSpeed,
    AbsolutePosition,
    DirPlus,
    DirMinus,
    SendGo,
    AbsoluteMove,
    Slew,
    HomeType0,
    HomeType1,
    StopAll,
    Run,
    Stop,
    EnableAutostart,
    DisableAutostart,
};

class MotionPanel {
public:
    MotionPanel(Link& link, platform::Messages& messages, platform::BusyCursor& cursor)
        : m_link(link), m_messages(messages), m_cursor(cursor) {}

    // Runs a control with the text of its operand box. The value is checked
    // as the command editor checks it (the jog speed only for being a
    // number) before anything goes out; a refusal is said and nothing is
    // sent. True when the parameter readout is to follow.
    bool run(MotionControl control, const QString& operand = QString());
    // An output check box was clicked; it now shows `checked`.
    void outputClicked(int output, bool checked);
    // The last run sent a command that sets the motor moving: a move, a
    // slew, homing or the stored program.
    bool startedMotion() const { return m_startedMotion; }

    int Output1On = 0;
    int Output2On = 0;

private:
    bool frameThenWait(const QString& command, double seconds);
    // Writes a checked control's frames and waits.
    bool send(MotionControl control, const QString& operand);
    // The operand as it goes out, or nothing (after the message) when it is refused.
    std::optional<QString> checkedOperand(MotionControl control, const QString& operand);

    Link& m_link;
    platform::Messages& m_messages;
    platform::BusyCursor& m_cursor;
    bool m_startedMotion = false;
};

} // namespace kqm::link
