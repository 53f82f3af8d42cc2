#pragma once

#include "link/motion_panel.h"
#include "link/position_poll.h"
#include "program/program_table.h"
#include "transfer/send.h"
#include "transfer/send_operation.h"
#include "transfer/send_request.h"

#include <QPointer>

#include <QVector>

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
    // A motion command is followed by the position while the motor moves.
    void runMotion(link::MotionControl control, const QString& operand = QString());
    void stopFollowingPosition() { m_positionPoll.stop(); }
    void cmdSend_Click();
    // File > Unit Backups: the kept programs; one opens as the program or
    // goes back to the unit.
    void mnuUnitBackups_Click();
    void cmdUpload_Click();
    void cmdView_Click();
    // Only ever towards the KQM21 layout; it stays for the rest of the run.
    void applyModelLayout();

private:
    // The send dialog for a program file, with the stored choices; the file
    // is read again when the user confirms.
    void offerSend(const QString& programFile);
    void runSend(const transfer::SendRequest& request, const QString& programFile);
    transfer::SendPlaces sendPlaces() const;
    // The working copy made afresh from `source` (the template, or a kept
    // program) and bound; `failure` says what did not happen.
    bool rebuildWorkingCopy(const QString& source, const QString& failure);
    QString backupRoot() const;

    Session& m_session;
    MotionTab& m_motionTab;
    ProgramTab& m_programTab;
    QWidget* m_dialogParent;
    link::PositionPoll m_positionPoll;
    QPointer<QWidget> m_sendDialog; // at most one send dialog is open
};

} // namespace kqm::ui
