#include "program/command_editor_dialog.h"

#include "platform/messages.h"
#include "platform/window_placement.h"
#include "program/branch_targets.h"
#include "program/command_set.h"
#include "program/program_text.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace kqm::program {

namespace {
const QString ChooseCommand = QStringLiteral("Please choose a command.");

int index(CommandKind kind) {
    return static_cast<int>(kind);
}
} // namespace

frmCommands::frmCommands(platform::Messages& messages, EditorMemory& memory, QString unitModel,
                         QString axisAddress, QWidget* parent)
    : QDialog(parent), m_messages(messages), m_memory(memory), m_unitModel(std::move(unitModel)),
      m_axisAddress(std::move(axisAddress)) {
    setObjectName(QStringLiteral("frmCommands"));
    setWindowTitle(QStringLiteral("Add/Change/Insert Command"));
    setModal(true);

    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    SSTab1 = new QTabWidget;
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    SSTab1->addTab(buildMotionTab(), QStringLiteral("Motion Parameters"));
    auto* outputs = new QWidget;
    auto* outputsLayout = new QHBoxLayout(outputs);
    outputsLayout->addWidget(commentBox(1));
    SSTab1->addTab(outputs, QStringLiteral("Outputs"));
    SSTab1->addTab(buildProgramTab(), QStringLiteral("Program Parameters"));

    lblStatusBar = new QLabel(ChooseCommand);
    lblStatusBar->setObjectName(QStringLiteral("lblStatusBar"));
    lblStatusBar->setFrameShape(QFrame::StyledPanel);
    btnOK = new QPushButton(QStringLiteral("OK"));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblStatusBar, 1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSTab1, 1);
    layout->addLayout(buttons);

    // Loading: tab 0 shown, the Outputs tab hidden, options for the model.
    SSTab1->setCurrentIndex(0);
    SSTab1->setTabVisible(1, false);
    // Ctrl+Tab passes over disabled pages only: a hidden one must be one too.
    SSTab1->setTabEnabled(1, false);
    applyModelVisibility(true);

    connect(SSTab1, &QTabWidget::currentChanged, this, &frmCommands::SSTab1_Click);
    connect(btnOK, &QPushButton::clicked, this, &frmCommands::btnOK_Click);
    connect(btnCancel, &QPushButton::clicked, this, &frmCommands::btnCancel_Click);
}

QLineEdit* frmCommands::entryBox(const char* name, int maxLength) {
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("888888888888")));
    box->installEventFilter(this);
    // A hidden box keeps its place: the layout does not jump on each choice.
    QSizePolicy policy = box->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    box->setSizePolicy(policy);
    return box;
}

QRadioButton* frmCommands::option(CommandKind kind, const char* name, const QString& caption) {
    auto* button = new QRadioButton(caption);
    button->setObjectName(QString::fromLatin1(name));
    m_group->addButton(button, index(kind));
    m_options[index(kind)].button = button;
    button->installEventFilter(this);
    connect(button, &QRadioButton::clicked, this, [this, kind] { optionClicked(kind); });
    return button;
}

QLineEdit* frmCommands::commentBox(int tab) {
    auto* box = new QLineEdit;
    box->setObjectName(QStringLiteral("txtComment(%1)").arg(tab));
    box->setMaxLength(EditorCommentLength);
    txtComment[tab] = box;
    return box;
}

