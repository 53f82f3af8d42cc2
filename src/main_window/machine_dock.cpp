#include "main_window/machine_dock.h"

#include "files/machine_file.h"
#include "main_window/desktop_memory.h"
#include "main_window/machine_view.h"
#include "main_window/session.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QScrollArea>

namespace kqm::ui {

using platform::MessageIcon;

MachineDock::MachineDock(Session& session, QMenu* recentMachines, Window window, QWidget* parent)
    : QDockWidget(QStringLiteral("Machine"), parent), m_session(session),
      m_recentMachines(recentMachines), m_view(new MachineView(session)) {
    setObjectName(QStringLiteral("dckMachine"));
    m_view->setObjectName(QStringLiteral("MachineView"));
    // Below its own size the view scrolls: the tabs keep their room.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scrMachine"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_view);
    setWidget(scroll);
    m_view->setOpenProgramSource(window.openProgram);
    connect(m_view, &MachineView::unitOpened, this,
            [this, openUnit = window.openUnit](int axis, const QString& program) {
                if (m_session.link.exchanges().refuseWhenBusy())
                    return;
                if (!QFileInfo(program).isFile()) {
                    m_session.services.messages.show(
                        MessageIcon::Warning, QStringLiteral("The program file %1 is not there.")
                                                  .arg(QDir::toNativeSeparators(program)));
                    return;
                }
                openUnit(axis, program);
            });
    showRecentMachines();
}

void MachineDock::chooseMachineFile() {
    if (m_session.link.exchanges().refuseWhenBusy())
        return;
    // Where the machine shown is, else where the last one opened was.
    QString last = m_view->machinePath();
    if (last.isEmpty() && m_session.settings.isOpen())
        last = recentPrograms(m_session.settings, desktop::RecentMachinesPreference).value(0);
    const QString folder =
        last.isEmpty() ? m_session.files.directory : QFileInfo(last).absolutePath();
    if (const auto path = m_session.services.fileDialogs.openFileName(
            folder, QStringLiteral("Machine files (*.kqmachine)"), QStringLiteral("Open Machine")))
        openMachineFile(*path);
}

bool MachineDock::openMachineFile(const QString& path) {
    if (m_session.link.exchanges().refuseWhenBusy())
        return false;
    QString problem;
    const auto machine = files::readMachineFile(path, &problem);
    if (!machine) {
        m_session.services.messages.show(MessageIcon::Critical,
                                         QStringLiteral("The machine file %1 cannot be opened: %2")
                                             .arg(QDir::toNativeSeparators(path), problem));
        return false;
    }
    m_view->setMachine(QFileInfo(path).absoluteFilePath(), *machine);
    show();
    raise();
    if (m_session.settings.isOpen()) {
        rememberRecentProgram(m_session.settings, path, desktop::RecentMachinesPreference);
        showRecentMachines();
    }
    return true;
}

void MachineDock::showRecentMachines() {
    fillRecentMenu(m_recentMachines, m_session, RecentMachinesMenu,
                   [this](const QString& path) { openMachineFile(path); });
}

} // namespace kqm::ui
