#include "main_window/unit_actions.h"

#include "files/file_copy.h"
#include "link/device_port.h"
#include "link/readout.h"
#include "main_window/motion_tab.h"
#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/window_placement.h"
#include "tools/comm_settings.h"
#include "tools/comm_settings_dialog.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "transfer/upload.h"
#include "transfer/view.h"
#include "transfer/view_window.h"

#include <QDir>

namespace kqm::ui {

using platform::MessageIcon;

UnitActions::UnitActions(Session& session, MotionTab& motionTab, ProgramTab& programTab,
                         QWidget* dialogParent)
    : m_session(session), m_motionTab(motionTab), m_programTab(programTab),
      m_dialogParent(dialogParent) {}

void UnitActions::connectAtStartUp() {
    link::Link& link = m_session.link;
    {
        link::Link::Exchange exchange(link);
        m_session.linkState.UnitModel = QStringLiteral("KQM20");
        if (!m_session.connection.ConnectUnit(files::readCommSettings(m_session.settings)) &&
            link.isPortOpen())
            link.disconnectUnit();
        link.ShowConnectionStatus();
    }
    // Start-up says nothing when no unit answers, but a line that keeps
    // sending is worth knowing about: the settings can be fixed at once.
    if (link.flooded())
        m_session.services.messages.show(MessageIcon::Warning, link.lostReason());
}

void UnitActions::applyModelLayout() {
    if (m_session.linkState.UnitModel == QLatin1String("KQM21"))
        m_motionTab.showKqm21Layout();
}

void UnitActions::cmdConnect_Click() {
    bool connected = false;
    {
        const auto exchange = m_session.link.tryBeginWithoutUnit();
        if (!exchange)
            return;
        connected = m_session.connection.connectAction(files::readCommSettings(m_session.settings));
    }
    if (connected)
        cmdVerifyParameters_Click();
    applyModelLayout();
}

int UnitActions::mnuAxisNum_Click(int index) {
    if (m_session.link.refuseWhenBusy())
        return link::axisMenuItemFor(m_session.linkState.AxisAddress);
    const int item = m_session.connection.chooseAxis(index);
    files::storeAxisAddress(m_session.settings, m_session.linkState.AxisAddress,
                            m_session.services.messages);
    return item;
}

void UnitActions::mnuCommSettings_Click() {
    if (m_session.link.refuseWhenBusy())
        return;
    link::LinkState& state = m_session.linkState;
    {
        tools::frmCommSettings dialog(state.ComPortNumber, state.BaudRate,
                                      tools::storedDevices(m_session.settings),
                                      link::availableDevices(), m_dialogParent);
        if (dialog.exec() == QDialog::Accepted) {
            tools::storeCommSettingsChoice(dialog.choice(), state.ComPortNumber, state.BaudRate,
                                           m_session.settings, m_session.services.messages);
        }
    }
    // The dialog always ends a connection: the next connect uses the new choice.
    if (m_session.link.isPortOpen())
        m_session.link.disconnectUnit();
}

void UnitActions::cmdVerifyParameters_Click() {
    const auto exchange = m_session.link.tryBegin();
    if (!exchange)
        return;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    link::runReadout(m_session.link, m_motionTab);
    // A unit that is silent shows "False" in the labels; a port that went
    // away during the readout is said plainly.
    if (!m_session.link.lostReason().isEmpty())
        m_session.services.messages.show(MessageIcon::Critical, m_session.link.lostReason());
}

void UnitActions::runMotion(link::MotionControl control, const QString& operand) {
    if (m_session.motion.run(control, operand))
        cmdVerifyParameters_Click();
}

void UnitActions::cmdSend_Click() {
    if (!m_session.linkState.UnitConnected) {
        m_session.link.ReportNotConnected();
        return;
    }
    const auto rows =
        m_session.document.table().readRows().value_or(QVector<program::ProgramRow>{});
    transfer::PreparedSend prepared;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        prepared = transfer::prepareSend(rows, m_session.document.state().ProgramFits,
                                         m_session.linkState.AxisAddress);
    }
    if (prepared.refusal) {
        m_session.services.messages.show(MessageIcon::Critical, *prepared.refusal);
        return;
    }
    auto* dialog = new transfer::Form2(m_session.services.messages, prepared.text(), prepared.items,
                                       m_dialogParent);
    QObject::connect(dialog, &transfer::Form2::sendRequested, dialog,
                     [this, prepared](const QString&) { runSend(prepared); });
    dialog->show();
    platform::centreOnScreen(dialog);
}