QWidget* frmCommands::buildMotionTab() {
    txtAcceleration = entryBox("txtAcceleration", 3);
    txtBaseSpeed = entryBox("txtBaseSpeed", 5);
    txtMaxSpeed = entryBox("txtMaxSpeed", 5);
    txtGoRelative = entryBox("txtGoRelative", 8);
    txtGoAbsolute = entryBox("txtGoAbsolute", 8);
    txtRegistration = entryBox("txtRegistration", 0);
    txtZero = entryBox("txtZero", 8);

    struct Row {
        CommandKind kind;
        const char* name;
        const char* caption;
        QLineEdit* box;
        const char* prompt;
    };
    const Row rows[] = {
        {CommandKind::Acceleration, "optAcceleration", "Accel/Decel", txtAcceleration,
         "Accel/Decel (1 to 255)"},
        {CommandKind::BaseSpeed, "optBaseSpeed", "Base Speed ", txtBaseSpeed,
         "Base speed (steps/sec) 77 to 3500)"},
        {CommandKind::MaxSpeed, "optMaxSpeed", "Max. Speed ", txtMaxSpeed,
         "Max Speed (steps/sec) 77 to 15000"},
        {CommandKind::GoRelative, "optGoRelative", "Move", txtGoRelative,
         "Move specified Number of Steps (0 to 8388607)"},
        {CommandKind::GoAbsolute, "optGoAbsolute", "Move to Position", txtGoAbsolute,
         "Move to Position (0 to 8388607)"},
        {CommandKind::Registration, "optRegistration", "Registration Index", txtRegistration,
         "Registration Index (steps) 0 to 8388607)"},
        {CommandKind::Zero, "optZero", "Set Position", txtZero,
         "Set the Position  (-8388608 to +8388607)"},
        {CommandKind::RepeatLastMove, "optRepeatLastMove", "Repeat Last Move", nullptr,
         "Repeat last Move"},
        {CommandKind::Slew, "optSlew", "Slew (move continuously)", nullptr,
         "Slew the motor continuously"},
        {CommandKind::Stop, "optStop", "Stop Motion", nullptr, "Stop all motion"},
        {CommandKind::Finish, "optFinish", "Finish Move", nullptr,
         "Finish the Move before continuing"},
        {CommandKind::Clockwise, "optClockwise", "Direction CW", nullptr,
         "Set motor direction to clockwise."},
        {CommandKind::Counterclockwise, "optCounterclockwise", "Direction CCW", nullptr,
         "Set motor direction counterclockwise."},
        {CommandKind::Home0, "optHome0", "Home to Soft, Home Limits", nullptr, "Home mode 0"},
        {CommandKind::Home1, "optHome1", "Home to Home Limit", nullptr, "Home mode 1"},
    };
    auto* tab = new QWidget;
    auto* grid = new QGridLayout(tab);
    int line = 0;
    for (const Row& row : rows) {
        grid->addWidget(option(row.kind, row.name, QString::fromLatin1(row.caption)), line, 0);
        Option& entry = m_options[index(row.kind)];
        entry.prompt = QString::fromLatin1(row.prompt);
        if (row.box) {
            entry.boxes = {row.box};
            entry.focus = row.box;
            grid->addWidget(row.box, line, 1);
            if (row.kind == CommandKind::GoRelative) {
                auto* steps = new QLabel(QStringLiteral("Steps"));
                m_besideBox[row.box].append(steps);
                grid->addWidget(steps, line, 2);
            }
        }
        ++line;
    }
    grid->addWidget(new QLabel(QStringLiteral("Comment:")), line, 0);
    grid->addWidget(commentBox(0), line, 1, 1, 2);
    return tab;
}

