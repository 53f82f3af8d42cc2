#include "cli/transfer_commands.h"

#include "cli/command_line.h"
#include "cli/interrupt_guard.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "cli/unit_session.h"
#include "files/file_copy.h"
#include "files/program_files.h"
#include "files/settings_table.h"
#include "files/startup.h"
#include "platform/app_paths.h"
#include "program/listing.h"
#include "program/program_document.h"
#include "program/program_table.h"
#include "transfer/pace_test.h"
#include "transfer/proven_pace.h"
#include "transfer/send.h"
#include "transfer/send_operation.h"
#include "transfer/unit_backup.h"
#include "transfer/upload.h"
#include "transfer/verify.h"
#include "transfer/view.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <memory>

#include <unistd.h>

namespace kqm::cli {

namespace {

// What the backup before a send kept, in words.
QString backupSaid(const transfer::UnitBackup& backup) {
    const QString record = QDir::toNativeSeparators(backup.record);
    switch (backup.state) {
    case transfer::UnitBackup::State::Empty:
        return QStringLiteral("The unit held no program (recorded in %1)").arg(record);
    case transfer::UnitBackup::State::Corrupted:
        return QStringLiteral("The unit's memory was corrupted (recorded in %1)").arg(record);
    case transfer::UnitBackup::State::Program:
        break;
    }
    return QStringLiteral("Kept the unit's program in %1").arg(record);
}

// Ctrl+C ends an exchange as Stop Motion does, in whichever phase it comes:
// the flag is looked at while the exchange's waits run the event loop.
void watchForInterrupt(QTimer& watch, link::Link& link) {
    QObject::connect(&watch, &QTimer::timeout, &watch, [&link] {
        if (InterruptGuard::requested())
            link.exchanges().requestStop();
    });
    watch.start(20);
}

// The send's progress on standard error. On a terminal one line is written
// over in place; into a file or a pipe a line goes at each tenth of the send,
// so that a log keeps ten lines, not hundreds; --quiet writes none.
class SendProgress {
public:
    SendProgress(QTextStream& err, double pace, bool quiet)
        : m_err(err), m_pace(pace), m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1) {}

    void setPace(double pace) { m_pace = pace; }
    void line(const QString& text) {
        if (!m_quiet)
            m_err << text << Qt::endl;
    }
    void started(int total) {
        m_total = total;
        if (m_quiet)
            return;
        // Over the phase written in place, if any.
        if (m_inPlace)
            m_err << "\r\033[K";
        m_inPlace = false;
        m_err << "Sending " << total << " characters, " << transfer::paceOfCharacters(m_pace)
              << Qt::endl;
    }
    void sent(int index) {
        if (m_quiet || m_total <= 0)
            return;
        const QString left = transfer::timeLeft(m_total - index - 1, m_pace);
        if (m_terminal) {
            if (index % 10 == 0 || index + 1 == m_total)
                m_err << "\rSending: " << index + 1 << " of " << m_total << " characters, " << left
                      << " left " << Qt::flush;
            return;
        }
        const int tenth = (index + 1) * 10 / m_total;
        if (tenth <= m_tenth)
            return;
        m_tenth = tenth;
        m_err << "Sending: " << index + 1 << " of " << m_total << " characters (" << tenth * 10
              << " %), " << left << " left" << Qt::endl;
    }
    void ended() {
        if (m_terminal && !m_quiet)
            m_err << Qt::endl;
    }
    // A phase of the send: on a terminal written in place, the next phase or
    // the progress over it; into a pipe a line of its own.
    void phase(const QString& text) {
        if (m_quiet)
            return;
        if (m_terminal)
            m_err << "\r\033[K" << text << Qt::flush;
        else
            m_err << text << Qt::endl;
        m_inPlace = m_terminal;
    }
    // The line written in place is done with: what follows starts a new one.
    void endPhase() {
        if (m_inPlace)
            m_err << Qt::endl;
        m_inPlace = false;
    }

private:
    QTextStream& m_err;
    double m_pace;
    bool m_quiet;
    bool m_terminal;
    int m_total = 0;
    int m_tenth = 0;
    bool m_inPlace = false;
};

} // namespace

int sendCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto options = parseLinkOptions(arguments, QStringLiteral("send"), err, true);
    if (!options)
        return UsageError;
    // Refused before the unit is greeted: a file that cannot be sent never
    // stops a unit.
    const transfer::SendProgram program =
        transfer::SendProgram::fromFile(options->file, QString::number(options->axis));
    if (const auto refusal = program.refusal()) {
        err << (refusal->why == transfer::SendRefusal::Why::Unreadable ? "kqmctl: " : "")
            << refusal->text << Qt::endl;
        return refusal->why == transfer::SendRefusal::Why::Unreadable ? UsageError : Failure;
    }
    SendProgress progress(err, transfer::SurePace, options->quiet);
    // A line of its own, so that what the greeting finds follows it.
    progress.line(QStringLiteral("Connecting to %1 (axis %2, %3 baud)")
                      .arg(QDir::toNativeSeparators(options->device))
                      .arg(options->axis)
                      .arg(options->baud));
    UnitSession session(*options, err);
    if (!session.connect())
        return Failure;
    link::Link& link = session.link();
    transfer::SendChoice choice;
    choice.verify = options->verify;
    choice.backup = !options->backupDirectory.isEmpty();
    if (choice.backup)
        choice.backupDirectory = options->backupDirectory;
    choice.pace = options->pace;
    const auto settings = windowSettings();
    const transfer::SendPlaces places = transfer::SendPlaces::of(
        platform::ExecutableAppPaths().userDataDirectory(), settings.get());
    const transfer::SendRequestResult made = transfer::requestSend(link, program, choice, places);
    if (!made.request) {
        err << "kqmctl: " << made.refusal->text << "; nothing was sent" << Qt::endl;
        return made.refusal->why == transfer::SendRefusal::Why::Pace ? UsageError : Failure;
    }
    const transfer::SendRequest& request = *made.request;
    if (!request.pace().note.isEmpty())
        err << "kqmctl: " << request.pace().note << Qt::endl;
    progress.setPace(request.send().pace);
    transfer::SendCallbacks callbacks;
    callbacks.backupStarted = [&progress] {
        progress.phase(QStringLiteral("Keeping the unit's program..."));
    };
    callbacks.readBackStarted = [&progress] {
        progress.phase(QStringLiteral("Reading the program back to compare it..."));
    };
    callbacks.sendStarted = [&progress](int characters) {
        progress.started(characters);
    };
    callbacks.progress = [&progress](int index, QChar) {
        progress.sent(index);
    };
    callbacks.sendEnded = [&progress] {
        progress.ended();
    };
    transfer::SendReport report;
    {
        // Ctrl+C ends the send as Stop Motion does, in whichever phase it comes.
        InterruptGuard interrupt;
        QTimer watch;
        watchForInterrupt(watch, link);
        report = transfer::runSend(link, request, callbacks);
    }
    progress.endPhase();
    if (report.backup && report.backup->ok)
        err << backupSaid(report.backup->backup) << Qt::endl;
    switch (report.end) {
    case transfer::SendEnd::Verified:
        out << "Sent " << program.rowCount() << " lines to the " << session.state().UnitModel
            << " on axis " << session.state().AxisAddress << Qt::endl;
        out << report.message << Qt::endl;
        return Success;
    case transfer::SendEnd::Sent:
        out << report.message << Qt::endl;
        return report.entryLeftOpen ? Failure : Success;
    case transfer::SendEnd::Differs:
        err << "kqmctl: " << report.message << Qt::endl;
        return NotVerified;
    default:
        err << "kqmctl: " << report.message << Qt::endl;
        return Failure;
    }
}

int uploadCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    const auto options = parseLinkOptions(arguments, QStringLiteral("upload"), err);
    if (!options)
        return UsageError;
    if (options->output.isEmpty())
        return usageError(QStringLiteral("upload"), QStringLiteral("--output is required"), err);
    if (QFileInfo::exists(options->output)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << " exists already; choose a new file" << Qt::endl;
        return UsageError;
    }
    UnitSession session(*options, err);
    if (!session.connect())
        return Failure;
    transfer::UploadReport report;
    {
        InterruptGuard interrupt;
        QTimer watch;
        watchForInterrupt(watch, session.link());
        report = transfer::runUpload(
            session.link(), session.messages(),
            {transfer::transferLogPath(platform::ExecutableAppPaths().userDataDirectory()),
             QFileInfo(options->output).absoluteFilePath()});
    }
    if (!report.logError.isEmpty())
        err << "kqmctl: the transfer log could not be written: " << report.logError << Qt::endl;
    if (!report.message.isEmpty())
        err << "kqmctl: " << report.message << Qt::endl;
    const transfer::UploadedProgram& uploaded = report.uploaded;
    if (!uploaded.responded || !uploaded.built.stored)
        return Failure;
    if (uploaded.built.rows.isEmpty()) {
        err << "kqmctl: the unit sent no program line; no file was written" << Qt::endl;
        return Failure;
    }
    // Made whole beside its place, then put there only if the name is still
    // free: a file that appeared meanwhile is never replaced.
    const QFileInfo target(options->output);
    files::PartialFile partial(target.absoluteFilePath());
    QString error;
    if (!partial.open(&error)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << " could not be made: " << error << Qt::endl;
        return Failure;
    }
    platform::ExecutableAppPaths paths;
    const auto files = files::ProgramDirectoryFiles::of(paths);
    program::ProgramDocument document(session.messages());
    if (!files::makeProgramFile(files, partial.fileName(), &error) ||
        !document.bind(partial.fileName(), false, &error) ||
        !transfer::storeUploadedProgram(document, uploaded.built, &error)) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << " could not be made: " << error << Qt::endl;
        return Failure;
    }
    document.close();
    QString why;
    const files::MoveResult moved = partial.moveToTarget(&why);
    if (moved != files::MoveResult::Moved) {
        err << "kqmctl: " << QDir::toNativeSeparators(options->output)
            << (moved == files::MoveResult::NameTaken
                    ? QStringLiteral(" exists already; choose a new file")
                    : QStringLiteral(" could not be made: ") + why)
            << Qt::endl;
        return moved == files::MoveResult::NameTaken ? UsageError : Failure;
    }
    out << "Uploaded " << document.rows().size() << " lines into "
        << QDir::toNativeSeparators(options->output) << Qt::endl;
    return Success;
}

int viewCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(arguments, QStringLiteral("view"), err, &status);
    if (!session)
        return status;
    transfer::ViewReport report;
    {
        InterruptGuard interrupt;
        QTimer watch;
        watchForInterrupt(watch, session->link());
        report = transfer::runView(session->link());
    }
    for (const QString& line : report.listing.lines)
        out << printable(line) << '\n';
    if (report.listing.endedWithQ)
        out << "Q\n";
    out.flush();
    if (!report.message.isEmpty()) {
        err << report.message << Qt::endl;
        return Failure;
    }
    return Success;
}

int paceTestCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    int status = Success;
    const auto session = connectedSession(arguments, QStringLiteral("pace-test"), err, &status);
    if (!session)
        return status;
    const platform::ExecutableAppPaths paths;
    transfer::PaceTestOptions options;
    options.backupDirectory = transfer::axisBackupDirectory(
        transfer::backupRootPath(paths.userDataDirectory()), session->state().AxisAddress.toInt());
    options.logFile = transfer::transferLogPath(paths.userDataDirectory());
    options.provenPacesFile = transfer::provenPacesPath(paths.userDataDirectory());
    transfer::PaceTestCallbacks callbacks;
    callbacks.trialStarted = [&err](double pace, int attempt) {
        err << "Sending the test program at " << pace << " s (" << attempt << " of 2)" << Qt::endl;
    };
    callbacks.trialEnded = [&out](const transfer::PaceTrial& trial) {
        out << trial.pace << '\t' << trial.attempt << '\t'
            << (trial.end == transfer::SendEnd::Verified ? "verified" : "failed") << '\t'
            << QString::number(trial.seconds, 'f', 1) << Qt::endl;
    };
    callbacks.restoring = [&err](double pace) {
        // A Ctrl+C that ended the trials does not end the restore; another does.
        InterruptGuard::clear();
        err << "Sending the unit's own program back at " << pace << " s" << Qt::endl;
    };
    transfer::PaceTestReport report;
    {
        InterruptGuard interrupt;
        QTimer watch;
        watchForInterrupt(watch, session->link());
        report = transfer::runPaceTest(session->link(), session->clock(), options, callbacks);
    }
    if (report.backup && report.backup->ok)
        err << backupSaid(report.backup->backup) << Qt::endl;
    (report.restored ? out : err) << report.message << Qt::endl;
    return report.restored ? Success : Failure;
}

} // namespace kqm::cli
