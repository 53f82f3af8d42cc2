#pragma once

#include "link/motion_panel.h"
#include "link/readout.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kqm::ui {

// The controls of the Motion tab, grouped as a technician uses them at a
// machine: speeds, moves, direction and homing, outputs, and the readout.
// It says what the user asks for; the window decides what happens.
class MotionTab final : public QWidget, public link::ReadoutView {
    Q_OBJECT
public:
    explicit MotionTab(QWidget* parent = nullptr);

    // The readout's labels and input boxes.
    void setLabel(Label label, const QString& text) override;
    void setInputs(int bits) override;
    // The layout of a KQM21: the absolute move becomes the registration
    // mark index, and the position cannot be set.
    void showKqm21Layout();
    // "Moving" beside the position while the tool follows the motor.
    void showMoving(bool moving);
    // The tooltips name the frames the controls send to this axis.
    void setAxis(const QString& axis);
    // The Stop Motion key, shown on the button.
    void setStopKey(const QString& key);

signals:
    // A control that drives the unit, with the text of its operand box.
    void motionRequested(kqm::link::MotionControl control, const QString& operand);
    void verifyRequested();
    void outputClicked(int output, bool checked);
    void verifyButtonFocused();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();

    QLineEdit* txtSendAccel = nullptr;
    QLineEdit* txtSendBase = nullptr;
    QLineEdit* txtSendMax = nullptr;
    QLineEdit* txtJogSpeed = nullptr;
    QLineEdit* txtSendAbsolute = nullptr;
    QLineEdit* txtSendRel = nullptr;
    QLineEdit* txtGoAbsolute = nullptr;

    QPushButton* cmdSendAccel = nullptr;
    QPushButton* cmdSendBase = nullptr;
    QPushButton* cmdSendMax = nullptr;
    QPushButton* cmdJogSpeed = nullptr;
    QPushButton* cmdAbsolutePosition = nullptr;
    QPushButton* cmdDirPlus = nullptr;
    QPushButton* cmdDirMinus = nullptr;
    QPushButton* cmdSendGo = nullptr;
    QPushButton* cmdAbsoluteMove = nullptr;
    QPushButton* Command1 = nullptr; // Slew
    QPushButton* cmdHomeType0 = nullptr;
    QPushButton* cmdHomeType1 = nullptr;
    QPushButton* cmdStopAll = nullptr;
    QPushButton* cmdVerifyParameters = nullptr;

    QCheckBox* chkOutput1 = nullptr;
    QCheckBox* chkOutput2 = nullptr;
    QCheckBox* chkInput1 = nullptr;
    QCheckBox* chkInput2 = nullptr;
    QCheckBox* chkInput3 = nullptr;
    QCheckBox* chkInput4 = nullptr;

    // lblVerifyInfo has the members 0, 2, 3, 6, 7 and 8.
    QLabel* m_verifyInfo[9] = {};
    QLabel* lblJogSpeed = nullptr;
    QLabel* lblDirection = nullptr;
    QLabel* lblError = nullptr;
    QLabel* lblMoving = nullptr;
    QString m_axis = QStringLiteral("0");
    QString m_stopKey;
    bool m_kqm21 = false;
};

} // namespace kqm::ui