QWidget* frmCommands::buildProgramTab() {
    for (int i = 0; i < 2; ++i)
        txtOutput[i] = entryBox(QStringLiteral("txtOutput(%1)").arg(i).toLatin1().constData(), 1);
    for (int i = 0; i < 4; ++i)
        txtInput[i] = entryBox(QStringLiteral("txtInput(%1)").arg(i + 1).toLatin1().constData(), 1);
    txtLoopLineNumber = entryBox("txtLoopLineNumber", 4);
    txtLoopTimesToLoop = entryBox("txtLoopTimesToLoop", 3);
    txtGotoLineNumber = entryBox("txtGotoLineNumber", 4);
    // Five characters: the accepted waits go up to 10000.
    txtWait = entryBox("txtWait", 5);
    for (QLineEdit* box :
         {txtOutput[0], txtOutput[1], txtInput[0], txtInput[1], txtInput[2], txtInput[3]}) {
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("888")));
        connect(box, &QLineEdit::textChanged, this, [this, box] { patternChanged(box); });
    }

    auto* tab = new QWidget;
    auto* grid = new QGridLayout(tab);
    const auto labelled = [this](const QString& caption, QLineEdit* box) {
        auto* cell = new QWidget;
        auto* layout = new QHBoxLayout(cell);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(caption);
        m_besideBox[box].append(label);
        layout->addWidget(label);
        layout->addWidget(box);
        return cell;
    };

    grid->addWidget(option(CommandKind::Output, "optOutput", QStringLiteral("Set Outputs")), 0, 0);
    grid->addWidget(labelled(QStringLiteral("1"), txtOutput[0]), 0, 1);
    grid->addWidget(labelled(QStringLiteral("2"), txtOutput[1]), 0, 2);
    m_options[index(CommandKind::Output)] = {m_options[index(CommandKind::Output)].button,
                                             {txtOutput[0], txtOutput[1]},
                                             QStringLiteral("Set outputs to... (1=ON,0=OFF)"),
                                             txtOutput[0]};

    auto* ifThen = option(CommandKind::IfThen, "optIfThen",
                          QStringLiteral("If inputs match below then execute the next line, "
                                         "otherwise skip the next line"));
    grid->addWidget(ifThen, 1, 0, 1, 5);
    for (int i = 0; i < 4; ++i)
        grid->addWidget(labelled(QString::number(i + 1), txtInput[i]), 2, 1 + i);
    m_options[index(CommandKind::IfThen)] = {
        ifThen,
        {txtInput[0], txtInput[1], txtInput[2], txtInput[3]},
        QStringLiteral("If inputs match then execute the next address"),
        txtInput[0]};

    grid->addWidget(option(CommandKind::Loop, "optLoop", QStringLiteral("Loop")), 3, 0);
    grid->addWidget(labelled(QStringLiteral("Address Number"), txtLoopLineNumber), 3, 1, 1, 2);
    grid->addWidget(labelled(QStringLiteral("Times to Loop"), txtLoopTimesToLoop), 3, 3, 1, 2);
    m_options[index(CommandKind::Loop)] = {
        m_options[index(CommandKind::Loop)].button,
        {txtLoopLineNumber, txtLoopTimesToLoop},
        QStringLiteral("Loop to address, Times to Loop:(1 to 255)"),
        txtLoopTimesToLoop};

    cboLoopTarget = targetChooser("cboLoopTarget", txtLoopLineNumber);
    grid->addWidget(cboLoopTarget, 3, 5);

    grid->addWidget(option(CommandKind::Goto, "optGoto", QStringLiteral("Goto")), 4, 0);
    grid->addWidget(labelled(QStringLiteral("Address Number"), txtGotoLineNumber), 4, 1, 1, 2);
    cboGotoTarget = targetChooser("cboGotoTarget", txtGotoLineNumber);
    grid->addWidget(cboGotoTarget, 4, 5);
    m_options[index(CommandKind::Goto)] = {m_options[index(CommandKind::Goto)].button,
                                           {txtGotoLineNumber},
                                           QStringLiteral("Branch to address number"),
                                           txtGotoLineNumber};

    grid->addWidget(option(CommandKind::Wait, "optWait", QStringLiteral("Wait")), 5, 0);
    grid->addWidget(txtWait, 5, 1);
    auto* milliseconds = new QLabel(QStringLiteral("milliseconds"));
    m_besideBox[txtWait].append(milliseconds);
    grid->addWidget(milliseconds, 5, 2);
    m_options[index(CommandKind::Wait)] = {
        m_options[index(CommandKind::Wait)].button,
        {txtWait},
        QStringLiteral("Wait for a period of time. (0.001s/increment) (0 to 65535)"),
        txtWait};

    grid->addWidget(option(CommandKind::Quit, "optQuit", QStringLiteral("Quit Program")), 6, 0);
    m_options[index(CommandKind::Quit)].prompt = QStringLiteral("Stop execution of program.");

    grid->addWidget(new QLabel(QStringLiteral("Comment:")), 7, 0);
    grid->addWidget(commentBox(2), 7, 1, 1, 4);
    grid->setRowStretch(8, 1);
    return tab;
}

QComboBox* frmCommands::targetChooser(const char* name, QLineEdit* address) {
    auto* chooser = new QComboBox;
    chooser->setObjectName(QString::fromLatin1(name));
    chooser->setToolTip(QStringLiteral("Choose the line to branch to; its address is filled in"));
    chooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    chooser->setMinimumContentsLength(24);
    QSizePolicy policy = chooser->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    chooser->setSizePolicy(policy);
    // Picking a line chooses its command too, as typing into the box does.
    connect(chooser, &QComboBox::activated, this, [this, chooser, address](int item) {
        if (item <= 0)
            return;
        chooseOptionOf(address);
        address->setText(chooser->itemData(item).toString());
    });
    // The list shows the line whose address the box holds.
    connect(address, &QLineEdit::textChanged, chooser, [chooser](const QString& text) {
        const int item = chooser->findData(text.trimmed());
        chooser->setCurrentIndex(item > 0 ? item : 0);
    });
    return chooser;
}

void frmCommands::setProgramLines(const QVector<ProgramRow>& rows) {
    const QVector<int> starts = lineStarts(rows);
    for (QComboBox* chooser : {cboLoopTarget, cboGotoTarget}) {
        chooser->clear();
        chooser->addItem(QStringLiteral("Choose a line..."));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const ProgramRow& row = rows.at(i);
            const QString text = row.listing == QLatin1String("!") ? StripCrLf(row.command)
                                                                   : row.listing;
            chooser->addItem(
                QStringLiteral("Line %1 (address %2): %3").arg(i + 1).arg(starts.at(i)).arg(text),
                QString::number(starts.at(i)));
        }
    }
}

