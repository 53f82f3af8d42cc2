#pragma once

#include "files/program_files.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "link/connection.h"
#include "link/link.h"
#include "link/link_state.h"
#include "link/motion_panel.h"
#include "link/terminal.h"
#include "main_window/services.h"
#include "program/command_editor_dialog.h"
#include "program/editing.h"
#include "program/listing.h"
#include "program/program_grid_model.h"
#include "program/program_table.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableView;

namespace kqm::tools {
class frmCalculator;
}

namespace kqm::ui {

class MotionTab;

// The main window: lays out the menus, the buttons, the connection label and
// the four tabs, and routes their events to the subsystems.
class Form1 final : public QMainWindow, private files::ProgramHost {
    Q_OBJECT
public:
    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    enum Tab { MotionTabIndex = 0, ProgramTabIndex = 1, TerminalTabIndex = 2, DebugTabIndex = 3 };

    // Start-up: settings, working copy, program table, listing.
    void Form_Load();
    void LoadDatabases();
    void SetGridColumnWidths();
    // Refreshes the listing of the bound table and the grid; false (after a
    // message) when the table could not be read or written.
    bool RefreshListing();

    link::LinkState& linkState() { return m_linkState; }
    link::Link& deviceLink() { return m_link; }
    program::ProgramState& programState() { return m_programState; }
    program::ProgramTable& programTable() { return m_programTable; }
    files::SettingsTable& settingsTable() { return m_settings; }
    const files::ProgramDirectoryFiles& programFiles() const { return m_files; }
    bool recoveredAtStart() const { return m_recovered; }

    static QString Caption();

public slots:
    void cmdExit_Click();
    void mnuExit_Click();
    void cmdConnect_Click();
    void mnuConnect_Click() { cmdConnect_Click(); }
    void mnuAxisNum_Click(int index);
    void mnuTerminal_Click();
    void cmdClear_Click();
    void cmdDebugClear_Click();
    void mnuNewProgram_Click();
    void SSCommand1_Click() { mnuNewProgram_Click(); }
    void mnuOpenProgram_Click();
    void cmdOpen_Click() { mnuOpenProgram_Click(); }
    void mnuSaveProgramAs_Click();
    void cmdSave_Click() { mnuSaveProgramAs_Click(); }
    void mnuPrint_Click();
    void cmdPrint_Click() { mnuPrint_Click(); }
    void cmdVerifyParameters_Click();
    void mnuCommSettings_Click();
    void cmdCalculator_Click();
    void cmdSend_Click();
    void cmdUpload_Click();
    void cmdView_Click();
    void cmdAdd_Click();
    void cmdInsert_Click();
    void cmdChange_Click();
    void cmdDelete_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenus();
    QWidget* createProgramTab();
    static QWidget* createPaneTab(QPlainTextEdit* pane, QPushButton* clear);
    QWidget* createButtonRow();
    void connectControls();
    // The program host: what the file commands need of the window.
    void ShowProgramTab() override;
    QString boundFile() const override;
    std::optional<int> recordCount() override;
    void closeBoundFile() override;
    bool bindFile(const QString& path, bool refreshListing, QString* error) override;
    void selectFirstLine() override;
    void Form_Unload();
    void connectAtStartUp();
    void checkAxisItem(int index);
    void applyModelLayout();
    void showConnectionStatus(bool connected);
    void txtTerminal_KeyPress(const QString& text);
    void appendDebug(const QString& text);
    void SSTab2_Click(int tab);
    struct EditorAnswer {
        QString command;
        QString comment;
    };
    EditorAnswer runCommandEditor(const QString& caption, const program::Preload* preload = nullptr,
                                  const QString& comment = QString());
    std::optional<int> selectedRow() const;
    bool preconditionHolds(program::EditOperation operation);
    void applyEdit(program::EditResult result);
    void runSend(const QString& sendText);
    // True when a unit is connected and no other exchange runs; otherwise
    // says why.
    bool unitReady();
    void runMotion(link::MotionControl control, const QString& operand = QString());
    void connectMotionControls();
    void showUploadColumns();
    bool rebuildWorkingCopy();

    Services m_services;
    files::ProgramDirectoryFiles m_files;
    files::SettingsTable m_settings;
    program::ProgramTable m_programTable;
    program::ProgramState m_programState;
    program::ProgramGridModel m_gridModel;
    link::LinkState m_linkState;
    link::Link m_link;
    link::Connection m_connection;
    link::DebugCounter m_debugCounter;
    program::EditorMemory m_editorMemory;
    files::ProgramFileCommands m_fileCommands;
    link::MotionPanel m_motion;
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
    QAction* mnuExit = nullptr;
    QAction* mnuConnect = nullptr;
    QAction* mnuCommSettings = nullptr;
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
    QPushButton* SSCommand1 = nullptr;
    QLabel* lblConnected = nullptr;

    QTabWidget* SSTab2 = nullptr;
    MotionTab* m_motionTab = nullptr;

    // Program tab.
    QTableView* DBGrid2 = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdChange = nullptr;
    QPushButton* cmdInsert = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdUpload = nullptr;
    QPushButton* cmdView = nullptr;
    QPushButton* cmdRun = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdEnableAutostart = nullptr;
    QPushButton* cmdDisableAutostart = nullptr;
    QLabel* lblBytesUsed = nullptr;
    QLabel* lblCurrentCommand = nullptr;
    QLabel* lblCurrentFile = nullptr;
    QProgressBar* prgSend = nullptr;

    // Terminal and debug tabs.
    QPlainTextEdit* txtTerminal = nullptr;
    QPushButton* cmdClear = nullptr;
    QPlainTextEdit* txtDebug = nullptr;
    QPushButton* cmdDebugClear = nullptr;
};

} // namespace kqm::ui
