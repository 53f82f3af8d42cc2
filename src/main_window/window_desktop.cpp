#include "main_window/main_window.h"

#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "files/program_files.h"
#include "link/device_port.h"
#include "main_window/desktop_memory.h"
#include "main_window/find_units.h"
#include "main_window/motion_tab.h"
#include "main_window/program_tab.h"
#include "main_window/stop_key.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/window_placement.h"
#include "tools/calculator_window.h"
#include "version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

// The window's place and the recent programs, kept across runs.

namespace kqm::ui {

using platform::MessageIcon;

void Form1::restoreDesktop() {
    files::SettingsTable& settings = m_session.settings;
    const std::optional<WindowPlace> place =
        settings.isOpen() ? storedWindowPlace(settings) : std::nullopt;
    if (place) {
        // The screens may have changed since: a window off every screen comes back.
        setGeometry(platform::keepOnScreens(place->geometry, platform::availableScreenAreas()));
        if (place->maximized)
            setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        platform::centreOnScreen(this);
    }
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
}

void Form1::storeDesktop() {
    files::SettingsTable& settings = m_session.settings;
    if (!settings.isOpen())
        return;
    // What the desktop remembers is a convenience: a failed write is not worth a message.
    storeWindowPlace(settings, {isMaximized() ? normalGeometry() : geometry(), isMaximized()});
    settings.setPreference(desktop::LastTabPreference, QString::number(SSTab2->currentIndex()));
}

void Form1::rememberFile(const QString& path) {
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
    fillRecentMenu(mnuRecentPrograms, desktop::RecentProgramsPreference,
                   QStringLiteral("mnuRecentProgram"),
                   [this](const QString& path) { openRecentProgram(path); });
}

void Form1::fillRecentMenu(QMenu* menu, const QString& list, const QString& namePrefix,
                           const std::function<void(const QString&)>& open) {
    // The menu may be rebuilt from one of its own items: old items go later.
    for (QAction* old : menu->actions()) {
        menu->removeAction(old);
        old->deleteLater();
    }
    const QStringList paths =
        m_session.settings.isOpen() ? recentPrograms(m_session.settings, list) : QStringList();
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths.at(i);
        QString caption = QDir::toNativeSeparators(path);
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* recent = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(caption));
        recent->setObjectName(QStringLiteral("%1(%2)").arg(namePrefix).arg(i));
        recent->setData(path);
        connect(recent, &QAction::triggered, this, whenLineFree([open, path] { open(path); }));
    }
    if (paths.isEmpty()) {
        QAction* none = menu->addAction(QStringLiteral("(none)"));
        none->setObjectName(namePrefix + QStringLiteral("None"));
        none->setEnabled(false);
    }
}

void Form1::openRecentProgram(const QString& path) {
    if (!QFileInfo::exists(path)) {
        m_services.messages.show(MessageIcon::Warning,
                                 QStringLiteral("The program file %1 is no longer there. It has "
                                                "been taken off the recent programs.")
                                     .arg(QDir::toNativeSeparators(path)));
        if (m_session.settings.isOpen())
            forgetRecentProgram(m_session.settings, path);
        showRecentPrograms();
        return;
    }
    m_fileCommands->openProgramFile(path);
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
