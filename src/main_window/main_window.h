#pragma once

#include "link/terminal.h"
#include "main_window/program_editing.h"
#include "main_window/session.h"
#include "main_window/unit_actions.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QPair>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;

namespace kqm::files {
class ProgramFileCommands;
}
namespace kqm::tools {
class frmCalculator;
}

namespace kqm::ui {

class DryRunDock;
class MachineDock;
class MotionTab;
class UnitStatus;
class ProgramTab;

// The main window: lays out the menus, the buttons, the connection label and
// the four tabs, and routes their events to the subsystems.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(Session& session, QWidget* parent = nullptr);
    ~Form1() override;

    enum Tab { MotionTabIndex = 0, ProgramTabIndex = 1, TerminalTabIndex = 2, DebugTabIndex = 3 };

    // Start-up: settings, working copy, program table, listing.
    void Form_Load();
    void LoadDatabases();
    // Refreshes the listing of the bound table and the grid; false (after a
    // message) when the table could not be read or written.
    bool RefreshListing() { return m_session.document.refresh(); }
    // Opens the machine view on a machine file; false after a message when
    // the file is refused.
    bool openMachineFile(const QString& path);

    const link::LinkState& linkState() const { return m_session.linkState(); }
    link::Link& deviceLink() { return m_session.link; }
    program::ProgramState& programState() { return m_session.document.state(); }
    program::ProgramTable& programTable() { return m_session.document.table(); }
    files::SettingsTable& settingsTable() { return m_session.settings; }
    const files::ProgramDirectoryFiles& programFiles() const { return m_session.files; }
    bool recoveredAtStart() const { return m_recovered; }

    static QString Caption();
    // The key that sends Stop Motion from anywhere in the tool.
    static QKeySequence StopMotionKey();
    // Every keyboard shortcut of the menus: the item's place in the menus and
    // its keys, in menu order. Help > Keyboard Shortcuts shows this list.
    QList<QPair<QString, QString>> shortcutList() const;

public slots:
    void cmdConnect_Click() { m_unit.cmdConnect_Click(); }
    void mnuPrint_Click();
    void cmdCalculator_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

    void changeEvent(QEvent* event) override;
    // The window's title names the open program ("Untitled": the working copy).
    void showOpenFile(const QString& path);
    // Ctrl+S: every change is written at once; only the working copy needs a name.
    void saveKey();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();


    QWidget* createButtonRow();
    void connectControls();
    void connectFileCommands();
    void connectProgramTab();
    void connectEditMenu();
    void connectUnitControls();
    void connectDesktop();
    // The window's place, the dialogs' folder and the tab of the last run.
    void restoreDesktop();
    void storeDesktop();
    // A program file was opened or saved as: it heads the recent programs.
    void rememberFile(const QString& path);
    void showRecentPrograms();
    // While an exchange with the unit runs, nothing may change the program
    // or which file is bound: the action is refused with the busy message.
    std::function<void()> whenLineFree(std::function<void()> action);
    void ShowProgramTab();
    void Form_Unload();
    void checkAxisItem(int index);
    void createDocks();
    // A unit's program opened from the machine view: its file, and its axis.
    void openMachineUnit(int axis, const QString& program);
    void SSTab2_Click(int tab);
    // Gives the tab control the focus when one of these tabs shows.
    void focusTabsWhenShowing(std::initializer_list<int> tabs);

    Session& m_session;
    Services m_services;
    link::DebugCounter m_debugCounter;
    std::unique_ptr<files::ProgramFileCommands> m_fileCommands;
    tools::frmCalculator* m_calculator = nullptr; // made on first use, then kept
    bool m_closeWhenIdle = false;
    bool m_recovered = false;
    bool m_unloaded = false;
    bool m_quitAfterClose = false;

    // Menus.
    QAction* mnuNewProgram = nullptr;
    QAction* mnuOpenProgram = nullptr;
    QAction* mnuSaveProgramAs = nullptr;
    QAction* mnuPrint = nullptr;
    QAction* mnuExportProgram = nullptr;
    QAction* mnuImportProgram = nullptr;
    QAction* mnuUnitBackups = nullptr;
    QAction* mnuUndo = nullptr;
    QAction* mnuRedo = nullptr;
    QAction* mnuCut = nullptr;
    QAction* mnuCopy = nullptr;
    QAction* mnuPaste = nullptr;
    QAction* mnuDeleteLines = nullptr;
    QAction* mnuMoveUp = nullptr;
    QAction* mnuMoveDown = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuRecentPrograms = nullptr;
    QAction* mnuOpenMachine = nullptr;
    QMenu* mnuRecentMachines = nullptr;
    QAction* mnuTransferLog = nullptr;
    QAction* mnuFindFastestPace = nullptr;
    QAction* mnuAddLine = nullptr;
    QAction* mnuInsertLine = nullptr;
    QAction* mnuChangeLine = nullptr;
    QAction* mnuDryRun = nullptr;
    QAction* mnuToggleBreakpoint = nullptr;
    QAction* mnuSendProgram = nullptr;
    QAction* mnuUploadProgram = nullptr;
    QAction* mnuViewProgram = nullptr;
    QAction* mnuStopMotion = nullptr;
    QAction* mnuKeyboardShortcuts = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuConnect = nullptr;
    QAction* mnuCommSettings = nullptr;
    QAction* mnuFindUnits = nullptr;
    QMenu* mnuAxis = nullptr;
    QList<QAction*> mnuAxisNum;
    QAction* mnuTerminal = nullptr;
    QMenu* mnuAutostartProgram = nullptr;
    QList<QAction*> mnuAutostartOnOff;

    // Buttons outside the tabs.
    QPushButton* cmdConnect = nullptr;
    QPushButton* cmdOpen = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdPrint = nullptr;
    QPushButton* cmdCalculator = nullptr;
    QPushButton* cmdExit = nullptr;
    QPushButton* SSCommand1 = nullptr; // New Program

    QTabWidget* SSTab2 = nullptr;
    // Made first (the actions below act on them); the tab control owns them.
    MotionTab* m_motionTab;
    ProgramTab* m_programTab;

    // After the tabs: they act on the tabs' widgets.
    UnitActions m_unit;
    ProgramEditing m_editing;
    UnitStatus* m_status;
    DryRunDock* m_dryRun = nullptr;
    MachineDock* m_machine = nullptr;
};

} // namespace kqm::ui
