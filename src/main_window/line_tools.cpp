#include "main_window/line_tools.h"

#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/messages.h"
#include "transfer/pace_test.h"
#include "transfer/proven_pace.h"
#include "transfer/transfer_log.h"
#include "transfer/transfer_log_dialog.h"
#include "transfer/unit_backup.h"

#include <QStatusBar>

namespace kqm::ui {

using platform::MessageIcon;

void openTransferLog(Session& session, QWidget* parent) {
    const Services& services = session.services;
    auto* dialog =
        new transfer::frmTransferLog(transfer::transferLogPath(services.paths.userDataDirectory()),
                                     services.fileDialogs, services.messages, parent);
    dialog->setWorkingCopy(session.files.workingCopy);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void findFastestPace(Session& session, QStatusBar* status,
                     const std::function<bool()>& windowClosing) {
    const Services& services = session.services;
    const link::LinkState& state = session.linkState();
    if (session.link.exchanges().refuseWhenBusy())
        return;
    if (!state.UnitConnected || !session.link.isPortOpen()) {
        services.messages.show(MessageIcon::Information,
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
            .arg(state.UnitModel, state.AxisAddress);
    if (services.messages.show(MessageIcon::Question, question, platform::MessageButtons::YesNo) !=
        platform::MessageAnswer::Yes)
        return;
    const QString data = services.paths.userDataDirectory();
    transfer::PaceTestOptions options;
    options.backupDirectory =
        transfer::axisBackupDirectory(transfer::backupRootPath(data), state.AxisAddress.toInt());
    options.logFile = transfer::transferLogPath(data);
    options.provenPacesFile = transfer::provenPacesPath(data);
    transfer::PaceTestCallbacks callbacks;
    QString trial;
    callbacks.trialStarted = [&trial](double pace, int attempt) {
        trial = QStringLiteral("Pace test: %1 s, %2 of 2").arg(pace).arg(attempt);
    };
    int shownPercent = -1;
    callbacks.progress = [status, &trial, &shownPercent](int done, int total) {
        const int percent = total > 0 ? done * 100 / total : 0;
        if (percent != shownPercent)
            status->showMessage(QStringLiteral("%1: %2 %").arg(trial).arg(percent));
        shownPercent = percent;
    };
    callbacks.restoring = [status](double) {
        status->showMessage(QStringLiteral("Pace test: sending the unit's own program back"));
    };
    const transfer::PaceTestReport report =
        transfer::runPaceTest(session.link, services.clock, options, callbacks);
    if (windowClosing())
        return;
    status->clearMessage();
    services.messages.show(report.restored ? MessageIcon::Information : MessageIcon::Warning,
                           report.message);
}

} // namespace kqm::ui