void UnitActions::runSend(const transfer::PreparedSend& send) {
    transfer::SendResult result;
    {
        const auto exchange = m_session.link.tryBeginWithoutUnit();
        if (!exchange)
            return;
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        const int total = static_cast<int>(send.text().size());
        m_programTab.sendStarted(total);
        result = transfer::sendProgram(m_session.link, send, [this, total](int index, QChar c) {
            m_programTab.showSending(index, total, c);
        });
        m_programTab.sendEnded();
    }
    platform::Messages& messages = m_session.services.messages;
    if (result.outcome == transfer::SendOutcome::PortClosed)
        messages.show(MessageIcon::Critical, transfer::SendPortClosedMessage);
    else if (result.outcome == transfer::SendOutcome::Stopped)
        messages.show(MessageIcon::Warning, transfer::stoppedSendMessage(result.linesSent));
}

bool UnitActions::rebuildWorkingCopy() {
    program::ProgramDocument& document = m_session.document;
    platform::Messages& messages = m_session.services.messages;
    const QString previous = document.path();
    document.close();
    const files::CopyResult copy =
        m_session.services.fileCopier.copy(m_session.files.templ, m_session.files.workingCopy);
    QString error;
    if (!copy.ok()) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The working copy could not be made from the template (%1); "
                                     "nothing was uploaded.")
                          .arg(copy.detail));
        document.bind(previous, true, &error);
        return false;
    }
    if (!document.bind(m_session.files.workingCopy, true, &error)) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The working copy could not be opened (%1).").arg(error));
        return false;
    }
    return true;
}

void UnitActions::cmdUpload_Click() {
    const auto exchange = m_session.link.tryBegin();
    if (!exchange)
        return;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    platform::Messages& messages = m_session.services.messages;
    if (m_session.document.recordCount().value_or(0) > 0 &&
        messages.show(MessageIcon::Warning, transfer::ReplaceWarning,
                      platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok)
        return;
    if (!rebuildWorkingCopy())
        return;
    m_programTab.showUploadColumns();
    const QString target = m_session.document.path();
    const transfer::UploadedProgram uploaded =
        transfer::uploadProgram(m_session.link, [this] { m_programTab.showUploadStandby(); });
    if (!uploaded.responded)
        return;
    QString error;
    if (m_session.document.path() != target) {
        // Nothing may rebind during the exchange; should it happen, the
        // program read is not written into a file it was not meant for.
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The uploaded program was not stored: another program file "
                                     "was opened while it was read."));
    } else if (!transfer::storeUploadedProgram(m_session.document, uploaded.built, &error)) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The uploaded program could not be stored (%1).").arg(error));
    }
    m_programTab.showProgressColour(false);
    m_programTab.showMemoryText(QString());
    if (!m_session.document.rows().isEmpty())
        m_session.document.setCurrentRow(0);
}

void UnitActions::cmdView_Click() {
    auto exchange = m_session.link.tryBegin();
    if (!exchange)
        return;
    auto* view = new transfer::frmView(m_dialogParent);
    view->show();
    platform::centreOnScreen(view);
    transfer::UnitListing listing;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        listing = transfer::readUnitListing(m_session.link);
        exchange.reset();
    }
    view->showListing(listing);
    if (m_session.link.flooded())
        m_session.services.messages.show(MessageIcon::Critical, m_session.link.lostReason());
    else if (listing.truncated)
        m_session.services.messages.show(MessageIcon::Warning, transfer::ListingTooLongMessage);
    else if (!listing.endedWithQ)
        m_session.services.messages.show(MessageIcon::Warning, transfer::ListingIncompleteMessage);
}

} // namespace kqm::ui
