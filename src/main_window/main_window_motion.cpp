// The main window's motion controls and parameter readout; the frames, waits
// and readout live in link/.

#include "main_window/main_window.h"

#include "link/readout.h"
#include "main_window/motion_tab.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/serial_port.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace kqm::ui {

using link::MotionControl;

bool Form1::unitReady() {
    if (!m_linkState.UnitConnected) {
        m_link.ReportNotConnected();
        return false;
    }
    return !m_link.RefuseWhenBusy();
}

void Form1::cmdVerifyParameters_Click() {
    if (!unitReady())
        return;
    platform::BusyCursorGuard busy(m_services.busyCursor);
    link::Link::Exchange exchange(m_link);
    link::RunReadout(m_link, *m_motionTab);
    // A unit that is silent shows "False" in the labels; a port that went
    // away during the readout is said plainly.
    if (!m_link.lostReason().isEmpty())
        m_services.messages.show(platform::MessageIcon::Critical, m_link.lostReason());
}

void Form1::runMotion(MotionControl control, const QString& operand) {
    if (m_motion.Run(control, operand))
        cmdVerifyParameters_Click();
}

void Form1::connectMotionControls() {
    MotionTab* tab = m_motionTab;
    const auto bind = [this](QPushButton* button, MotionControl control,
                             QLineEdit* operand = nullptr) {
        connect(button, &QPushButton::clicked, this, [this, control, operand] {
            runMotion(control, operand ? operand->text() : QString());
        });
    };
    bind(tab->cmdSendAccel, MotionControl::SendAccel, tab->txtSendAccel);
    bind(tab->cmdSendBase, MotionControl::SendBase, tab->txtSendBase);
    bind(tab->cmdSendMax, MotionControl::SendMax, tab->txtSendMax);
    bind(tab->cmdJogSpeed, MotionControl::JogSpeed, tab->txtJogSpeed);
    bind(tab->cmdAbsolutePosition, MotionControl::AbsolutePosition, tab->txtSendAbsolute);
    bind(tab->cmdDirPlus, MotionControl::DirPlus);
    bind(tab->cmdDirMinus, MotionControl::DirMinus);
    bind(tab->cmdSendGo, MotionControl::SendGo, tab->txtSendRel);
    bind(tab->cmdAbsoluteMove, MotionControl::AbsoluteMove, tab->txtGoAbsolute);
    bind(tab->Command1, MotionControl::Slew);
    bind(tab->cmdHomeType0, MotionControl::HomeType0);
    bind(tab->cmdHomeType1, MotionControl::HomeType1);
    bind(tab->cmdStopAll, MotionControl::StopAll);
    bind(cmdRun, MotionControl::Run);
    bind(cmdStop, MotionControl::Stop);
    bind(cmdEnableAutostart, MotionControl::EnableAutostart);
    bind(cmdDisableAutostart, MotionControl::DisableAutostart);
    connect(tab->cmdVerifyParameters, &QPushButton::clicked, this,
            &Form1::cmdVerifyParameters_Click);
    connect(tab->chkOutput1, &QCheckBox::clicked, this,
            [this](bool checked) { m_motion.OutputClicked(1, checked); });
    connect(tab->chkOutput2, &QCheckBox::clicked, this,
            [this](bool checked) { m_motion.OutputClicked(2, checked); });
    connect(mnuAutostartOnOff.at(0), &QAction::triggered, this, [this] {
        ShowProgramTab();
        runMotion(MotionControl::DisableAutostart);
    });
    connect(mnuAutostartOnOff.at(1), &QAction::triggered, this, [this] {
        ShowProgramTab();
        runMotion(MotionControl::EnableAutostart);
    });
    tab->cmdVerifyParameters->installEventFilter(this);
    cmdStop->installEventFilter(this);
}

} // namespace kqm::ui
