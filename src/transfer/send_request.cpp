#include "transfer/send_request.h"

#include "link/link.h"
#include "platform/messages.h"
#include "program/listing.h"
#include "transfer/send_operation.h"
#include "transfer/transfer_log.h"
#include "transfer/unit_backup.h"

#include <QDir>
#include <QFileInfo>

namespace kqm::transfer {

using platform::MessageIcon;
using Why = SendRefusal::Why;

SendProgram SendProgram::fromFile(const QString& path, const QString& axisAddress) {
    SendProgram program;
    program.m_path = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    program::ProgramTable table;
    std::optional<QVector<program::ProgramRow>> rows;
    if (table.open(path, program::SqliteFile::Mode::ReadOnly))
        rows = table.readRows();
    if (!rows) {
        program.m_buttonRefusal = SendRefusal{
            Why::Unreadable,
            QStringLiteral("The program file %1 could not be read, so nothing was sent: %2")
                .arg(QDir::toNativeSeparators(path),
                     table.isOpen() ? table.file().lastError() : table.openFailure(path))};
        return program;
    }
    program.prepare(*rows, axisAddress);
    return program;
}

SendProgram SendProgram::fromRows(const QVector<program::ProgramRow>& rows, const QString& name,
                                  const QString& axisAddress) {
    SendProgram program;
    program.m_path = name;
    program.prepare(rows, axisAddress);
    return program;
}

void SendProgram::prepare(const QVector<program::ProgramRow>& rows, const QString& axisAddress) {
    m_rows = static_cast<int>(rows.size());
    // The size check follows the rows that are sent, whatever a window
    // showed of them.
    QVector<program::ProgramRow> sized = rows;
    platform::SilentMessages silent;
    const bool fits = program::computeListing(sized, silent).programFits;
    if (rows.isEmpty()) {
        m_buttonRefusal = SendRefusal{Why::Empty, QStringLiteral("The program is empty.")};
        return;
    }
    if (!fits) {
        m_buttonRefusal = SendRefusal{
            Why::TooLarge,
            QStringLiteral("The program size exceeds available memory.  The program cannot be "
                           "sent until total memory usage is reduced to 2047 bytes or less.")};
        return;
    }
    m_frames = prepareSend(rows, axisAddress);
    if (m_frames.refusal)
        m_buttonRefusal = SendRefusal{Why::Line, *m_frames.refusal};
}

std::optional<SendRefusal> SendProgram::refusal() const {
    if (m_buttonRefusal)
        return m_buttonRefusal;
    if (!endsWithQuit(m_frames.text()))
        return SendRefusal{Why::NoQuit, QuitRequiredMessage, MessageIcon::None};
    return std::nullopt;
}

SendPlaces SendPlaces::of(const QString& userDataDirectory, files::SettingsTable* settings) {
    SendPlaces places;
    places.backupRoot = backupRootPath(userDataDirectory);
    places.logFile = transferLogPath(userDataDirectory);
    places.provenPacesFile = provenPacesPath(userDataDirectory);
    places.settings = settings;
    return places;
}

namespace {

PaceInputs paceInputs(link::Link& link, const SendChoice& choice, const SendPlaces& places) {
    const link::LinkState& state = link.state();
    PaceInputs inputs;
    inputs.asked = choice.pace;
    inputs.verify = choice.verify;
    inputs.baudRate = state.BaudRate;
    if (places.settings)
        inputs.portPace = storedPortPace(*places.settings, places.portNumber, link.deviceName());
    if (!places.provenPacesFile.isEmpty())
        inputs.proven = provenPace(places.provenPacesFile, connectedUnitKey(link));
    inputs.unit = QStringLiteral("the %1 on axis %2 at %3, %4 baud")
                      .arg(state.UnitModel, state.AxisAddress, link.deviceName())
                      .arg(state.BaudRate);
    return inputs;
}

} // namespace

PaceDecision paceFor(link::Link& link, const SendChoice& choice, const SendPlaces& places) {
    return choosePace(paceInputs(link, choice, places));
}

SendRequestResult requestSend(link::Link& link, const SendProgram& program,
                              const SendChoice& choice, const SendPlaces& places) {
    const link::LinkState& state = link.state();
    const auto refused = [](SendRefusal refusal) {
        SendRequestResult result;
        result.refusal = std::move(refusal);
        return result;
    };
    if (!state.UnitConnected || !link.isPortOpen())
        return refused({Why::NotConnected, link::notConnectedMessage(), MessageIcon::None});
    if (const auto refusal = program.refusal())
        return refused(*refusal);
    if (choice.shown && *choice.shown != program.frames().text()) {
        return refused({Why::Changed,
                        QStringLiteral("The program changed after the send was opened, so "
                                       "nothing was sent. The send now lists the program as "
                                       "it is: press OK to send that."),
                        MessageIcon::Warning});
    }
    if (program.frames().axis != state.AxisAddress)
        return refused({Why::Target, TargetChangedMessage, MessageIcon::Warning});
    const PaceDecision pace = paceFor(link, choice, places);
    if (pace.refusal)
        return refused({Why::Pace, *pace.refusal});

    SendRequest request;
    request.m_send = program.frames();
    request.m_send.pace = pace.pace;
    request.m_pace = pace;
    // A pace faster than the sure one goes only with the read-back, which
    // the policy has already said; a trial is always read back.
    request.m_verify = choice.verify || pace.pace < SurePace;
    request.m_backup = choice.backup;
    request.m_backupDirectory = choice.backupDirectory.value_or(
        places.backupRoot.isEmpty()
            ? QString()
            : axisBackupDirectory(places.backupRoot, state.AxisAddress.toInt()));
    if (request.m_backupDirectory.isEmpty())
        request.m_backup = false;
    request.m_device = link.deviceName();
    request.m_model = state.UnitModel;
    request.m_logFile = places.logFile;
    request.m_programPath = program.path();
    request.m_provenPacesFile = places.provenPacesFile;
    request.m_unit = connectedUnitKey(link);
    SendRequestResult result;
    result.request = std::move(request);
    return result;
}

QString sendTargetText(link::Link& link) {
    const link::LinkState& state = link.state();
    return QStringLiteral("%1 on axis %2, COM %3: %4")
        .arg(state.UnitModel, state.AxisAddress)
        .arg(state.ComPortNumber)
        .arg(QDir::toNativeSeparators(link.deviceName()));
}

} // namespace kqm::transfer
