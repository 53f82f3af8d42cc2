#include "main_window/main_window.h"

#include "main_window/program_tab.h"
#include "platform/object_names.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

// The window's menus, each item named as the window's code and tests find it.

namespace kqm::ui {

using platform::named;

void Form1::createMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    const auto item = [](QMenu* menu, const QString& caption, const char* name) {
        return named(menu->addAction(caption), QString::fromLatin1(name));
    };
    mnuNewProgram = item(file, QStringLiteral("&New Program"), "mnuNewProgram");
    mnuNewProgram->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    mnuOpenProgram = item(file, QStringLiteral("&Open Program..."), "mnuOpenProgram");
    mnuOpenProgram->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuRecentPrograms = named(file->addMenu(QStringLiteral("&Recent Programs")),
                              QStringLiteral("mnuRecentPrograms"));
    mnuSaveProgramAs = item(file, QStringLiteral("Save Program &As..."), "mnuSaveProgramAs");
    file->addSeparator();
    mnuOpenMachine = item(file, QStringLiteral("Open &Machine..."), "mnuOpenMachine");
    mnuRecentMachines = named(file->addMenu(QStringLiteral("Recent Mac&hines")),
                              QStringLiteral("mnuRecentMachines"));
    mnuSaveProgramAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    // Ctrl+S out of habit: said to be needless in a named file, Save As in
    // the working copy.
    auto* save = new QAction(QStringLiteral("Save (every change is written at once)"), this);
    save->setObjectName(QStringLiteral("actSave"));
    save->setProperty("listedAfter", QStringLiteral("mnuSaveProgramAs"));
    save->setShortcut(QKeySequence::Save);
    save->setShortcutContext(Qt::WindowShortcut);
    addAction(save);
    connect(save, &QAction::triggered, this, [this] {
        if (!m_session.link.exchanges().refuseWhenBusy())
            saveKey();
    });
    file->addSeparator();
    mnuExportProgram = item(file, QStringLiteral("&Export Program..."), "mnuExportProgram");
    mnuImportProgram = item(file, QStringLiteral("&Import Program..."), "mnuImportProgram");
    mnuUnitBackups = item(file, QStringLiteral("Unit &Backups..."), "mnuUnitBackups");
    mnuTransferLog = item(file, QStringLiteral("&Transfer Log..."), "mnuTransferLog");
    file->addSeparator();
    mnuPrint = item(file, QStringLiteral("&Print..."), "mnuPrint");
    mnuPrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    file->addSeparator();
    mnuExit = item(file, QStringLiteral("E&xit"), "mnuExit");
    // Written out: the platform's Quit key is empty on Windows.
    mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    mnuUndo = item(edit, QStringLiteral("&Undo"), "mnuUndo");
    // Their texts name the step; the list of keys names them as they are.
    mnuUndo->setProperty("fixedName", QStringLiteral("&Undo"));
    mnuUndo->setShortcut(QKeySequence::Undo);
    mnuRedo = item(edit, QStringLiteral("&Redo"), "mnuRedo");
    mnuRedo->setProperty("fixedName", QStringLiteral("&Redo"));
    mnuRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit->addSeparator();
    mnuCut = item(edit, QStringLiteral("Cu&t"), "mnuCut");
    mnuCut->setShortcut(QKeySequence::Cut);
    mnuCopy = item(edit, QStringLiteral("&Copy"), "mnuCopy");
    mnuCopy->setShortcut(QKeySequence::Copy);
    mnuPaste = item(edit, QStringLiteral("&Paste"), "mnuPaste");
    mnuPaste->setShortcut(QKeySequence::Paste);
    mnuAddLine = item(edit, QStringLiteral("&Add Line..."), "mnuAddLine");
    // Insert inserts; Alt+Insert adds at the end. Neither is a clipboard key.
    mnuAddLine->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Insert));
    mnuInsertLine = item(edit, QStringLiteral("&Insert Line..."), "mnuInsertLine");
    mnuInsertLine->setShortcut(QKeySequence(Qt::Key_Insert));
    mnuChangeLine = item(edit, QStringLiteral("C&hange Line..."), "mnuChangeLine");
    mnuChangeLine->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    mnuDeleteLines = item(edit, QStringLiteral("&Delete"), "mnuDeleteLines");
    mnuDeleteLines->setShortcut(QKeySequence::Delete);
    edit->addSeparator();
    mnuMoveUp = item(edit, QStringLiteral("&Move Up"), "mnuMoveUp");
    mnuMoveUp->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    mnuMoveDown = item(edit, QStringLiteral("Move Do&wn"), "mnuMoveDown");
    mnuMoveDown->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
    // The clipboard and delete keys belong to the program grid; the terminal
    // and other text boxes keep their own.
    for (QAction* action : {mnuCut, mnuCopy, mnuPaste, mnuAddLine, mnuInsertLine, mnuDeleteLines}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_programTab->addAction(action);
    }
    // Enter in the grid only: the check list and the buttons keep theirs.
    m_programTab->addGridAction(mnuChangeLine);


    QMenu* programMenu = menuBar()->addMenu(QStringLiteral("&Program"));
    programMenu->setObjectName(QStringLiteral("mnuProgram"));
    mnuDryRun = item(programMenu, QStringLiteral("&Dry Run..."), "mnuDryRun");
    mnuDryRun->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    mnuToggleBreakpoint =
        item(programMenu, QStringLiteral("Toggle &Breakpoint"), "mnuToggleBreakpoint");
    mnuToggleBreakpoint->setShortcut(QKeySequence(Qt::Key_F9));

    QMenu* setup = menuBar()->addMenu(QStringLiteral("&Setup"));
    setup->setObjectName(QStringLiteral("mnuSetup"));
    mnuConnect = item(setup, QStringLiteral("&Connect"), "mnuConnect");
    mnuCommSettings = item(setup, QStringLiteral("Communication &Settings..."), "mnuCommSettings");
    mnuFindUnits = item(setup, QStringLiteral("Find &Units..."), "mnuFindUnits");
    mnuFindFastestPace = item(setup, QStringLiteral("Find &Fastest Pace..."), "mnuFindFastestPace");
    mnuAxis = named(setup->addMenu(QStringLiteral("&Axis")), QStringLiteral("mnuAxis"));
    for (int axis = 0; axis < 32; ++axis) {
        QAction* axisItem = mnuAxis->addAction(QStringLiteral("Axis %1").arg(axis));
        axisItem->setObjectName(QStringLiteral("mnuAxisNum(%1)").arg(axis));
        axisItem->setCheckable(true);
        mnuAxisNum << axisItem;
    }
    mnuTerminal = item(setup, QStringLiteral("&Terminal"), "mnuTerminal");
    mnuAutostartProgram = named(setup->addMenu(QStringLiteral("Autostart &Program")),
                                QStringLiteral("mnuAutostartProgram"));
    const QString autostart[2] = {QStringLiteral("&Disable"), QStringLiteral("&Enable")};
    for (int i = 0; i < 2; ++i) {
        QAction* onOff = mnuAutostartProgram->addAction(autostart[i]);
        onOff->setObjectName(QStringLiteral("mnuAutostartOnOff(%1)").arg(i));
        mnuAutostartOnOff << onOff;
    }

    QMenu* unit = menuBar()->addMenu(QStringLiteral("&Unit"));
    unit->setObjectName(QStringLiteral("mnuUnit"));
    mnuSendProgram = item(unit, QStringLiteral("&Send Program to Controller..."), "mnuSendProgram");
    mnuSendProgram->setShortcut(QKeySequence(Qt::Key_F5));
    mnuUploadProgram = item(unit, QStringLiteral("&Upload Program"), "mnuUploadProgram");
    mnuUploadProgram->setShortcut(QKeySequence(Qt::Key_F6));
    mnuViewProgram = item(unit, QStringLiteral("&View Program in Controller"), "mnuViewProgram");
    mnuViewProgram->setShortcut(QKeySequence(Qt::Key_F7));
    unit->addSeparator();
    mnuStopMotion = item(unit, QStringLiteral("S&top Motion"), "mnuStopMotion");
    mnuStopMotion->setShortcut(StopMotionKey());
    // From every window of the tool, and during a send: the send waits in a
    // nested event loop, where application shortcuts still arrive.
    mnuStopMotion->setShortcutContext(Qt::ApplicationShortcut);
    addAction(mnuStopMotion);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    mnuKeyboardShortcuts =
        item(help, QStringLiteral("&Keyboard Shortcuts..."), "mnuKeyboardShortcuts");
    mnuAbout = item(help, QStringLiteral("&About..."), "mnuAbout");
}

} // namespace kqm::ui
