#include "main_window/main_window.h"

#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "link/device_port.h"
#include "main_window/motion_tab.h"
#include "main_window/opening_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/serial_port.h"
#include "tools/calculator_window.h"
#include "tools/comm_settings_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace kqm::ui {

using platform::MessageIcon;

namespace {

template <typename T> T* named(T* object, const QString& name) {
    object->setObjectName(name);
    return object;
}

QPushButton* button(const char* name, const QString& caption) {
    return named(new QPushButton(caption), QString::fromLatin1(name));
}

QLabel* label(const char* name) {
    return named(new QLabel, QString::fromLatin1(name));
}

// The grid's column widths, in twips, in field order: the line number and the
// stored command are hidden.
constexpr int GridColumnTwips[5] = {0, 800, 0, 3500, 4000};

} // namespace

QString Form1::Caption() {
    return QStringLiteral("QUORVEX MOTION - KQM20/KQM21 WIN Programmable Indexer - Version 1.65");
}

Form1::Form1(Services services, QWidget* parent)
    : QMainWindow(parent), m_services(services),
      m_link(services.port, services.clock, services.messages, m_linkState),
      m_connection(m_link, m_settings), m_debugCounter(m_linkState),
      m_fileCommands(*this, services.messages, services.fileDialogs, services.fileCopier, m_files),
      m_motion(m_link, services.busyCursor) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Caption());
    createMenus();

    SSTab2 = named(new QTabWidget, QStringLiteral("SSTab2"));
    m_motionTab = named(new MotionTab, QStringLiteral("MotionTab"));
    SSTab2->addTab(m_motionTab, QStringLiteral("Motion"));
    SSTab2->addTab(createProgramTab(), QStringLiteral("Program"));
    txtTerminal = named(new QPlainTextEdit, QStringLiteral("txtTerminal"));
    cmdClear = button("cmdClear", QStringLiteral("Clear"));
    SSTab2->addTab(createPaneTab(txtTerminal, cmdClear), QStringLiteral("Terminal"));
    txtDebug = named(new QPlainTextEdit, QStringLiteral("txtDebug"));
    txtDebug->setReadOnly(true);
    cmdDebugClear = button("cmdDebugClear", QStringLiteral("Clear"));
    SSTab2->addTab(createPaneTab(txtDebug, cmdDebugClear), QStringLiteral("Debug"));

    lblConnected = label("lblConnected");
    QFont connectedFont = lblConnected->font();
    connectedFont.setBold(true);
    lblConnected->setFont(connectedFont);
    showConnectionStatus(false);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(createButtonRow());
    layout->addWidget(lblConnected);
    layout->addWidget(SSTab2, 1);
    setCentralWidget(central);
    resize(900, 640);

    connectControls();
}

Form1::~Form1() = default;

void Form1::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    mnuNewProgram =
        named(file->addAction(QStringLiteral("&New Program")), QStringLiteral("mnuNewProgram"));
    mnuOpenProgram = named(file->addAction(QStringLiteral("&Open Program...")),
                           QStringLiteral("mnuOpenProgram"));
    mnuSaveProgramAs = named(file->addAction(QStringLiteral("Save Program &As...")),
                             QStringLiteral("mnuSaveProgramAs"));
    mnuPrint = named(file->addAction(QStringLiteral("&Print...")), QStringLiteral("mnuPrint"));
    file->addSeparator();
    mnuExit = named(file->addAction(QStringLiteral("E&xit")), QStringLiteral("mnuExit"));

    QMenu* setup = menuBar()->addMenu(QStringLiteral("&Setup"));
    setup->setObjectName(QStringLiteral("mnuSetup"));
    mnuConnect = named(setup->addAction(QStringLiteral("&Connect")), QStringLiteral("mnuConnect"));
    mnuCommSettings = named(setup->addAction(QStringLiteral("Communication &Settings...")),
                            QStringLiteral("mnuCommSettings"));
    mnuAxis = named(setup->addMenu(QStringLiteral("&Axis")), QStringLiteral("mnuAxis"));
    for (int axis = 0; axis < 32; ++axis) {
        QAction* item = mnuAxis->addAction(QStringLiteral("Axis %1").arg(axis));
        item->setObjectName(QStringLiteral("mnuAxisNum(%1)").arg(axis));
        item->setCheckable(true);
        mnuAxisNum << item;
    }
    mnuTerminal =
        named(setup->addAction(QStringLiteral("&Terminal")), QStringLiteral("mnuTerminal"));
    mnuAutostartProgram = named(setup->addMenu(QStringLiteral("Autostart &Program")),
                                QStringLiteral("mnuAutostartProgram"));
    const QString autostart[2] = {QStringLiteral("Disable"), QStringLiteral("Enable")};
    for (int i = 0; i < 2; ++i) {
        QAction* item = mnuAutostartProgram->addAction(autostart[i]);
        item->setObjectName(QStringLiteral("mnuAutostartOnOff(%1)").arg(i));
        mnuAutostartOnOff << item;
    }
}

