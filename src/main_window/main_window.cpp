#include "main_window/main_window.h"

#include "main_window/desktop_memory.h"
#include "main_window/tab_keys.h"

#include "files/program_files.h"
#include "link/device_port.h"
#include "main_window/dry_run_dock.h"
#include "main_window/find_units.h"
#include "main_window/help_menu.h"
#include "main_window/line_tools.h"
#include "main_window/machine_dock.h"
#include "main_window/motion_tab.h"
#include "main_window/program_print.h"
#include "main_window/program_tab.h"
#include "main_window/stop_key.h"
#include "main_window/unit_status.h"
#include "platform/messages.h"
#include "platform/object_names.h"
#include "tools/calculator_window.h"
#include "version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kqm::ui {

using platform::MessageIcon;

namespace {

using platform::named;

QPushButton* button(const char* name, const QString& caption) {
    return named(new QPushButton(caption), QString::fromLatin1(name));
}

} // namespace

// Stop Motion has one key, the same everywhere in the tool. F12: a single
// key at the end of the function row, found by feel on every keyboard,
// laptops included (Pause is missing on most of them). It types no text, so
// nothing typed in the Terminal can stop a machine by accident, and it is
// not Escape, which closes dialogs and is pressed out of habit.
QKeySequence Form1::StopMotionKey() {
    return QKeySequence(Qt::Key_F12);
}

QString Form1::Caption() {
    return QStringLiteral(
        "QUORVEX MOTION - KQM20/KQM21 WIN Programmable Indexer - Version " KQM_VERSION);
}

Form1::Form1(Session& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_services(session.services),
      m_debugCounter(session.link), m_motionTab(new MotionTab), m_programTab(new ProgramTab),
      m_unit(session, *m_motionTab, *m_programTab, this), m_editing(session, *m_programTab, this),
      m_status(new UnitStatus(session, m_unit, this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    createMenus();
    m_fileCommands = std::make_unique<files::ProgramFileCommands>(
        session.document, [this] { ShowProgramTab(); }, m_services.messages, m_services.fileDialogs,
        m_services.fileCopier, session.files);

    SSTab2 = named(new QTabWidget, QStringLiteral("SSTab2"));
    m_motionTab->setObjectName(QStringLiteral("MotionTab"));
    m_programTab->setObjectName(QStringLiteral("ProgramTab"));
    SSTab2->addTab(m_motionTab, QStringLiteral("Motion"));
    SSTab2->addTab(m_programTab, QStringLiteral("Program"));
    SSTab2->addTab(m_status->terminalTab(), QStringLiteral("Terminal"));
    SSTab2->addTab(m_status->debugTab(), QStringLiteral("Debug"));

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(createButtonRow());
    layout->addWidget(m_status->connectionLabel());
    layout->addWidget(m_status->hint());
    layout->addWidget(SSTab2, 1);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("sbrStatus"));
    // The Motion tab scrolls below its own size; the rest keeps what its
    // layout needs, and nothing goes below 640x480.
    setMinimumSize(minimumSizeHint().expandedTo(QSize(640, 480)));
    resize(900, 640);

    createDocks();
    connectControls();
}

Form1::~Form1() = default;

QWidget* Form1::createButtonRow() {
    cmdConnect = button("cmdConnect", QStringLiteral("&Connect"));
    SSCommand1 = button("SSCommand1", QStringLiteral("New"));
    cmdOpen = button("cmdOpen", QStringLiteral("Open"));
    // It opens Save Program As: every change is in the file already.
    cmdSave = button("cmdSave", QStringLiteral("Save As..."));
    cmdPrint = button("cmdPrint", QStringLiteral("Print"));
    cmdCalculator = button("cmdCalculator", QStringLiteral("Calculator"));
    cmdExit = button("cmdExit", QStringLiteral("Exit"));
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* push :
         {cmdConnect, SSCommand1, cmdOpen, cmdSave, cmdPrint, cmdCalculator, cmdExit})
        layout->addWidget(push);
    layout->addStretch();
    return row;
}

