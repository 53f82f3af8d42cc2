#include "main_window/unit_actions.h"

#include "files/file_copy.h"
#include "files/program_files.h"
#include "files/settings_table.h"
#include "link/device_port.h"
#include "link/readout.h"
#include "main_window/motion_tab.h"
#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "platform/window_placement.h"
#include "program/branch_targets.h"
#include "program/command_set.h"
#include "tools/comm_settings.h"
#include "tools/comm_settings_dialog.h"
#include "transfer/proven_pace.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "transfer/send_operation.h"
#include "transfer/unit_backup.h"
#include "transfer/unit_backups_dialog.h"
#include "transfer/upload.h"
#include "transfer/verify.h"
#include "transfer/view.h"
#include "transfer/view_window.h"

#include <QDateTime>
#include <QDir>

namespace kqm::ui {

using platform::MessageIcon;

UnitActions::UnitActions(Session& session, MotionTab& motionTab, ProgramTab& programTab,
                         QWidget* dialogParent)
    : m_session(session), m_motionTab(motionTab), m_programTab(programTab),
      m_dialogParent(dialogParent), m_positionPoll(session.link, session.services.clock) {
    QObject::connect(&m_positionPoll, &link::PositionPoll::positionRead, &motionTab,
                     [&motionTab](const QString& reply) {
                         motionTab.setLabel(link::ReadoutView::Label::Position,
                                            link::positionText(reply));
                     });
    QObject::connect(&m_positionPoll, &link::PositionPoll::followingChanged, &motionTab,
                     &MotionTab::showMoving);
}

void UnitActions::connectAtStartUp() {
    link::Link& link = m_session.link;
    {
        link::Link::Exchange exchange(link);
        if (!m_session.connection.ConnectUnit(files::readCommSettings(m_session.settings)) &&
            link.isPortOpen())
            link.disconnectUnit();
    }
    // Start-up says nothing when no unit answers, but a line that keeps
    // sending is worth knowing about: the settings can be fixed at once.
    if (link.flooded())
        m_session.services.messages.show(MessageIcon::Warning, link.lostReason());
}

void UnitActions::applyModelLayout() {
    if (m_session.linkState().UnitModel == QLatin1String("KQM21"))
        m_motionTab.showKqm21Layout();
}

void UnitActions::cmdConnect_Click() {
    bool connected = false;
    {
        if (m_session.link.exchanges().targetHeld() &&
            m_session.link.exchanges().refuseTargetChange())
            return;
        const auto exchange = m_session.link.exchanges().tryBeginWithoutUnit();
        if (!exchange)
            return;
        connected = m_session.connection.connectAction(files::readCommSettings(m_session.settings));
    }
    if (connected)
        cmdVerifyParameters_Click();
    applyModelLayout();
}

int UnitActions::mnuAxisNum_Click(int index) {
    if (m_session.link.exchanges().refuseTargetChange())
        return link::axisMenuItemFor(m_session.linkState().AxisAddress);
    const int item = m_session.connection.chooseAxis(index);
    files::storeAxisAddress(m_session.settings, m_session.linkState().AxisAddress,
                            m_session.services.messages);
    return item;
}

void UnitActions::mnuCommSettings_Click() {
    if (m_session.link.exchanges().refuseTargetChange())
        return;
    const link::LinkState& state = m_session.linkState();
    int port = state.ComPortNumber;
    int baud = state.BaudRate;
    {
        tools::frmCommSettings dialog(state.ComPortNumber, state.BaudRate,
                                      tools::storedDevices(m_session.settings),
                                      link::availableDevices(), m_dialogParent);
        dialog.setPaces(tools::storedPaces(m_session.settings));
        if (dialog.exec() == QDialog::Accepted)
            tools::storeCommSettingsChoice(dialog.choice(), port, baud, m_session.settings,
                                           m_session.services.messages);
    }
    // The dialog always ends a connection: the next connect uses the new choice.
    m_session.link.choosePort(port, baud);
    if (m_session.link.isPortOpen())
        m_session.link.disconnectUnit();
}

void UnitActions::cmdVerifyParameters_Click() {
    const auto exchange = m_session.link.exchanges().tryBegin();
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
    else if (m_session.motion.startedMotion())
        m_positionPoll.start();
}

void UnitActions::cmdSend_Click() {
    // What is sent is the file as it is; the grid shows it first.
    m_session.document.catchUp();
    offerSend(m_session.document.path());
}

transfer::SendPlaces UnitActions::sendPlaces() const {
    transfer::SendPlaces places =
        transfer::SendPlaces::of(m_session.services.paths.userDataDirectory(), &m_session.settings);
    places.portNumber = m_session.linkState().ComPortNumber;
    return places;
}

void UnitActions::offerSend(const QString& programFile) {
    if (!m_session.linkState().UnitConnected) {
        m_session.link.exchanges().reportNotConnected();
        return;
    }
    // One send at a time, and nothing that could change its target while
    // its dialog is open.
    if (m_sendDialog) {
        m_sendDialog->raise();
        return;
    }
    if (m_session.link.exchanges().refuseWhenBusy())
        return;
    std::optional<transfer::SendProgram> program;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        program = transfer::SendProgram::fromFile(programFile, m_session.linkState().AxisAddress);
    }
    if (const auto refusal = program->buttonRefusal()) {
        m_session.services.messages.show(refusal->icon, refusal->text);
        return;
    }
    files::SettingsTable& settings = m_session.settings;
    const transfer::PreparedSend shown = program->frames();
    auto* dialog = new transfer::Form2(shown.text(), shown.items, m_dialogParent);
    dialog->setWindowModality(Qt::ApplicationModal);
    const transfer::SendPlaces places = sendPlaces();
    link::Link& link = m_session.link;
    dialog->setOptions(
        settings.preferenceOn(files::SettingsTable::VerifySendPreference, true),
        settings.preferenceOn(files::SettingsTable::BackupBeforeSendPreference, true),
        [&link, places](bool verify) {
            transfer::SendChoice choice;
            choice.verify = verify;
            return transfer::paceFor(link, choice, places);
        },
        transfer::sendTargetText(link));
    m_sendDialog = dialog;
    link.exchanges().holdTarget(true);
    QObject::connect(dialog, &QDialog::finished, dialog, [this] {
        m_session.link.exchanges().holdTarget(false);
        m_sendDialog = nullptr;
    });
    QObject::connect(
        dialog, &transfer::Form2::sendRequested, dialog,
        [this, dialog, programFile](const QString& shownText) {
            transfer::SendChoice choice;
            choice.verify = dialog->verifyAfterSend();
            choice.backup = dialog->backupBeforeSend();
            choice.shown = shownText;
            files::SettingsTable& stored = m_session.settings;
            stored.setPreferenceOn(files::SettingsTable::VerifySendPreference, choice.verify);
            stored.setPreferenceOn(files::SettingsTable::BackupBeforeSendPreference, choice.backup);
            // The target stays held until the request is made.
            const transfer::SendProgram program =
                transfer::SendProgram::fromFile(programFile, m_session.linkState().AxisAddress);
            const transfer::SendRequestResult made =
                transfer::requestSend(m_session.link, program, choice, sendPlaces());
            if (!made.request) {
                m_session.services.messages.show(made.refusal->icon, made.refusal->text);
                // Changed since it was shown: the dialog shows the program
                // as the file holds it now and asks again.
                if (made.refusal->why == transfer::SendRefusal::Why::Changed &&
                    !program.buttonRefusal()) {
                    const transfer::PreparedSend now = program.frames();
                    dialog->showProgram(now.text(), now.items);
                    return;
                }
                dialog->close();
                return;
            }
            dialog->close();
            runSend(*made.request, programFile);
        });
    dialog->show();
    platform::centreOnScreen(dialog);
}