void frmCommands::applyModelVisibility(bool withBoxes) {
    const bool kqm21 = m_unitModel == QLatin1String("KQM21");
    m_options[index(CommandKind::GoAbsolute)].button->setVisible(!kqm21);
    m_options[index(CommandKind::Zero)].button->setVisible(!kqm21);
    m_options[index(CommandKind::Registration)].button->setVisible(kqm21);
    if (withBoxes) {
        // The rows of the other model go altogether, places included.
        const auto forModel = [this](QLineEdit* box, bool shown) {
            QSizePolicy policy = box->sizePolicy();
            policy.setRetainSizeWhenHidden(shown);
            box->setSizePolicy(policy);
            setBoxVisible(box, shown);
        };
        forModel(txtGoAbsolute, !kqm21);
        forModel(txtZero, !kqm21);
        forModel(txtRegistration, kqm21);
    }
}

void frmCommands::setBoxVisible(QWidget* box, bool visible) {
    box->setVisible(visible);
    for (QWidget* beside : m_besideBox.value(box))
        beside->setVisible(visible);
}

void frmCommands::ShowEntryBoxes(bool visible) {
    for (QLineEdit* box :
         {txtInput[0], txtInput[1], txtInput[2], txtInput[3], txtAcceleration, txtBaseSpeed,
          txtMaxSpeed, txtZero, txtGoAbsolute, txtRegistration, txtGoRelative, txtOutput[0],
          txtOutput[1], txtGotoLineNumber, txtLoopTimesToLoop, txtLoopLineNumber, txtWait})
        setBoxVisible(box, visible);
    cboLoopTarget->setVisible(visible);
    cboGotoTarget->setVisible(visible);
}

void frmCommands::ResetCommandOptions(bool value) {
    applyModelVisibility(false);
    // An exclusive group cannot be emptied; lift that while clearing.
    m_group->setExclusive(false);
    for (const Option& entry : m_options)
        entry.button->setChecked(value);
    m_group->setExclusive(true);
}

void frmCommands::SSTab1_Click(int) {
    ShowEntryBoxes(true);
    ResetCommandOptions(false);
    lblStatusBar->setText(ChooseCommand);
    applyModelVisibility(true);
}

void frmCommands::optionClicked(CommandKind kind) {
    const Option& entry = m_options[index(kind)];
    ShowEntryBoxes(false);
    lblStatusBar->setText(entry.prompt);
    for (QLineEdit* box : entry.boxes)
        setBoxVisible(box, true);
    cboLoopTarget->setVisible(kind == CommandKind::Loop);
    cboGotoTarget->setVisible(kind == CommandKind::Goto);
    if (entry.focus && isVisible() && !m_movingByKey)
        entry.focus->setFocus();
}

void frmCommands::chooseOptionOf(QLineEdit* box) {
    for (int kind = 0; kind < CommandKindCount; ++kind) {
        if (!m_options[kind].boxes.contains(box))
            continue;
        if (m_group->checkedId() != kind)
            selectOption(static_cast<CommandKind>(kind));
        if (isVisible())
            box->setFocus();
        return;
    }
}

bool frmCommands::moveBetweenOptions(QRadioButton* from, int step) {
    // The group lists the options in the order of their rows.
    const QList<QAbstractButton*> all = m_group->buttons();
    QWidget* tab = SSTab1->currentWidget();
    QList<QAbstractButton*> shown;
    for (QAbstractButton* button : all) {
        if (!button->isHidden() && tab->isAncestorOf(button))
            shown.append(button);
    }
    const qsizetype at = shown.indexOf(from);
    if (at < 0 || shown.size() < 2)
        return false;
    QAbstractButton* next = shown.at((at + step + shown.size()) % shown.size());
    m_movingByKey = true;
    next->setFocus(Qt::TabFocusReason);
    selectOption(static_cast<CommandKind>(m_group->id(next)));
    m_movingByKey = false;
    return true;
}

void frmCommands::selectOption(CommandKind kind) {
    m_options[index(kind)].button->setChecked(true);
    optionClicked(kind);
}

void frmCommands::preload(const Preload& preload, const QString& comment) {
    if (!preload.kind)
        return;
    const CommandKind kind = *preload.kind;
    switch (kind) {
    case CommandKind::Loop:
        txtLoopLineNumber->setText(preload.value);
        txtLoopTimesToLoop->setText(preload.times);
        break;
    default:
        if (!m_options[index(kind)].boxes.isEmpty() && kind != CommandKind::Output &&
            kind != CommandKind::IfThen)
            m_options[index(kind)].boxes.first()->setText(preload.value);
        break;
    }
    txtComment[preload.tab]->setText(comment);
    SSTab1->setCurrentIndex(preload.tab);
    selectOption(kind);
}