void Form1::createDocks() {
    m_dryRun = new DryRunDock(
        m_session, *m_programTab, [this] { ShowProgramTab(); }, this);
    addDockWidget(Qt::RightDockWidgetArea, m_dryRun);
    m_dryRun->hide();
    m_machine = new MachineDock(m_session, mnuRecentMachines,
                                {[this] { return windowFilePath(); },
                                 [this](int axis, const QString& program) {
                                     openMachineUnit(axis, program);
                                 }},
                                this);
    addDockWidget(Qt::BottomDockWidgetArea, m_machine);
    m_machine->hide();
    shareWhenBothShown(this, m_dryRun, m_machine);
    m_dryRun->addRunActions(qobject_cast<QMenu*>(mnuDryRun->parent()));
    connect(mnuDryRun, &QAction::triggered, m_dryRun, &DryRunDock::open);
    connect(mnuToggleBreakpoint, &QAction::triggered, m_dryRun, &DryRunDock::toggleBreakpoint);
    connect(mnuOpenMachine, &QAction::triggered, m_machine, &MachineDock::chooseMachineFile);
    connect(mnuTransferLog, &QAction::triggered, this,
            [this] { openTransferLog(m_session, this); });
    connect(mnuFindFastestPace, &QAction::triggered, this, [this] {
        findFastestPace(m_session, statusBar(), [this] { return m_closeWhenIdle; });
    });
}

void Form1::openMachineUnit(int axis, const QString& program) {
    m_fileCommands->openProgramFile(program);
    // Choosing an axis ends the connection; the unit of the row is greeted
    // at once when one was connected.
    const bool connected = m_session.linkState().UnitConnected;
    if (axis >= 0 && axis < mnuAxisNum.size() &&
        m_session.linkState().AxisAddress != QString::number(axis)) {
        mnuAxisNum.at(axis)->trigger();
        if (connected)
            mnuConnect->trigger();
    }
    ShowProgramTab();
}

bool Form1::openMachineFile(const QString& path) {
    return m_machine->openMachineFile(path);
}

QList<QPair<QString, QString>> Form1::shortcutList() const {
    return ui::shortcutList(menuBar(), actions());
}

void Form1::connectControls() {
    connect(cmdExit, &QPushButton::clicked, this, &QWidget::close);
    connect(mnuExit, &QAction::triggered, this, [this] {
        m_quitAfterClose = true;
        close();
    });
    connect(mnuPrint, &QAction::triggered, this, &Form1::mnuPrint_Click);
    connect(cmdPrint, &QPushButton::clicked, this, &Form1::mnuPrint_Click);
    connect(cmdCalculator, &QPushButton::clicked, this, &Form1::cmdCalculator_Click);
    connect(mnuTerminal, &QAction::triggered, this, [this] {
        SSTab2->setTabEnabled(TerminalTabIndex, true);
        SSTab2->setCurrentIndex(TerminalTabIndex);
    });
    connect(SSTab2, &QTabWidget::currentChanged, this, &Form1::SSTab2_Click);
    addTabKeys(this, SSTab2);
    // The grid's keys (Insert, Alt+Insert, Delete, the clipboard) live on the
    // Program tab's page, and work from its tab too.
    shareKeysWithTabBar(SSTab2, ProgramTabIndex,
                        {mnuCut, mnuCopy, mnuPaste, mnuAddLine, mnuInsertLine, mnuDeleteLines});
    SSTab2->tabBar()->installEventFilter(this);
    connectFileCommands();
    connectProgramTab();
    connectUnitControls();
    connectDesktop();
}