QString UnitActions::backupRoot() const {
    return transfer::backupRootPath(m_session.services.paths.userDataDirectory());
}

void UnitActions::runSend(const transfer::SendRequest& request, const QString& programFile) {
    platform::Messages& messages = m_session.services.messages;
    transfer::SendCallbacks callbacks;
    int total = 0;
    callbacks.sendStarted = [this, &total](int characters) {
        total = characters;
        m_programTab.sendStarted(characters);
    };
    callbacks.sendEnded = [this] {
        m_programTab.sendEnded();
    };
    const double pace = request.send().pace;
    const transfer::PreparedSend& frames = request.send();
    callbacks.progress = [this, &total, pace, &frames](int index, QChar c) {
        m_programTab.showSending(index, total, c, pace);
        m_programTab.showSendingLine(transfer::lineOfCharacter(frames, index),
                                     static_cast<int>(frames.lines.size()));
    };
    callbacks.sendWithoutBackup = [&messages](const QString& error) {
        return messages.show(MessageIcon::Warning,
                             QStringLiteral("The unit's program could not be kept before the "
                                            "send (%1). Send anyway and replace it?")
                                 .arg(error),
                             platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes;
    };
    transfer::SendReport report;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        report = transfer::runSend(m_session.link, request, callbacks);
    }
    if (report.message.isEmpty())
        return;
    if (report.fasterPaceFailed && m_session.link.isPortOpen()) {
        // The unit's program was garbled by the pace: sending again at the
        // sure pace needs no backup of it.
        if (messages.show(MessageIcon::Critical,
                          report.message +
                              QStringLiteral("\n\nSend it again now at %1 per character?")
                                  .arg(transfer::paceText(transfer::SurePace)),
                          platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes) {
            transfer::SendChoice again;
            again.backup = false;
            again.pace = transfer::PaceRequest::asking(transfer::SurePace);
            const transfer::SendRequestResult made = transfer::requestSend(
                m_session.link,
                transfer::SendProgram::fromFile(programFile, m_session.linkState().AxisAddress),
                again, sendPlaces());
            if (made.request)
                runSend(*made.request, programFile);
            else
                messages.show(made.refusal->icon, made.refusal->text);
        }
        return;
    }
    // A plain send says nothing on success; a verified one says so.
    if (report.end == transfer::SendEnd::Sent && report.message.startsWith(QLatin1String("Sent ")))
        return;
    const MessageIcon icon =
        report.end == transfer::SendEnd::Verified ? MessageIcon::Information
        : report.end == transfer::SendEnd::NothingSent || report.end == transfer::SendEnd::Stopped
            ? MessageIcon::Warning
            : MessageIcon::Critical;
    messages.show(icon, report.message);
}

void UnitActions::mnuUnitBackups_Click() {
    const QString root = backupRoot();
    std::optional<transfer::UnitBackup> toOpen;
    std::optional<transfer::UnitBackup> toSend;
    {
        transfer::frmUnitBackups dialog(transfer::allBackups(root), root, m_dialogParent);
        QObject::connect(&dialog, &transfer::frmUnitBackups::openRequested, &dialog,
                         [&toOpen](const transfer::UnitBackup& backup) { toOpen = backup; });
        QObject::connect(&dialog, &transfer::frmUnitBackups::sendRequested, &dialog,
                         [&toSend](const transfer::UnitBackup& backup) { toSend = backup; });
        dialog.exec();
    }
    platform::Messages& messages = m_session.services.messages;
    if (toOpen) {
        if (m_session.document.recordCount().value_or(0) > 0 &&
            messages.show(MessageIcon::Warning,
                          QStringLiteral("The current program will be replaced by the kept "
                                         "program. Cancel and use Save Program As... to keep "
                                         "the current one."),
                          platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok)
            return;
        if (rebuildWorkingCopy(toOpen->programFile,
                               QStringLiteral("the kept program was not opened")) &&
            !m_session.document.rows().isEmpty())
            m_session.document.setCurrentRow(0);
        return;
    }
    if (toSend)
        offerSend(toSend->programFile);
}

bool UnitActions::rebuildWorkingCopy(const QString& source, const QString& failure) {
    program::ProgramDocument& document = m_session.document;
    platform::Messages& messages = m_session.services.messages;
    const QString previous = document.path();
    document.close();
    const files::CopyResult copy =
        m_session.services.fileCopier.copy(source, m_session.files.workingCopy);
    QString error;
    if (!copy.ok()) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The working copy could not be made from %1 (%2); %3.")
                          .arg(source == m_session.files.templ ? QStringLiteral("the template")
                                                               : QDir::toNativeSeparators(source),
                               copy.detail, failure));
        document.bind(previous, true, &error);
        return false;
    }
    if (source == m_session.files.templ)
        files::startWithoutHistory(m_session.files.workingCopy);
    if (!document.bind(m_session.files.workingCopy, true, &error)) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The working copy could not be opened (%1).").arg(error));
        return false;
    }
    return true;
}

