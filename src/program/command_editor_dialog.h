#pragma once

#include "program/command_rules.h"
#include "program/program_table.h"

#include <QDialog>
#include <QHash>

#include <array>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace kqm::platform {
class Messages;
}

namespace kqm::program {

// What the editor keeps between openings while the tool runs.
struct EditorMemory {
    bool FirstLoad = true;
    int TopPos = 0;
    int LeftPos = 0;
};

// The modal command editor: one option per command kind on two tabs, an entry
// box for each operand, a comment per tab. OK checks the entry with the
// command rules and hands back the stored command; every opening is fresh.
class frmCommands final : public QDialog {
    Q_OBJECT
public:
    frmCommands(platform::Messages& messages, EditorMemory& memory, QString unitModel,
                QString axisAddress, QWidget* parent = nullptr);

    // The program's lines, offered as targets for a loop or a goto: choosing
    // one fills in the address of the line.
    void setProgramLines(const QVector<ProgramRow>& rows);

    // Change: fills the boxes and selects the option of a stored line.
    void preload(const Preload& preload, const QString& comment);

    QString EditedCommand() const { return m_editedCommand; }
    QString EditedComment() const { return m_editedComment; }

    void selectOption(CommandKind kind);
    void ShowEntryBoxes(bool visible);
    void ResetCommandOptions(bool value);

public slots:
    void btnOK_Click();
    void btnCancel_Click();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Option {
        QRadioButton* button = nullptr;
        QList<QLineEdit*> boxes;
        QString prompt;
        QLineEdit* focus = nullptr;
    };

    QWidget* buildMotionTab();
    QWidget* buildProgramTab();
    QLineEdit* entryBox(const char* name, int maxLength);
    QRadioButton* option(CommandKind kind, const char* name, const QString& caption);
    QLineEdit* commentBox(int index);
    QComboBox* targetChooser(const char* name, QLineEdit* address);
    void applyModelVisibility(bool withBoxes);
    void SSTab1_Click(int tab);
    void optionClicked(CommandKind kind);
    // Shows or hides an entry box with the labels beside it; its place stays.
    void setBoxVisible(QWidget* box, bool visible);
    // Typing into a box selects its option, as a click on it does.
    void chooseOptionOf(QLineEdit* box);
    // The arrow keys on an option: the next shown option of the tab.
    bool moveBetweenOptions(QRadioButton* from, int step);
    void patternChanged(QLineEdit* box);
    std::optional<CommandKind> selectedKind() const;

    platform::Messages& m_messages;
    EditorMemory& m_memory;
    QString m_unitModel;
    QString m_axisAddress;
    QString m_editedCommand;
    QString m_editedComment;
    bool m_positioned = false;
    bool m_movingByKey = false; // an arrow key chose the option: focus stays on it
    QHash<QWidget*, QList<QWidget*>> m_besideBox; // labels that hide with their box

    std::array<Option, CommandKindCount> m_options;
    QButtonGroup* m_group = nullptr;
    QTabWidget* SSTab1 = nullptr;
    QLabel* lblStatusBar = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    std::array<QLineEdit*, 3> txtComment{};
    QLineEdit* txtAcceleration = nullptr;
    QLineEdit* txtBaseSpeed = nullptr;
    QLineEdit* txtMaxSpeed = nullptr;
    QLineEdit* txtGoRelative = nullptr;
    QLineEdit* txtGoAbsolute = nullptr;
    QLineEdit* txtRegistration = nullptr;
    QLineEdit* txtZero = nullptr;
    std::array<QLineEdit*, 2> txtOutput{};
    std::array<QLineEdit*, 4> txtInput{}; // txtInput(1) to txtInput(4)
    QLineEdit* txtLoopLineNumber = nullptr;
    QLineEdit* txtLoopTimesToLoop = nullptr;
    QLineEdit* txtGotoLineNumber = nullptr;
    QLineEdit* txtWait = nullptr;
    QComboBox* cboLoopTarget = nullptr;
    QComboBox* cboGotoTarget = nullptr;
};

} // namespace kqm::program