void Form1::connectFileCommands() {
    files::ProgramFileCommands* commands = m_fileCommands.get();
    const auto newProgram = whenLineFree([commands] { commands->newProgram(); });
    const auto openProgram = whenLineFree([commands] { commands->openProgram(); });
    const auto saveProgramAs = whenLineFree([commands] { commands->saveProgramAs(); });
    connect(mnuNewProgram, &QAction::triggered, this, newProgram);
    connect(SSCommand1, &QPushButton::clicked, this, newProgram);
    connect(mnuOpenProgram, &QAction::triggered, this, openProgram);
    connect(cmdOpen, &QPushButton::clicked, this, openProgram);
    connect(mnuSaveProgramAs, &QAction::triggered, this, saveProgramAs);
    connect(cmdSave, &QPushButton::clicked, this, saveProgramAs);
}

std::function<void()> Form1::whenLineFree(std::function<void()> action) {
    return [this, action = std::move(action)] {
        if (!m_session.link.exchanges().refuseWhenBusy())
            action();
    };
}

void Form1::connectProgramTab() {
    program::ProgramDocument& document = m_session.document;
    ProgramTab* tab = m_programTab;
    tab->follow(document, m_session.link);
    connect(&document, &program::ProgramDocument::boundFileChanged, this,
            [this](const QString& path) { showOpenFile(path); });
    connect(&document, &program::ProgramDocument::failed, this, [this](const QString& message) {
        m_services.messages.show(MessageIcon::Critical, message);
    });
    connect(&document, &program::ProgramDocument::changedElsewhere, this,
            [this](const QString& message) { statusBar()->showMessage(message); });
    connect(&document, &program::ProgramDocument::heldElsewhere, this,
            [this](const QString& message) { statusBar()->showMessage(message); });
    ProgramEditing* editing = &m_editing;
    connect(tab, &ProgramTab::addRequested, this, [editing] { editing->cmdAdd_Click(); });
    connect(tab, &ProgramTab::insertRequested, this, [editing] { editing->cmdInsert_Click(); });
    connect(tab, &ProgramTab::changeRequested, this, [editing] { editing->cmdChange_Click(); });
    connect(tab, &ProgramTab::deleteRequested, this, [editing] { editing->cmdDelete_Click(); });
    connectEditMenu();
    // Keep the keyboard focus off controls of a tab that is not shown.
    connect(tab, &ProgramTab::addFocused, this, [this] { focusTabsWhenShowing({MotionTabIndex}); });
    connect(tab, &ProgramTab::gridFocused, this, [this] {
        focusTabsWhenShowing({MotionTabIndex, TerminalTabIndex});
    });
    connect(tab, &ProgramTab::stopFocused, this,
            [this] { focusTabsWhenShowing({TerminalTabIndex}); });
}

void Form1::connectEditMenu() {
    m_editing.followMenu({mnuUndo, mnuRedo, mnuCut, mnuCopy, mnuPaste, mnuDeleteLines, mnuAddLine,
                          mnuInsertLine, mnuChangeLine, mnuImportProgram, mnuExportProgram,
                          mnuMoveUp, mnuMoveDown},
                         this);
}

