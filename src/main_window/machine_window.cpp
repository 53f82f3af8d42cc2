#include "main_window/main_window.h"

#include "files/program_files.h"
#include "main_window/desktop_memory.h"
#include "main_window/machine_view.h"
#include "platform/app_paths.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "transfer/pace_test.h"
#include "transfer/proven_pace.h"
#include "transfer/transfer_log.h"
#include "transfer/transfer_log_dialog.h"
#include "transfer/unit_backup.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>

// A machine of several units beside the grid, the transfer log, and the
// pace test of the connected unit.

namespace kqm::ui {

using platform::MessageIcon;

void Form1::createMachineView() {
    m_machineView = new MachineView(m_session);
    m_machineView->setObjectName(QStringLiteral("MachineView"));
    dckMachine = new QDockWidget(QStringLiteral("Machine"), this);
    dckMachine->setObjectName(QStringLiteral("dckMachine"));
    dckMachine->setWidget(m_machineView);
    addDockWidget(Qt::BottomDockWidgetArea, dckMachine);
    dckMachine->hide();
    m_machineView->setOpenProgramSource([this] { return windowFilePath(); });
    connect(m_machineView, &MachineView::unitOpened, this,
            whenLineFreeWith([this](int axis, const QString& program) {
                if (!QFileInfo(program).isFile()) {
                    m_services.messages.show(MessageIcon::Warning,
                                             QStringLiteral("The program file %1 is not there.")
                                                 .arg(QDir::toNativeSeparators(program)));
                    return;
                }
                m_fileCommands->openProgramFile(program);
                // Choosing an axis ends the connection; the unit of the row
                // is greeted at once when one was connected.
                const bool connected = m_session.linkState().UnitConnected;
                if (axis >= 0 && axis < mnuAxisNum.size() &&
                    m_session.linkState().AxisAddress != QString::number(axis)) {
                    mnuAxisNum.at(axis)->trigger();
                    if (connected)
                        mnuConnect->trigger();
                }
                ShowProgramTab();
            }));
    connect(mnuOpenMachine, &QAction::triggered, this, whenLineFree([this] {
                const QString folder = m_machineView->machinePath().isEmpty()
                                           ? QString()
                                           : QFileInfo(m_machineView->machinePath()).absolutePath();
                if (const auto path = m_services.fileDialogs.openFileName(
                        folder, QStringLiteral("Machine files (*.kqmachine)")))
                    openMachineFile(*path);
            }));
    connect(mnuTransferLog, &QAction::triggered, this, &Form1::openTransferLog);
    connect(mnuFindFastestPace, &QAction::triggered, this,
            whenLineFree([this] { findFastestPace(); }));
    showRecentMachines();
}

std::function<void(int, const QString&)>
Form1::whenLineFreeWith(std::function<void(int, const QString&)> action) {
    return [this, action = std::move(action)](int axis, const QString& program) {
        if (!m_session.link.refuseWhenBusy())
            action(axis, program);
    };
}

bool Form1::openMachineFile(const QString& path) {
    if (m_session.link.refuseWhenBusy())
        return false;
    QString problem;
    const auto machine = files::readMachineFile(path, &problem);
    if (!machine) {
        m_services.messages.show(MessageIcon::Critical,
                                 QStringLiteral("The machine file %1 cannot be opened: %2")
                                     .arg(QDir::toNativeSeparators(path), problem));
        return false;
    }
    m_machineView->setMachine(QFileInfo(path).absoluteFilePath(), *machine);
    dckMachine->show();
    dckMachine->raise();
    if (m_session.settings.isOpen()) {
        rememberRecentProgram(m_session.settings, path, desktop::RecentMachinesPreference);
        showRecentMachines();
    }
    return true;
}

void Form1::showRecentMachines() {
    fillRecentMenu(mnuRecentMachines, desktop::RecentMachinesPreference,
                   QStringLiteral("mnuRecentMachine"), [this](const QString& path) {
                       if (QFileInfo::exists(path)) {
                           openMachineFile(path);
                           return;
                       }
                       m_services.messages.show(
                           MessageIcon::Warning,
                           QStringLiteral("The machine file %1 is no longer there. It has been "
                                          "taken off the recent machines.")
                               .arg(QDir::toNativeSeparators(path)));
                       forgetRecentProgram(m_session.settings, path,
                                           desktop::RecentMachinesPreference);
                       showRecentMachines();
                   });
}

void Form1::openTransferLog() {
    auto* dialog = new transfer::frmTransferLog(
        transfer::transferLogPath(m_services.paths.userDataDirectory()), m_services.fileDialogs,
        m_services.messages, this);
    dialog->setWorkingCopy(m_session.files.workingCopy);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void Form1::findFastestPace() {
    if (!m_session.linkState().UnitConnected || !m_session.link.isPortOpen()) {
        m_services.messages.show(MessageIcon::Information,
                                 QStringLiteral("Connect to the unit first (Setup > Connect)."));
        return;
    }
    const QString question =
        QStringLiteral(
            "The pace test keeps the program of the %1 on axis %2, then sends a test program "
            "that fills its memory at 0.02, 0.01, 0.005 and 0.002 s, then with the characters back "
            "to back, each read back, and sends "
            "its own program back at the end. It takes a few minutes; Stop Motion ends it.\n\n"
            "Start the pace test?")
            .arg(m_session.linkState().UnitModel, m_session.linkState().AxisAddress);
    if (m_services.messages.show(MessageIcon::Question, question,
                                 platform::MessageButtons::YesNo) != platform::MessageAnswer::Yes)
        return;
    const QString data = m_services.paths.userDataDirectory();
    transfer::PaceTestOptions options;
    options.backupDirectory = transfer::axisBackupDirectory(
        transfer::backupRootPath(data), m_session.linkState().AxisAddress.toInt());
    options.logFile = transfer::transferLogPath(data);
    options.provenPacesFile = transfer::provenPacesPath(data);
    transfer::PaceTestCallbacks callbacks;
    QString trial;
    callbacks.trialStarted = [&trial](double pace, int attempt) {
        trial = QStringLiteral("Pace test: %1 s, %2 of 2").arg(pace).arg(attempt);
    };
    int shownPercent = -1;
    callbacks.progress = [this, &trial, &shownPercent](int done, int total) {
        const int percent = total > 0 ? done * 100 / total : 0;
        if (percent != shownPercent)
            statusBar()->showMessage(QStringLiteral("%1: %2 %").arg(trial).arg(percent));
        shownPercent = percent;
    };
    callbacks.restoring = [this](double) {
        statusBar()->showMessage(QStringLiteral("Pace test: sending the unit's own program back"));
    };
    transfer::PaceTestReport report;
    report = transfer::runPaceTest(m_session.link, options, callbacks);
    if (m_closeWhenIdle)
        return; // the window closes; the outcome is in the transfer log
    statusBar()->clearMessage();
    m_services.messages.show(report.restored ? MessageIcon::Information : MessageIcon::Warning,
                             report.message);
}

} // namespace kqm::ui
