#pragma once

#include <QString>

namespace kqm::platform {
class BusyCursor;
}

namespace kqm::link {

class Link;

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
    MotionPanel(Link& link, platform::BusyCursor& cursor) : m_link(link), m_cursor(cursor) {}

    // Runs a control with the text of its operand box, sent exactly as typed.
    // True when the parameter readout is to follow.
    bool run(MotionControl control, const QString& operand = QString());
    // An output check box was clicked; it now shows `checked`.
    void outputClicked(int output, bool checked);

    int Output1On = 0;
    int Output2On = 0;

private:
    bool frameThenWait(const QString& command, double seconds);

    Link& m_link;
    platform::BusyCursor& m_cursor;
};

} // namespace kqm::link
