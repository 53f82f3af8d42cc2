#pragma once

#include "link/motion_panel.h"
#include "transfer/send.h"

#include <QString>

class QWidget;

namespace kqm::ui {

class MotionTab;
class ProgramTab;
struct Session;

// What the window asks of the unit: connecting and choosing its address and
// port, the motion controls and the readout, and the program transfers. The
// exchanges themselves live in link/ and transfer/; this only shows them.
class UnitActions {
public:
    UnitActions(Session& session, MotionTab& motionTab, ProgramTab& programTab,
                QWidget* dialogParent);

    void connectAtStartUp();
    void cmdConnect_Click();
    // Returns the Axis menu item to check.
    int mnuAxisNum_Click(int index);
    void mnuCommSettings_Click();
    void cmdVerifyParameters_Click();
    void runMotion(link::MotionControl control, const QString& operand = QString());
    void cmdSend_Click();
    void cmdUpload_Click();
    void cmdView_Click();
    // Only ever towards the KQM21 layout; it stays for the rest of the run.
    void applyModelLayout();

private:
    void runSend(const transfer::PreparedSend& send);
    bool rebuildWorkingCopy();

    Session& m_session;
    MotionTab& m_motionTab;
    ProgramTab& m_programTab;
    QWidget* m_dialogParent;
};

} // namespace kqm::ui
