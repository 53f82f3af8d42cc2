#include "main_window/motion_tab.h"

#include "platform/object_names.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>
#include <QVBoxLayout>

namespace kqm::ui {

namespace {

// Scrolls when the window is small, but asks for room to show its fields
// whole: the window's first size holds the Motion tab unscrolled.
class WholeScrollArea final : public QScrollArea {
public:
    QSize sizeHint() const override {
        if (!widget())
            return QScrollArea::sizeHint();
        const int frame = 2 * frameWidth();
        return widget()->sizeHint() + QSize(frame, frame);
    }
};

} // namespace

namespace {

using platform::named;

QPushButton* button(const char* name, const QString& caption) {
    auto* push = named(new QPushButton(caption), name);
    // On a wide screen a button stays a button, not a bar across the tab.
    push->setMaximumWidth(push->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 20);
    return push;
}

QLineEdit* entry(const char* name, const QString& text) {
    auto* edit = named(new QLineEdit(text), name);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("88888888")));
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("8888888888888")));
    return edit;
}

QLabel* label(const char* name, const QString& caption) {
    return named(new QLabel(caption), name);
}

QCheckBox* check(const char* name, const QString& caption) {
    return named(new QCheckBox(caption), name);
}

// A row of "value box, button" pairs inside a group.
void addRow(QGridLayout* grid, QLineEdit* edit, QPushButton* push) {
    const int row = grid->rowCount();
    grid->addWidget(edit, row, 0);
    grid->addWidget(push, row, 1);
}

} // namespace

