#include "main_window/main_window.h"

#include "files/program_files.h"
#include "main_window/desktop_memory.h"
#include "main_window/machine_dock.h"
#include "main_window/motion_tab.h"
#include "platform/messages.h"
#include "platform/window_placement.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>

// The window's place and the recent programs, kept across runs.

namespace kqm::ui {

using platform::MessageIcon;

void Form1::restoreDesktop() {
    files::SettingsTable& settings = m_session.settings;
    // The first start shows the Motion tab whole where the screen allows:
    // the window's size hint holds it unscrolled.
    restoreWindowPlace(this, settings);
    if (!settings.isOpen())
        return;
    m_fileCommands->setStartFolder(
        settings.preference(desktop::LastFolderPreference).value_or(QString()));
    bool ok = false;
    const int tab = settings.preference(desktop::LastTabPreference).value_or(QString()).toInt(&ok);
    // The Terminal and Debug tabs open on request only.
    if (ok && (tab == MotionTabIndex || tab == ProgramTabIndex)) {
        const QSignalBlocker quiet(SSTab2);
        SSTab2->setCurrentIndex(tab);
    }
    showRecentPrograms();
    m_machine->showRecentMachines();
}

void Form1::storeDesktop() {
    files::SettingsTable& settings = m_session.settings;
    if (!settings.isOpen())
        return;
    keepWindowPlace(this, settings);
    settings.setPreference(desktop::LastTabPreference, QString::number(SSTab2->currentIndex()));
}

void Form1::rememberFile(const QString& path) {
    // The working copy has no name of its own to come back to.
    if (files::sameFile(path, m_session.files.workingCopy))
        return;
    files::SettingsTable& settings = m_session.settings;
    const QString folder = QFileInfo(path).absolutePath();
    m_fileCommands->setStartFolder(folder);
    if (!settings.isOpen())
        return;
    settings.setPreference(desktop::LastFolderPreference, folder);
    rememberRecentProgram(settings, path);
    showRecentPrograms();
}

void Form1::showRecentPrograms() {
    fillRecentMenu(mnuRecentPrograms, m_session, RecentProgramsMenu,
                   [this](const QString& path) { m_fileCommands->openProgramFile(path); });
}

void Form1::showOpenFile(const QString& path) {
    // The working copy has no name the user gave it.
    const bool named = !path.isEmpty() && !files::sameFile(path, m_session.files.workingCopy);
    setWindowFilePath(named ? path : QString());
    setWindowTitle(QStringLiteral("%1 - %2").arg(
        named ? QFileInfo(path).fileName() : QStringLiteral("Untitled"), Caption()));
}

void Form1::saveKey() {
    const QString path = m_session.document.path();
    if (m_session.document.isBound() && !files::sameFile(path, m_session.files.workingCopy)) {
        statusBar()->showMessage(QStringLiteral("Every change is already written to %1.")
                                     .arg(QDir::toNativeSeparators(path)));
        return;
    }
    mnuSaveProgramAs->trigger();
}

void Form1::changeEvent(QEvent* event) {
    // Back from another program (kqmctl in a terminal, say): show the file
    // as it is now.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_session.document.catchUp();
    QMainWindow::changeEvent(event);
}

} // namespace kqm::ui
