#include "transfer/send_operation.h"

#include "link/link.h"

#include <QDir>

namespace kqm::transfer {

namespace {

class SendRun {
public:
    SendRun(link::Link& link, const SendRequest& request, const SendCallbacks& callbacks)
        : m_link(link), m_request(request), m_callbacks(callbacks), m_send(request.send()) {}

    SendReport run(const QDateTime& now) {
        if (!m_link.isPortOpen() || !m_link.state().UnitConnected)
            return nothingSent(NothingSentClosedMessage);
        if (m_request.device() != m_link.deviceName() || m_send.axis != m_link.state().AxisAddress)
            return nothingSent(TargetChangedMessage);
        if (m_request.backup() && !keepUnitProgram(now))
            return m_report;
        if (m_link.exchanges().interrupted())
            return nothingSent(NothingSentStoppedMessage);
        if (!m_link.isPortOpen())
            return nothingSent(NothingSentClosedMessage);
        send();
        if (m_report.end == SendEnd::Sent && m_request.verify())
            verify();
        leaveEntryEnded();
        return m_report;
    }

private:
    SendReport nothingSent(const QString& message) {
        m_report.end = SendEnd::NothingSent;
        m_report.message = message;
        return m_report;
    }

    // Read before the opening frame, while the unit still holds it.
    bool keepUnitProgram(const QDateTime& now) {
        const int axis = m_send.axis.toInt();
        if (m_callbacks.backupStarted)
            m_callbacks.backupStarted();
        m_report.backup =
            backUpUnitProgram(m_link, m_request.backupDirectory(), axis, m_request.model(), now);
        if (m_link.exchanges().interrupted()) {
            nothingSent(NothingSentStoppedMessage);
            return false;
        }
        if (m_link.flooded()) {
            m_report.flooded = true;
            nothingSent(m_link.lostReason() +
                        QStringLiteral(" Nothing was sent, and the unit keeps its program."));
            return false;
        }
        if (m_report.backup->ok)
            return true;
        const QString why =
            QStringLiteral("The unit's program could not be kept before the send (%1): nothing "
                           "was sent, and the unit keeps its program.")
                .arg(m_report.backup->error);
        // A unit that did not answer, or a port that went away: nothing can
        // be sent to it now.
        if (!m_link.isPortOpen() || m_report.backup->unitSilent) {
            nothingSent(why);
            return false;
        }
        if (!m_callbacks.sendWithoutBackup ||
            !m_callbacks.sendWithoutBackup(m_report.backup->error)) {
            nothingSent(why);
            return false;
        }
        return true;
    }

    void send() {
        const int total = static_cast<int>(m_send.text().size());
        int written = 0;
        if (m_callbacks.sendStarted)
            m_callbacks.sendStarted(total);
        const SendResult result = sendProgram(m_link, m_send, [&](int index, QChar c) {
            written = index + 1;
            if (m_callbacks.progress)
                m_callbacks.progress(index, c);
        });
        if (m_callbacks.sendEnded)
            m_callbacks.sendEnded();
        m_report.linesSent = result.linesSent;
        switch (result.outcome) {
        case SendOutcome::PortClosed:
            if (written == 0) {
                nothingSent(NothingSentClosedMessage);
            } else {
                m_report.end = SendEnd::PortClosed;
                m_report.message = SendPortClosedMessage;
            }
            return;
        case SendOutcome::Stopped:
            m_report.end = SendEnd::Stopped;
            m_report.message = stoppedSendMessage(result.linesSent);
            return;
        case SendOutcome::Sent:
            break;
        }
        if (m_link.exchanges().interrupted()) {
            // Stopped as the last line went out: the program is in whole.
            m_report.end = m_request.verify() ? SendEnd::SentNotVerified : SendEnd::Sent;
            m_report.message = m_request.verify() ? notVerifiedMessage() : SentWholeStoppedMessage;
            return;
        }
        m_report.end = SendEnd::Sent;
        m_report.message = QStringLiteral("Sent %1 lines to the %2 on axis %3")
                               .arg(m_send.commands.size())
                               .arg(m_link.state().UnitModel, m_send.axis);
    }