void UnitActions::cmdUpload_Click() {
    if (!m_session.linkState().UnitConnected) {
        m_session.link.exchanges().reportNotConnected();
        return;
    }
    if (m_session.link.exchanges().refuseWhenBusy())
        return;
    platform::Messages& messages = m_session.services.messages;
    if (m_session.document.recordCount().value_or(0) > 0 &&
        messages.show(MessageIcon::Warning, transfer::ReplaceWarning,
                      platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok)
        return;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    program::ProgramDocument& document = m_session.document;
    quint64 binding = document.binding();
    // The upload goes into the working copy, whatever file is open now.
    const transfer::UploadReport report = transfer::runUpload(
        m_session.link, m_session.services.messages,
        {transfer::transferLogPath(m_session.services.paths.userDataDirectory()),
         m_session.files.workingCopy},
        [this] { m_programTab.showUploadStandby(); });
    if (!report.logError.isEmpty())
        messages.show(
            MessageIcon::Warning,
            QStringLiteral("The transfer log could not be written (%1).").arg(report.logError));
    if (!report.uploaded.responded) {
        // Nothing was read: the program stays as it was.
        m_programTab.showProgressColour(false);
        document.refresh();
        if (!report.message.isEmpty())
            messages.show(MessageIcon::Critical, report.message);
        return;
    }
    // The upload replaces the program being edited as one step of its undo
    // history, so that Undo gives that program back: in the working copy,
    // made from the open named file first (with its history).
    if (!document.isBound() || !files::sameFile(document.path(), m_session.files.workingCopy)) {
        if (document.binding() != binding ||
            !rebuildWorkingCopy(document.isBound() ? document.path() : m_session.files.templ,
                                QStringLiteral("nothing was uploaded")))
            return;
        binding = document.binding();
    }
    m_programTab.showUploadColumns();
    QString error;
    if (!transfer::storeUploadedProgram(document, report.uploaded.built, &error, binding)) {
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The uploaded program could not be stored (%1).").arg(error));
    }
    m_programTab.showProgressColour(false);
    m_programTab.showMemoryText(document.memoryText());
    if (!document.rows().isEmpty())
        document.setCurrentRow(0);
}

void UnitActions::cmdView_Click() {
    if (!m_session.linkState().UnitConnected) {
        m_session.link.exchanges().reportNotConnected();
        return;
    }
    if (m_session.link.exchanges().refuseWhenBusy())
        return;
    auto* view = new transfer::frmView(m_dialogParent);
    QObject::connect(view, &transfer::frmView::stopMotionRequested, view,
                     [this] { runMotion(link::MotionControl::StopAll); });
    view->show();
    platform::centreOnScreen(view);
    transfer::ViewReport report;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        report = transfer::runView(m_session.link);
    }
    view->showListing(report.listing);
    if (!report.message.isEmpty())
        m_session.services.messages.show(
            report.critical ? MessageIcon::Critical : MessageIcon::Warning, report.message);
}

} // namespace kqm::ui