MotionTab::MotionTab(QWidget* parent) : QWidget(parent) {
    txtSendAccel = entry("txtSendAccel", QStringLiteral("16"));
    txtSendBase = entry("txtSendBase", QStringLiteral("500"));
    txtSendMax = entry("txtSendMax", QStringLiteral("1500"));
    txtJogSpeed = entry("txtJogSpeed", QStringLiteral("1500"));
    txtSendAbsolute = entry("txtSendAbsolute", QStringLiteral("0"));
    txtSendRel = entry("txtSendRel", QStringLiteral("400"));
    txtGoAbsolute = entry("txtGoAbsolute", QStringLiteral("0"));

    cmdSendAccel = button("cmdSendAccel", QStringLiteral("Send Accel/Decel"));
    cmdSendBase = button("cmdSendBase", QStringLiteral("Send Base Speed"));
    cmdSendMax = button("cmdSendMax", QStringLiteral("Send Max Speed"));
    cmdJogSpeed = button("cmdJogSpeed", QStringLiteral("Send Jog Speed"));
    cmdAbsolutePosition = button("cmdAbsolutePosition", QStringLiteral("Set Position"));
    cmdDirPlus = button("cmdDirPlus", QStringLiteral("Set Dir CW"));
    cmdDirMinus = button("cmdDirMinus", QStringLiteral("Set Dir CCW"));
    cmdSendGo = button("cmdSendGo", QStringLiteral("Move number of steps below"));
    cmdAbsoluteMove = button("cmdAbsoluteMove", QStringLiteral("Move to Position"));
    Command1 = button("Command1", QStringLiteral("Slew"));
    cmdHomeType0 = button("cmdHomeType0", QStringLiteral("Home using (Soft, Home)"));
    cmdHomeType1 = button("cmdHomeType1", QStringLiteral("Home using (Home switch)"));
    cmdStopAll = button("cmdStopAll", QStringLiteral("Stop Motion"));
    cmdVerifyParameters = button("cmdVerifyParameters", QStringLiteral("Verify Parameters"));

    chkOutput1 = check("chkOutput1", QStringLiteral("Output 1"));
    chkOutput2 = check("chkOutput2", QStringLiteral("Output 2"));
    chkInput1 = check("chkInput1", QStringLiteral("1"));
    chkInput2 = check("chkInput2", QStringLiteral("2"));
    chkInput3 = check("chkInput3", QStringLiteral("3"));
    chkInput4 = check("chkInput4", QStringLiteral("4"));

    const std::pair<int, const char*> infos[] = {
        {0, "Accel/Decel"}, {2, "Base Speed"},     {3, "Max Speed"}, {6, "Number of Steps to Move"},
        {7, "Position"},    {8, "Version Number"},
    };
    for (const auto& [index, caption] : infos) {
        m_verifyInfo[index] = new QLabel(QString::fromLatin1(caption));
        m_verifyInfo[index]->setObjectName(QStringLiteral("lblVerifyInfo(%1)").arg(index));
    }
    lblJogSpeed = label("lblJogSpeed", QStringLiteral("Jog Speed"));
    lblDirection = label("lblDirection", QStringLiteral("Direction"));
    lblError = label("lblError", QStringLiteral("Error Code"));
    lblMoving = label("lblMoving", QString());
    QFont movingFont = lblMoving->font();
    movingFont.setBold(true);
    lblMoving->setFont(movingFont);
    lblMoving->setStyleSheet(QStringLiteral("color: rgb(0, 128, 0);"));
    // Room kept, so the labels below do not jump when it shows.
    lblMoving->setMinimumHeight(lblMoving->fontMetrics().height());

    auto* speeds = new QGroupBox(QStringLiteral("Speeds"));
    auto* speedGrid = new QGridLayout(speeds);
    addRow(speedGrid, txtSendAccel, cmdSendAccel);
    addRow(speedGrid, txtSendBase, cmdSendBase);
    addRow(speedGrid, txtSendMax, cmdSendMax);
    addRow(speedGrid, txtJogSpeed, cmdJogSpeed);

    auto* moves = new QGroupBox(QStringLiteral("Moves"));
    auto* moveGrid = new QGridLayout(moves);
    addRow(moveGrid, txtSendRel, cmdSendGo);
    addRow(moveGrid, txtGoAbsolute, cmdAbsoluteMove);
    addRow(moveGrid, txtSendAbsolute, cmdAbsolutePosition);
    moveGrid->addWidget(Command1, moveGrid->rowCount(), 1);

    auto* homing = new QGroupBox(QStringLiteral("Direction and homing"));
    auto* homingGrid = new QGridLayout(homing);
    homingGrid->addWidget(cmdDirPlus, 0, 0);
    homingGrid->addWidget(cmdDirMinus, 0, 1);
    homingGrid->addWidget(cmdHomeType0, 1, 0);
    homingGrid->addWidget(cmdHomeType1, 1, 1);

    auto* outputs = new QGroupBox(QStringLiteral("Outputs"));
    auto* outputRow = new QHBoxLayout(outputs);
    outputRow->addWidget(chkOutput1);
    outputRow->addWidget(chkOutput2);

    auto* inputs = new QGroupBox(QStringLiteral("Inputs"));
    auto* inputRow = new QHBoxLayout(inputs);
    for (QCheckBox* box : {chkInput1, chkInput2, chkInput3, chkInput4}) {
        // They show the unit's inputs; a click cannot change them.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        inputRow->addWidget(box);
    }

    auto* readout = new QGroupBox(QStringLiteral("Parameters in the unit"));
    auto* readoutColumn = new QVBoxLayout(readout);
    for (const auto& [index, caption] : infos) {
        Q_UNUSED(caption);
        readoutColumn->addWidget(m_verifyInfo[index]);
        if (index == 7)
            readoutColumn->addWidget(lblMoving);
        if (index == 3) {
            readoutColumn->addWidget(lblJogSpeed);
            readoutColumn->addWidget(lblDirection);
        }
    }
    readoutColumn->addWidget(lblError);
    readoutColumn->addWidget(inputs);
    readoutColumn->addWidget(cmdVerifyParameters);
    readoutColumn->addStretch();

    // The one button a technician must find without looking twice.
    cmdStopAll->setMinimumHeight(cmdStopAll->sizeHint().height() * 2);
    cmdStopAll->setMaximumWidth(QWIDGETSIZE_MAX); // Stop Motion spans the tab, easy to hit
    QFont stopFont = cmdStopAll->font();
    stopFont.setBold(true);
    stopFont.setPointSizeF(stopFont.pointSizeF() * 1.3);
    cmdStopAll->setFont(stopFont);
    cmdStopAll->setStyleSheet(QStringLiteral("QPushButton { color: rgb(192, 0, 0); }"));
    auto* left = new QVBoxLayout;
    left->addWidget(speeds);
    left->addWidget(moves);
    left->addWidget(homing);
    left->addWidget(outputs);
    left->addStretch();

    // The fields and buttons keep their size in a small window and scroll;
    // Stop Motion stays below them, outside the scrolling, always whole.
    auto* fields = new QWidget;
    fields->setObjectName(QStringLiteral("MotionFields"));
    auto* columns = new QHBoxLayout(fields);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->addLayout(left, 3);
    columns->addWidget(readout, 2);
    auto* scroll = new WholeScrollArea;
    scroll->setObjectName(QStringLiteral("scrMotion"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(fields);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(cmdStopAll);
    connectControls();
    setAxis(m_axis);
}

void MotionTab::connectControls() {
    using link::MotionControl;
    const auto bind = [this](QPushButton* button, MotionControl control,
                             QLineEdit* operand = nullptr) {
        connect(button, &QPushButton::clicked, this, [this, control, operand] {
            emit motionRequested(control, operand ? operand->text() : QString());
        });
    };
    bind(cmdSendAccel, MotionControl::SendAccel, txtSendAccel);
    bind(cmdSendBase, MotionControl::SendBase, txtSendBase);
    bind(cmdSendMax, MotionControl::SendMax, txtSendMax);
    bind(cmdJogSpeed, MotionControl::JogSpeed, txtJogSpeed);
    bind(cmdAbsolutePosition, MotionControl::AbsolutePosition, txtSendAbsolute);
    bind(cmdDirPlus, MotionControl::DirPlus);
    bind(cmdDirMinus, MotionControl::DirMinus);
    bind(cmdSendGo, MotionControl::SendGo, txtSendRel);
    bind(cmdAbsoluteMove, MotionControl::AbsoluteMove, txtGoAbsolute);
    bind(Command1, MotionControl::Slew);
    bind(cmdHomeType0, MotionControl::HomeType0);
    bind(cmdHomeType1, MotionControl::HomeType1);
    bind(cmdStopAll, MotionControl::StopAll);
    connect(cmdVerifyParameters, &QPushButton::clicked, this, &MotionTab::verifyRequested);
    connect(chkOutput1, &QCheckBox::clicked, this,
            [this](bool checked) { emit outputClicked(1, checked); });
    connect(chkOutput2, &QCheckBox::clicked, this,
            [this](bool checked) { emit outputClicked(2, checked); });
    cmdVerifyParameters->installEventFilter(this);
}

bool MotionTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cmdVerifyParameters && event->type() == QEvent::FocusIn)
        emit verifyButtonFocused();
    return QWidget::eventFilter(watched, event);
}