void frmCommands::patternChanged(QLineEdit* box) {
    const QString text = box->text();
    if (text != QLatin1String("0") && text != QLatin1String("1")) {
        if (!text.isEmpty())
            box->clear();
        return;
    }
    if (!isVisible())
        return;
    // Typing a row of digits fills the boxes left to right.
    const auto next = [box](const auto& row) -> QLineEdit* {
        for (size_t i = 0; i + 1 < row.size(); ++i) {
            if (row[i] == box)
                return row[i + 1];
        }
        return nullptr;
    };
    QLineEdit* following = next(txtInput);
    if (!following)
        following = next(txtOutput);
    if (following)
        following->setFocus();
}

bool frmCommands::eventFilter(QObject* watched, QEvent* event) {
    if (auto* option = qobject_cast<QRadioButton*>(watched);
        option && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Left)
            return moveBetweenOptions(option, -1);
        if (key == Qt::Key_Down || key == Qt::Key_Right)
            return moveBetweenOptions(option, 1);
        return QDialog::eventFilter(watched, event);
    }
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        // A box reached with Tab: what is typed into it chooses its option.
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && typed.at(0).isPrint())
            chooseOptionOf(box);
        return QDialog::eventFilter(watched, event);
    }
    const bool pattern = box->maxLength() == 1;
    if (event->type() == QEvent::FocusIn && pattern) {
        // Select the first character so that a typed one replaces it; after
        // the focus event, or the line edit would clear the selection again.
        QTimer::singleShot(0, box, [box] { box->setSelection(0, 1); });
    } else if (event->type() == QEvent::MouseButtonPress) {
        chooseOptionOf(box);
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<CommandKind> frmCommands::selectedKind() const {
    const int id = m_group->checkedId();
    if (id < 0)
        return std::nullopt;
    return static_cast<CommandKind>(id);
}

void frmCommands::btnOK_Click() {
    const int tab = SSTab1->currentIndex();
    if (tab == 1)
        return;
    m_editedComment = txtComment[tab]->text();
    const auto kind = selectedKind();
    if (!kind || tabOfKind(*kind) != tab) {
        m_messages.show(platform::MessageIcon::Warning,
                        tab == 0 ? QStringLiteral("Please select a command.")
                                 : QStringLiteral("Please select a command to add."));
        return;
    }
    CommandEntry entry;
    entry.kind = *kind;
    if (*kind == CommandKind::Loop) {
        entry.value = txtLoopLineNumber->text();
        entry.times = txtLoopTimesToLoop->text();
    } else if (!m_options[index(*kind)].boxes.isEmpty()) {
        entry.value = m_options[index(*kind)].boxes.first()->text();
    }
    for (int i = 0; i < 2; ++i)
        entry.outputs[i] = txtOutput[i]->text();
    for (int i = 0; i < 4; ++i)
        entry.inputs[i] = txtInput[i]->text();
    const BuiltCommand built = buildCommand(entry, m_axisAddress);
    if (!built.ok()) {
        m_messages.show(platform::MessageIcon::Warning, built.message);
        // Back to the box that was wrong, its text selected for retyping.
        QLineEdit* wrong = *kind == CommandKind::Loop
                               ? (built.timesWrong ? txtLoopTimesToLoop : txtLoopLineNumber)
                               : m_options[index(*kind)].boxes.value(0);
        if (wrong) {
            wrong->setFocus(Qt::OtherFocusReason);
            wrong->selectAll();
        }
        return;
    }
    m_editedCommand = built.command;
    accept();
}

void frmCommands::btnCancel_Click() {
    m_editedCommand.clear();
    reject();
}

void frmCommands::done(int result) {
    m_memory.TopPos = y();
    m_memory.LeftPos = x();
    QDialog::done(result);
}

void frmCommands::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Change opens with the focus in the value box of the line's command.
    if (const auto kind = selectedKind()) {
        QLineEdit* focus = m_options[index(*kind)].focus;
        if (focus && !focus->isHidden())
            focus->setFocus(Qt::OtherFocusReason);
    }
    if (m_positioned)
        return;
    m_positioned = true;
    if (m_memory.FirstLoad) {
        m_memory.FirstLoad = false;
        platform::centreOnScreen(this);
    } else {
        move(m_memory.LeftPos, m_memory.TopPos);
    }
}

} // namespace kqm::program