    void verify() {
        if (m_callbacks.readBackStarted)
            m_callbacks.readBackStarted();
        m_report.verification = verifySend(m_link, m_send);
        const Verification& verification = *m_report.verification;
        if (m_link.exchanges().interrupted() && !verification.verified()) {
            m_report.end = SendEnd::SentNotVerified;
            m_report.message = notVerifiedMessage();
            return;
        }
        m_report.message = verification.message;
        if (verification.verified()) {
            m_report.end = SendEnd::Verified;
            return;
        }
        m_report.flooded = m_link.flooded();
        m_report.end = verification.outcome == Verification::Outcome::Differs
                           ? SendEnd::Differs
                           : SendEnd::SentNotVerified;
        if (m_send.pace < SurePace && !m_report.flooded) {
            m_report.fasterPaceFailed = true;
            m_report.message += QStringLiteral("\n\n") + fasterPaceFailedMessage(m_send.pace);
            if (m_request.pace().proven)
                forgetProvenPace();
        }
    }

    // A pace the unit proved that now loses characters is proven no longer:
    // the next send goes at the sure pace until the unit proves one again.
    void forgetProvenPace() {
        const QString& file = m_request.provenPacesFile();
        if (file.isEmpty())
            return;
        QString error;
        m_report.provenPaceForgotten = keepProvenPace(file, m_request.unit(), std::nullopt, &error);
        m_report.message +=
            m_report.provenPaceForgotten
                ? QStringLiteral(" The pace this unit had proved (%1) is proven no longer: the "
                                 "next send goes at %2 until the unit proves a pace again.")
                      .arg(paceText(m_send.pace), paceText(SurePace))
                : QStringLiteral(" The proven pace could not be forgotten: %1.").arg(error);
    }

    // Whatever happened, the unit is not left in program entry while the
    // port is there to end it; when it does not answer afterwards, say so.
    void leaveEntryEnded() {
        if (!m_link.farEnd().entryMayBeOpen() || !m_link.isPortOpen())
            return;
        if (!m_link.recovery().endProgramEntry()) {
            m_report.entryLeftOpen = true;
            m_report.message += EntryLeftOpenMessage;
        }
    }

    QString notVerifiedMessage() const {
        return m_send.pace < SurePace ? NotVerifiedFasterMessage : NotVerifiedStoppedMessage;
    }

    link::Link& m_link;
    const SendRequest& m_request;
    const SendCallbacks& m_callbacks;
    PreparedSend m_send;
    SendReport m_report;
};

} // namespace

SendReport runSend(link::Link& link, const SendRequest& request, const SendCallbacks& callbacks,
                   const link::Link::LongExchange* within, const QDateTime& now) {
    const auto exchange = link.exchanges().tryBeginWithoutUnit(within);
    if (!exchange)
        return {}; // the link has said why: another exchange runs

    SendReport report = SendRun(link, request, callbacks).run(now);
    if (!request.logFile().isEmpty()) {
        TransferLogEntry entry = linkLogEntry(link, QStringLiteral("send"));
        entry.device = request.device();
        entry.program = request.programPath();
        entry.sha256 = sha256Of(request.send().text());
        entry.pace = request.send().pace;
        entry.result = logResultOf(report);
        if (report.backup && report.backup->ok)
            entry.backup = report.backup->backup.record;
        QString error;
        if (!appendTransferLog(request.logFile(), entry, &error))
            report.message += QStringLiteral("\n\nThe transfer log %1 could not be written: %2")
                                  .arg(QDir::toNativeSeparators(request.logFile()), error);
    }
    return report;
}

QString logResultOf(const SendReport& report) {
    switch (report.end) {
    case SendEnd::Verified:
        return QStringLiteral("verified");
    case SendEnd::Sent:
    case SendEnd::SentNotVerified:
        return QStringLiteral("sent-unverified");
    case SendEnd::Stopped:
        return QStringLiteral("stopped");
    case SendEnd::NothingSent:
    case SendEnd::Differs:
    case SendEnd::PortClosed:
        break;
    }
    QString why = report.message.section(QLatin1Char('\n'), 0, 0);
    return QStringLiteral("failed: ") + why;
}

TransferLogEntry linkLogEntry(link::Link& link, const QString& kind) {
    TransferLogEntry entry = newLogEntry(kind);
    const link::LinkState& state = link.state();
    entry.port = QStringLiteral("COM %1").arg(state.ComPortNumber);
    entry.device = link.deviceName();
    entry.axis = state.AxisAddress.toInt();
    entry.model = state.UnitModel;
    entry.revision = state.UnitRevision;
    return entry;
}

} // namespace kqm::transfer