void Form1::connectUnitControls() {
    link::Link& link = m_session.link;
    UnitActions* unit = &m_unit;
    ProgramTab* tab = m_programTab;
    connect(&link, &link::Link::busyChanged, this, [this](bool busy) {
        // Work of several exchanges (a machine's units, a pace test) closes
        // the window when it has ended, not between two of its exchanges.
        if (!busy && m_closeWhenIdle)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    connect(cmdConnect, &QPushButton::clicked, this, &Form1::cmdConnect_Click);
    connect(mnuConnect, &QAction::triggered, this, &Form1::cmdConnect_Click);
    for (int axis = 0; axis < mnuAxisNum.size(); ++axis) {
        connect(mnuAxisNum.at(axis), &QAction::triggered, this,
                [this, axis] { checkAxisItem(m_unit.mnuAxisNum_Click(axis)); });
    }
    connect(mnuCommSettings, &QAction::triggered, this, [unit] { unit->mnuCommSettings_Click(); });
    // A unit chosen there becomes the axis as if picked in the Axis menu.
    connect(mnuFindUnits, &QAction::triggered, this, whenLineFree([this] {
                if (const int axis = findUnits(m_session, this); axis >= 0) {
                    checkAxisItem(m_unit.mnuAxisNum_Click(axis));
                    if (m_session.linkState().AxisAddress == QString::number(axis))
                        m_unit.cmdConnect_Click();
                }
            }));
    connect(mnuUnitBackups, &QAction::triggered, this,
            whenLineFree([unit] { unit->mnuUnitBackups_Click(); }));
    connect(tab, &ProgramTab::sendRequested, this, [unit] { unit->cmdSend_Click(); });
    connect(tab, &ProgramTab::uploadRequested, this, [unit] { unit->cmdUpload_Click(); });
    connect(tab, &ProgramTab::viewRequested, this, [unit] { unit->cmdView_Click(); });
    connect(tab, &ProgramTab::motionRequested, this,
            [unit](link::MotionControl control) { unit->runMotion(control); });
    connect(m_motionTab, &MotionTab::motionRequested, this,
            [unit](link::MotionControl control, const QString& operand) {
                unit->runMotion(control, operand);
            });
    connect(m_motionTab, &MotionTab::verifyRequested, this,
            [unit] { unit->cmdVerifyParameters_Click(); });
    connect(m_motionTab, &MotionTab::outputClicked, this,
            [this](int output, bool checked) { m_session.motion.outputClicked(output, checked); });
    connect(m_motionTab, &MotionTab::verifyButtonFocused, this,
            [this] { focusTabsWhenShowing({ProgramTabIndex}); });
    const link::MotionControl autostart[2] = {link::MotionControl::DisableAutostart,
                                              link::MotionControl::EnableAutostart};
    for (int i = 0; i < 2; ++i) {
        connect(mnuAutostartOnOff.at(i), &QAction::triggered, this, [this, control = autostart[i]] {
            ShowProgramTab();
            m_unit.runMotion(control);
        });
    }
}

void Form1::connectDesktop() {
    UnitActions* unit = &m_unit;
    const auto onProgramTab = [this](void (UnitActions::*run)()) {
        return [this, run] {
            ShowProgramTab();
            (m_unit.*run)();
        };
    };
    connect(mnuSendProgram, &QAction::triggered, this, onProgramTab(&UnitActions::cmdSend_Click));
    connect(mnuUploadProgram, &QAction::triggered, this,
            onProgramTab(&UnitActions::cmdUpload_Click));
    connect(mnuViewProgram, &QAction::triggered, this, onProgramTab(&UnitActions::cmdView_Click));
    // As the Stop Motion button: never refused, and during a send it asks
    // the send to end cleanly.
    connect(mnuStopMotion, &QAction::triggered, this,
            [unit] { unit->runMotion(link::MotionControl::StopAll); });
    qApp->installEventFilter(new StopKeyFilter(
        StopMotionKey(), [unit] { unit->runMotion(link::MotionControl::StopAll); }, this));
    m_motionTab->setStopKey(StopMotionKey().toString(QKeySequence::NativeText));
    m_fileCommands->setFileUsed([this](const QString& path) { rememberFile(path); });
    connect(mnuAbout, &QAction::triggered, this,
            [this] { showAbout(m_services.messages, m_services.paths); });
    connect(mnuKeyboardShortcuts, &QAction::triggered, this,
            [this] { showKeyboardShortcuts(shortcutList(), this); });
    showRecentPrograms();
}

void Form1::focusTabsWhenShowing(std::initializer_list<int> tabs) {
    if (std::find(tabs.begin(), tabs.end(), SSTab2->currentIndex()) != tabs.end())
        SSTab2->setFocus();
}

void Form1::Form_Load() {
    SSTab2->setTabEnabled(DebugTabIndex, false);
    SSTab2->setTabEnabled(TerminalTabIndex, false);
    SSTab2->setTabEnabled(ProgramTabIndex, true);
    m_programTab->sendEnded();
    m_programTab->showMemoryText(QString());
    LoadDatabases();
    restoreDesktop();
    m_unit.connectAtStartUp();
    // The first start: sized once the connect has said what it found.
    placeAtFirstStart(this, m_session.settings, m_status->hint());
    QString error;
    if (!m_session.document.bind(m_session.files.workingCopy, true, &error)) {
        m_services.messages.show(
            MessageIcon::Critical,
            QStringLiteral("The program file %1 could not be opened (%2).")
                .arg(QDir::toNativeSeparators(m_session.files.workingCopy), error));
    }
    if (SSTab2->currentIndex() == MotionTabIndex && m_session.linkState().UnitConnected)
        m_unit.cmdVerifyParameters_Click();
    m_unit.applyModelLayout();
}

void Form1::LoadDatabases() {
    const files::LoadOutcome outcome =
        files::LoadDatabases(m_session.files, m_session.settings, m_services.messages);
    m_recovered = outcome.recovered;
    if (m_session.settings.isOpen()) {
        link::ensurePortDevices(m_session.settings);
        checkAxisItem(
            m_session.connection.LoadCommSettings(files::readCommSettings(m_session.settings)));
    }
}

void Form1::ShowProgramTab() {
    m_debugCounter.tabChosen(ProgramTabIndex);
    SSTab2->setCurrentIndex(ProgramTabIndex);
    SSTab2->setFocus();
}

void Form1::mnuPrint_Click() {
    ShowProgramTab();
    printProgram(m_session, m_fileCommands->suggestedPdf());
}

void Form1::closeEvent(QCloseEvent* event) {
    if (m_session.link.exchanges().isBusy()) {
        // End the exchange at its next wait, then close. Asked once: what a
        // long run does after that (a pace test sending the unit's own
        // program back) is not cut short by a second close.
        if (!m_closeWhenIdle)
            m_session.link.exchanges().requestAbort();
        m_closeWhenIdle = true;
        event->ignore();
        return;
    }
    // An unsaved program is not lost without asking.
    if (!m_unloaded && !m_fileCommands->confirmClose()) {
        m_quitAfterClose = false;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
    if (m_quitAfterClose)
        QCoreApplication::quit();
}

void Form1::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_unit.stopFollowingPosition();
    storeDesktop();
    if (!files::markCleanExit(m_session.settings) && m_session.settings.isOpen()) {
        m_services.messages.show(MessageIcon::Warning,
                                 QStringLiteral("The end of this run could not be recorded in "
                                                "the settings file (%1). The next start will "
                                                "keep the working copy as recovered.")
                                     .arg(m_session.settings.lastError()));
    }
    m_session.document.close();
    m_session.settings.close();
    if (m_session.link.isPortOpen())
        m_session.link.disconnectUnit();
}

void Form1::checkAxisItem(int index) {
    for (int axis = 0; axis < mnuAxisNum.size(); ++axis)
        mnuAxisNum.at(axis)->setChecked(axis == index);
    const QString axis = m_session.linkState().AxisAddress;
    m_motionTab->setAxis(axis);
    m_programTab->setAxis(axis);
    m_dryRun->showTravelLimits();
}

void Form1::SSTab2_Click(int tab) {
    m_debugCounter.tabChosen(tab);
    // During another exchange the readout is skipped rather than refused.
    if (tab == MotionTabIndex && m_session.linkState().UnitConnected &&
        !m_session.link.exchanges().isBusy())
        m_unit.cmdVerifyParameters_Click();
    if (tab == TerminalTabIndex)
        m_status->focusTerminal();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SSTab2->tabBar() && event->type() == QEvent::MouseButtonPress) {
        if (m_debugCounter.tabControlClicked(SSTab2->currentIndex()))
            SSTab2->setTabEnabled(DebugTabIndex, true);
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::cmdCalculator_Click() {
    if (!m_calculator)
        m_calculator = new tools::frmCalculator(m_services.messages, this);
    m_calculator->show();
    m_calculator->raise();
    m_calculator->activateWindow();
}

} // namespace kqm::ui