QWidget* Form1::createButtonRow() {
    cmdConnect = button("cmdConnect", QStringLiteral("&Connect"));
    SSCommand1 = button("SSCommand1", QStringLiteral("New"));
    cmdOpen = button("cmdOpen", QStringLiteral("Open"));
    cmdSave = button("cmdSave", QStringLiteral("Save"));
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

QWidget* Form1::createProgramTab() {
    DBGrid2 = named(new QTableView, QStringLiteral("DBGrid2"));
    DBGrid2->setModel(&m_gridModel);
    DBGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid2->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid2->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid2->verticalHeader()->setDefaultSectionSize(DBGrid2->fontMetrics().height() + 6);

    cmdAdd = button("cmdAdd", QStringLiteral("Add"));
    cmdChange = button("cmdChange", QStringLiteral("Change"));
    cmdInsert = button("cmdInsert", QStringLiteral("Insert"));
    cmdDelete = button("cmdDelete", QStringLiteral("Delete"));
    cmdSend = button("cmdSend", QStringLiteral("Send Program to Controller"));
    cmdUpload = button("cmdUpload", QStringLiteral("Upload Program"));
    cmdView = button("cmdView", QStringLiteral("View Program in Controller"));
    cmdRun = button("cmdRun", QStringLiteral("Run"));
    cmdStop = button("cmdStop", QStringLiteral("Stop"));
    cmdEnableAutostart = button("cmdEnableAutostart", QStringLiteral("Enable Autostart"));
    cmdDisableAutostart = button("cmdDisableAutostart", QStringLiteral("Disable Autostart"));
    lblBytesUsed = label("lblBytesUsed");
    lblCurrentCommand = label("lblCurrentCommand");
    lblCurrentFile = label("lblCurrentFile");
    prgSend = named(new QProgressBar, QStringLiteral("prgSend"));
    prgSend->hide();
    lblCurrentFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QGridLayout;
    const QList<QPushButton*> column = {cmdAdd,  cmdInsert, cmdChange, cmdDelete,
                                        cmdSend, cmdUpload, cmdView};
    for (int i = 0; i < column.size(); ++i)
        buttons->addWidget(column.at(i), i, 0, 1, 2);
    buttons->addWidget(cmdRun, 7, 0);
    buttons->addWidget(cmdStop, 7, 1);
    buttons->addWidget(cmdEnableAutostart, 8, 0, 1, 2);
    buttons->addWidget(cmdDisableAutostart, 9, 0, 1, 2);
    buttons->setRowStretch(10, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(DBGrid2, 1);
    top->addLayout(buttons);

    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->addLayout(top, 1);
    layout->addWidget(lblBytesUsed);
    auto* sending = new QHBoxLayout;
    sending->addWidget(lblCurrentCommand);
    sending->addWidget(prgSend, 1);
    layout->addLayout(sending);
    layout->addWidget(lblCurrentFile);
    return tab;
}

QWidget* Form1::createPaneTab(QPlainTextEdit* pane, QPushButton* clear) {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(pane, 1);
    layout->addWidget(clear, 0, Qt::AlignLeft);
    return tab;
}

void Form1::connectControls() {
    connect(&m_programState, &program::ProgramState::bytesUsedCaptionChanged, lblBytesUsed,
            &QLabel::setText);
    connect(cmdExit, &QPushButton::clicked, this, &Form1::cmdExit_Click);
    connect(mnuExit, &QAction::triggered, this, &Form1::mnuExit_Click);

    connect(&m_link, &link::Link::connectionStatusChanged, this, &Form1::showConnectionStatus);
    connect(&m_link, &link::Link::progressCaptionChanged, lblBytesUsed, &QLabel::setText);
    connect(&m_link, &link::Link::progressColourChanged, lblBytesUsed, [this](const QColor& c) {
        lblBytesUsed->setStyleSheet(QStringLiteral("color: %1;").arg(c.name()));
    });
    connect(&m_link, &link::Link::debugEcho, this, &Form1::appendDebug);
    connect(&m_link, &link::Link::busyChanged, this, [this](bool busy) {
        if (!busy && m_closeWhenIdle)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    connect(mnuNewProgram, &QAction::triggered, this, &Form1::mnuNewProgram_Click);
    connect(SSCommand1, &QPushButton::clicked, this, &Form1::SSCommand1_Click);
    connect(mnuOpenProgram, &QAction::triggered, this, &Form1::mnuOpenProgram_Click);
    connect(cmdOpen, &QPushButton::clicked, this, &Form1::cmdOpen_Click);
    connect(mnuSaveProgramAs, &QAction::triggered, this, &Form1::mnuSaveProgramAs_Click);
    connect(cmdSave, &QPushButton::clicked, this, &Form1::cmdSave_Click);
    connect(mnuPrint, &QAction::triggered, this, &Form1::mnuPrint_Click);
    connect(cmdPrint, &QPushButton::clicked, this, &Form1::cmdPrint_Click);
    connect(cmdSend, &QPushButton::clicked, this, &Form1::cmdSend_Click);
    connect(cmdUpload, &QPushButton::clicked, this, &Form1::cmdUpload_Click);
    connect(cmdView, &QPushButton::clicked, this, &Form1::cmdView_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &Form1::cmdAdd_Click);
    connect(cmdInsert, &QPushButton::clicked, this, &Form1::cmdInsert_Click);
    connect(cmdChange, &QPushButton::clicked, this, &Form1::cmdChange_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &Form1::cmdDelete_Click);
    cmdAdd->installEventFilter(this);
    DBGrid2->installEventFilter(this);
    connect(mnuCommSettings, &QAction::triggered, this, &Form1::mnuCommSettings_Click);
    connect(cmdCalculator, &QPushButton::clicked, this, &Form1::cmdCalculator_Click);
    connect(cmdConnect, &QPushButton::clicked, this, &Form1::cmdConnect_Click);
    connect(mnuConnect, &QAction::triggered, this, &Form1::mnuConnect_Click);
    for (int axis = 0; axis < mnuAxisNum.size(); ++axis) {
        connect(mnuAxisNum.at(axis), &QAction::triggered, this,
                [this, axis] { mnuAxisNum_Click(axis); });
    }
    connect(mnuTerminal, &QAction::triggered, this, &Form1::mnuTerminal_Click);
    connect(cmdClear, &QPushButton::clicked, this, &Form1::cmdClear_Click);
    connect(cmdDebugClear, &QPushButton::clicked, this, &Form1::cmdDebugClear_Click);
    connect(SSTab2, &QTabWidget::currentChanged, this, &Form1::SSTab2_Click);
    SSTab2->tabBar()->installEventFilter(this);
    connectMotionControls();
    txtTerminal->installEventFilter(this);
}

void Form1::Form_Load() {
    SSTab2->setTabEnabled(DebugTabIndex, false);
    SSTab2->setTabEnabled(TerminalTabIndex, false);
    SSTab2->setTabEnabled(ProgramTabIndex, true);
    lblCurrentCommand->clear();
    lblBytesUsed->clear();
    CentreOnScreen(this);
    LoadDatabases();
    connectAtStartUp();
    QString error;
    if (!bindFile(m_files.workingCopy, true, &error)) {
        m_services.messages.show(MessageIcon::Critical,
                                 QStringLiteral("The program file %1 could not be opened (%2).")
                                     .arg(QDir::toNativeSeparators(m_files.workingCopy), error));
    }
    if (SSTab2->currentIndex() == MotionTabIndex && m_linkState.UnitConnected)
        cmdVerifyParameters_Click();
    applyModelLayout();
}

void Form1::LoadDatabases() {
    m_files = files::ProgramDirectoryFiles::In(m_services.paths.programDirectory());
    const files::LoadOutcome outcome =
        files::LoadDatabases(m_files, m_settings, m_services.messages);
    m_recovered = outcome.recovered;
    if (m_settings.isOpen()) {
        link::EnsurePortDevices(m_settings);
        checkAxisItem(m_connection.LoadCommSettings());
    }
}

void Form1::connectAtStartUp() {
    link::Link::Exchange exchange(m_link);
    m_linkState.UnitModel = QStringLiteral("KQM20");
    if (!m_connection.ConnectUnit() && m_services.port.PortOpen())
        m_services.port.Close();
    m_link.ShowConnectionStatus();
}

bool Form1::bindFile(const QString& path, bool refreshListing, QString* error) {
    if (!m_programTable.open(path)) {
        if (error)
            *error = m_programTable.lastError();
        m_gridModel.setRows({});
        lblCurrentFile->clear();
        return false;
    }
    SetGridColumnWidths();
    if (refreshListing) {
        RefreshListing();
    } else {
        m_gridModel.setRows(m_programTable.readRows().value_or(QVector<program::ProgramRow>{}));
    }
    lblCurrentFile->setText(QDir::toNativeSeparators(path));
    return true;
}

QString Form1::boundFile() const {
    return m_programTable.path();
}

std::optional<int> Form1::recordCount() {
    return m_programTable.isOpen() ? m_programTable.rowCount() : std::nullopt;
}

void Form1::closeBoundFile() {
    m_programTable.close();
}

void Form1::selectFirstLine() {
    if (m_gridModel.rowCount() > 0)
        DBGrid2->selectRow(0);
}

void Form1::ShowProgramTab() {
    m_debugCounter.tabChosen(ProgramTabIndex);
    SSTab2->setCurrentIndex(ProgramTabIndex);
    SSTab2->setFocus();
}

void Form1::mnuNewProgram_Click() {
    m_fileCommands.NewProgram();
}

void Form1::mnuOpenProgram_Click() {
    m_fileCommands.OpenProgram();
}

void Form1::mnuSaveProgramAs_Click() {
    m_fileCommands.SaveProgramAs();
}

void Form1::mnuPrint_Click() {
    ShowProgramTab();
    const auto rows = m_programTable.readRows();
    if (!rows || rows->isEmpty()) {
        m_services.messages.show(MessageIcon::Critical, QStringLiteral("The program is empty."));
        return;
    }
    QPrinter printer;
    if (!m_services.printDialogs.choosePrinter(printer))
        return;
    platform::BusyCursorGuard busy(m_services.busyCursor);
    const auto items =
        files::LayOutListing(*rows, QDir::toNativeSeparators(boundFile()), lblBytesUsed->text(),
                             QDateTime::currentDateTime(), files::PrinterLineHeights(printer));
    QString error;
    if (!files::RenderListing(printer, items, &error)) {
        m_services.messages.show(MessageIcon::Critical,
                                 QStringLiteral("A print routine error occurred.  Please check "
                                                "your settings and try again."));
    }
}

void Form1::SetGridColumnWidths() {
    const int dpi = DBGrid2->logicalDpiX();
    for (int column = 0; column < 5; ++column) {
        const int pixels = GridColumnTwips[column] * dpi / 1440;
        DBGrid2->setColumnHidden(column, pixels == 0);
        if (pixels > 0)
            DBGrid2->setColumnWidth(column, pixels);
    }
}

bool Form1::RefreshListing() {
    program::RefreshResult result =
        program::RefreshListing(m_programTable, m_programState, m_services.messages);
    if (!result.ok) {
        m_services.messages.show(
            MessageIcon::Critical,
            QStringLiteral("The program table could not be updated (%1).").arg(result.error));
        return false;
    }
    m_gridModel.setRows(std::move(result.rows));
    return true;
}

void Form1::closeEvent(QCloseEvent* event) {
    if (m_link.isBusy()) {
        // End the exchange at its next wait, then close.
        m_closeWhenIdle = true;
        m_link.requestAbort();
        event->ignore();
        return;
    }
    // An unsaved program is not lost without asking.
    if (!m_unloaded && !m_fileCommands.ConfirmClose()) {
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
    if (!files::MarkCleanExit(m_settings) && m_settings.isOpen()) {
        m_services.messages.show(MessageIcon::Warning,
                                 QStringLiteral("The end of this run could not be recorded in "
                                                "the settings file (%1). The next start will "
                                                "keep the working copy as recovered.")
                                     .arg(m_settings.lastError()));
    }
    m_programTable.close();
    m_settings.close();
    if (m_services.port.PortOpen())
        m_services.port.Close();
}

void Form1::cmdExit_Click() {
    close();
}

void Form1::mnuExit_Click() {
    m_quitAfterClose = true;
    close();
}

void Form1::showConnectionStatus(bool connected) {
    lblConnected->setText(connected ? QStringLiteral("The Unit is Connected")
                                    : QStringLiteral("The Unit is NOT Connected"));
    lblConnected->setStyleSheet(connected ? QStringLiteral("color: rgb(0, 0, 255);")
                                          : QStringLiteral("color: rgb(255, 0, 0);"));
}

void Form1::checkAxisItem(int index) {
    for (int axis = 0; axis < mnuAxisNum.size(); ++axis)
        mnuAxisNum.at(axis)->setChecked(axis == index);
}

void Form1::applyModelLayout() {
    // Only ever towards the KQM21 layout; it stays for the rest of the run.
    if (m_linkState.UnitModel != QLatin1String("KQM21"))
        return;
    m_motionTab->cmdAbsoluteMove->setText(QStringLiteral("Registration Mark Index"));
    m_motionTab->cmdAbsolutePosition->hide();
    m_motionTab->txtSendAbsolute->hide();
}

void Form1::cmdConnect_Click() {
    if (m_link.RefuseWhenBusy())
        return;
    bool connected = false;
    {
        link::Link::Exchange exchange(m_link);
        connected = m_connection.ConnectAction();
    }
    if (connected)
        cmdVerifyParameters_Click();
    applyModelLayout();
}

void Form1::mnuAxisNum_Click(int index) {
    if (m_link.RefuseWhenBusy()) {
        checkAxisItem(link::AxisMenuItemFor(m_linkState.AxisAddress));
        return;
    }
    checkAxisItem(m_connection.ChooseAxis(index));
}

void Form1::mnuTerminal_Click() {
    SSTab2->setTabEnabled(TerminalTabIndex, true);
    SSTab2->setCurrentIndex(TerminalTabIndex);
}

void Form1::cmdClear_Click() {
    txtTerminal->clear();
    txtTerminal->setFocus();
}

void Form1::cmdDebugClear_Click() {
    txtDebug->clear();
    txtDebug->setFocus();
}

void Form1::appendDebug(const QString& text) {
    QTextCursor end = txtDebug->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void Form1::SSTab2_Click(int tab) {
    m_debugCounter.tabChosen(tab);
    if (tab == MotionTabIndex && m_linkState.UnitConnected)
        cmdVerifyParameters_Click();
    if (tab == TerminalTabIndex)
        txtTerminal->setFocus();
}

void Form1::txtTerminal_KeyPress(const QString& text) {
    if (!m_services.port.PortOpen()) {
        m_services.messages.show(MessageIcon::Information,
                                 QStringLiteral("The Com Port is not Open!  Use Connect on the "
                                                "Setup menu to reach the unit."));
    } else if (!m_link.RefuseWhenBusy()) {
        m_link.TransmitTerminalText(text.toUpper());
    }
    const QString trimmed = link::TrimTerminalText(txtTerminal->toPlainText());
    if (trimmed.size() != txtTerminal->toPlainText().size())
        txtTerminal->setPlainText(trimmed);
    txtTerminal->moveCursor(QTextCursor::End);
    txtTerminal->setFocus();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtTerminal && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty() && (text.at(0).isPrint() || text.at(0) == QLatin1Char('\r')))
            txtTerminal_KeyPress(text);
    } else if (event->type() == QEvent::FocusIn &&
               ((watched == m_motionTab->cmdVerifyParameters &&
                 SSTab2->currentIndex() == ProgramTabIndex) ||
                (watched == cmdStop && SSTab2->currentIndex() == TerminalTabIndex))) {
        SSTab2->setFocus();
    } else if ((watched == cmdAdd || watched == DBGrid2) && event->type() == QEvent::FocusIn) {
        // Keep the keyboard focus off controls of a tab that is not shown.
        const int tab = SSTab2->currentIndex();
        if (tab == MotionTabIndex || (watched == DBGrid2 && tab == TerminalTabIndex))
            SSTab2->setFocus();
    } else if (watched == SSTab2->tabBar() && event->type() == QEvent::MouseButtonPress) {
        if (m_debugCounter.tabControlClicked(SSTab2->currentIndex()))
            SSTab2->setTabEnabled(DebugTabIndex, true);
    }
    return QMainWindow::eventFilter(watched, event);
}

Form1::EditorAnswer Form1::runCommandEditor(const QString& caption, const program::Preload* preload,
                                            const QString& comment) {
    program::frmCommands editor(m_services.messages, m_editorMemory, m_linkState.UnitModel,
                                m_linkState.AxisAddress, this);
    editor.setWindowTitle(caption);
    if (preload)
        editor.preload(*preload, comment);
    editor.exec();
    return {editor.EditedCommand(), editor.EditedComment()};
}

std::optional<int> Form1::selectedRow() const {
    const QModelIndexList rows = DBGrid2->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row();
}

bool Form1::preconditionHolds(program::EditOperation operation) {
    const auto message = program::PreconditionMessage(
        operation, static_cast<int>(m_gridModel.rows().size()), selectedRow());
    if (!message)
        return true;
    m_services.messages.show(MessageIcon::Warning, *message);
    return false;
}

void Form1::applyEdit(program::EditResult result) {
    if (!result.ok) {
        m_services.messages.show(MessageIcon::Critical,
                                 QStringLiteral("The program could not be changed (%1). It is "
                                                "as it was before.")
                                     .arg(result.error));
        RefreshListing();
        return;
    }
    m_gridModel.setRows(std::move(result.rows));
    DBGrid2->clearSelection();
    if (result.currentRow)
        DBGrid2->selectRow(*result.currentRow);
}

void Form1::cmdAdd_Click() {
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Add Command"));
    if (answer.command.isEmpty())
        return;
    applyEdit(program::AddLine(m_programTable, m_programState, m_services.messages, answer.command,
                               answer.comment));
}

void Form1::cmdInsert_Click() {
    if (!preconditionHolds(program::EditOperation::Insert))
        return;
    const int row = *selectedRow();
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Insert Command"));
    if (answer.command.isEmpty())
        return;
    platform::BusyCursorGuard busy(m_services.busyCursor);
    applyEdit(program::InsertLine(m_programTable, m_programState, m_services.messages, row,
                                  answer.command, answer.comment));
}

void Form1::cmdChange_Click() {
    if (preconditionHolds(program::EditOperation::Change)) {
        const int row = *selectedRow();
        const program::ProgramRow& line = m_gridModel.rows().at(row);
        const program::Preload preload = program::PreloadFor(line.command);
        const EditorAnswer answer =
            runCommandEditor(QStringLiteral("Change Command"), &preload, line.comment);
        if (!answer.command.isEmpty()) {
            applyEdit(program::ChangeLine(m_programTable, m_programState, m_services.messages, row,
                                          answer.command, answer.comment));
            return;
        }
    }
    RefreshListing();
}

void Form1::cmdDelete_Click() {
    if (!preconditionHolds(program::EditOperation::Delete))
        return;
    const int row = *selectedRow();
    platform::BusyCursorGuard busy(m_services.busyCursor);
    applyEdit(program::DeleteLine(m_programTable, m_programState, m_services.messages, row));
}

void Form1::mnuCommSettings_Click() {
    if (m_link.RefuseWhenBusy())
        return;
    {
        tools::frmCommSettings dialog(m_services.messages, m_settings, m_linkState.ComPortNumber,
                                      m_linkState.BaudRate, tools::AvailableDevices(), this);
        dialog.exec();
    }
    // The dialog always ends a connection: the next connect uses the new choice.
    if (m_services.port.PortOpen())
        m_link.Disconnect();
}

void Form1::cmdCalculator_Click() {
    if (!m_calculator)
        m_calculator = new tools::frmCalculator(m_services.messages, this);
    m_calculator->show();
    m_calculator->raise();
    m_calculator->activateWindow();
}

} // namespace kqm::ui