void MotionTab::showKqm21Layout() {
    cmdAbsoluteMove->setText(QStringLiteral("Registration Mark Index"));
    cmdAbsolutePosition->hide();
    txtSendAbsolute->hide();
    m_kqm21 = true;
    setAxis(m_axis);
}

void MotionTab::setAxis(const QString& axis) {
    m_axis = axis;
    const QString at = QLatin1Char('@') + axis;
    const auto sends = [&at](QWidget* control, const QString& frames, const QString& what) {
        control->setToolTip(QStringLiteral("Sends %1: %2").arg(frames.arg(at), what));
    };
    sends(cmdSendAccel, QStringLiteral("%1A<value>"),
          QStringLiteral("the acceleration in the box"));
    sends(cmdSendBase, QStringLiteral("%1B<value>"), QStringLiteral("the base speed in the box"));
    sends(cmdSendMax, QStringLiteral("%1M<value>"), QStringLiteral("the maximum speed in the box"));
    sends(cmdJogSpeed, QStringLiteral("%1J<value>"), QStringLiteral("the jog speed in the box"));
    sends(cmdAbsolutePosition, QStringLiteral("%1Z<value>"),
          QStringLiteral("the motor's position becomes the value in the box"));
    sends(cmdDirPlus, QStringLiteral("%1+"), QStringLiteral("moves turn clockwise"));
    sends(cmdDirMinus, QStringLiteral("%1-"), QStringLiteral("moves turn counter-clockwise"));
    sends(cmdSendGo, QStringLiteral("%1N<steps> then %1G"),
          QStringLiteral("moves the number of steps in the box"));
    if (m_kqm21)
        sends(cmdAbsoluteMove, QStringLiteral("%1N<index>"),
              QStringLiteral("arms the registration mark index for the next move"));
    else
        sends(cmdAbsoluteMove, QStringLiteral("%1P<position> then %1G"),
              QStringLiteral("moves to the position in the box"));
    sends(Command1, QStringLiteral("%1S"), QStringLiteral("turns continuously until stopped"));
    sends(cmdHomeType0, QStringLiteral("%1H0"),
          QStringLiteral("homes on the soft and home inputs"));
    sends(cmdHomeType1, QStringLiteral("%1H1"), QStringLiteral("homes on the home switch"));
    sends(cmdStopAll, QStringLiteral("%1."),
          QStringLiteral("stops the motor at once, even during a program send") +
              (m_stopKey.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m_stopKey)));
    cmdVerifyParameters->setToolTip(
        QStringLiteral("Sends the queries %1VA, %1VB, %1VM, %1VJ and the others, and shows the "
                       "replies; changes nothing in the unit")
            .arg(at));
    sends(chkOutput1, QStringLiteral("%1O<outputs>"), QStringLiteral("switches output 1"));
    sends(chkOutput2, QStringLiteral("%1O<outputs>"), QStringLiteral("switches output 2"));
}

void MotionTab::setStopKey(const QString& key) {
    m_stopKey = key;
    cmdStopAll->setText(QStringLiteral("Stop Motion (%1)").arg(key));
    setAxis(m_axis);
}

void MotionTab::showMoving(bool moving) {
    lblMoving->setText(moving ? QStringLiteral("Moving") : QString());
}

void MotionTab::setLabel(Label label, const QString& text) {
    switch (label) {
    case Label::Acceleration:
        m_verifyInfo[0]->setText(text);
        break;
    case Label::BaseSpeed:
        m_verifyInfo[2]->setText(text);
        break;
    case Label::MaxSpeed:
        m_verifyInfo[3]->setText(text);
        break;
    case Label::JogSpeed:
        lblJogSpeed->setText(text);
        break;
    case Label::Direction:
        lblDirection->setText(text);
        break;
    case Label::Steps:
        m_verifyInfo[6]->setText(text);
        break;
    case Label::Position:
        m_verifyInfo[7]->setText(text);
        break;
    case Label::Version:
        m_verifyInfo[8]->setText(text);
        break;
    case Label::Error:
        lblError->setText(text);
        break;
    }
}

void MotionTab::setInputs(int bits) {
    QCheckBox* const boxes[4] = {chkInput1, chkInput2, chkInput3, chkInput4};
    for (int i = 0; i < 4; ++i)
        boxes[i]->setChecked(((bits >> i) & 1) != 0);
}

} // namespace kqm::ui
