#include "main_window/find_units.h"

#include "link/unit_scan.h"
#include "main_window/session.h"
#include "tools/find_units_dialog.h"

namespace kqm::ui {

namespace {

void scanLine(Session& session, tools::frmFindUnits& dialog) {
    link::Link& link = session.link;
    const auto exchange = link.exchanges().tryBeginWithoutUnit();
    if (!exchange) {
        dialog.scanRefused(link::BusyMessage);
        return;
    }
    const bool wasOpen = link.isPortOpen();
    if (!wasOpen && !session.connection.openStoredPort(files::readCommSettings(session.settings))) {
        dialog.scanRefused(session.linkState().LastCommError);
        return;
    }
    dialog.scanStarted();
    const link::ScanResult result = link::scanUnits(
        link, [&dialog](int axis, const link::FoundUnit* found) { dialog.showAsked(axis, found); });
    // A connection that was there stays; a port opened for the scan goes.
    if (!wasOpen && link.isPortOpen())
        link.disconnectUnit();
    dialog.scanEnded(result);
}

} // namespace

int findUnits(Session& session, QWidget* dialogParent) {
    tools::frmFindUnits dialog(dialogParent);
    QObject::connect(&dialog, &tools::frmFindUnits::scanRequested, &dialog,
                     [&session, &dialog] { scanLine(session, dialog); });
    QObject::connect(&dialog, &tools::frmFindUnits::stopRequested, &dialog,
                     [&session] { session.link.exchanges().requestStop(); });
    QObject::connect(&dialog, &tools::frmFindUnits::stopMotionRequested, &dialog,
                     [&session] { session.motion.run(link::MotionControl::StopAll); });
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return dialog.chosenAxis();
}

} // namespace kqm::ui
