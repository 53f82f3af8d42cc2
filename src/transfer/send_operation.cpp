#include "transfer/send_operation.h"

#include "link/link.h"

#include <QDir>

namespace kqm::transfer {

double allowedPace(double pace, bool verify, int baudRate) {
    if (!verify || pace >= DefaultPace)
        return DefaultPace;
    const double character = 10.0 / (baudRate > 0 ? baudRate : 9600);
    return pace >= 2 * character ? pace : DefaultPace;
}

QList<double> pacesFor(int baudRate) {
    QList<double> paces;
    for (const double pace : SendPaces) {
        if (allowedPace(pace, true, baudRate) == pace)
            paces << pace;
    }
    return paces;
}

namespace {

class SendRun {
public:
    SendRun(link::Link& link, const SendTarget& target, const SendCallbacks& callbacks)
        : m_link(link), m_target(target), m_callbacks(callbacks), m_send(target.send) {
        m_send.pace = allowedPace(target.send.pace, target.verify, link.state().BaudRate);
    }

    SendReport run(const QDateTime& now) {
        if (!m_link.isPortOpen() || !m_link.state().UnitConnected)
            return nothingSent(NothingSentClosedMessage);
        if (m_target.device != m_link.deviceName() ||
            m_target.send.axis != m_link.state().AxisAddress)
            return nothingSent(TargetChangedMessage);
        if (m_target.backup && !keepUnitProgram(now))
            return m_report;
        if (m_link.sendInterrupted())
            return nothingSent(NothingSentStoppedMessage);
        if (!m_link.isPortOpen())
            return nothingSent(NothingSentClosedMessage);
        send();
        if (m_report.end == SendEnd::Sent && m_target.verify)
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
        m_report.backup =
            backUpUnitProgram(m_link, m_target.backupDirectory, axis, m_target.model, now);
        if (m_link.sendInterrupted()) {
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
        // A unit that did not answer has been disconnected: nothing can be
        // sent to it now.
        if (!m_link.isPortOpen()) {
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
        if (m_link.sendInterrupted() && m_target.verify) {
            // Stopped after the last line went out.
            m_report.end = SendEnd::SentNotVerified;
            m_report.message = notVerifiedMessage();
            return;
        }
        m_report.end = SendEnd::Sent;
        m_report.message = QStringLiteral("Sent %1 lines to the %2 on axis %3")
                               .arg(m_send.commands.size())
                               .arg(m_link.state().UnitModel, m_send.axis);
    }

    void verify() {
        m_report.verification = verifySend(m_link, m_send);
        const Verification& verification = *m_report.verification;
        if (m_link.sendInterrupted() && !verification.verified()) {
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
        if (m_send.pace < DefaultPace && !m_report.flooded) {
            m_report.fasterPaceFailed = true;
            m_report.message += QStringLiteral("\n\n") + fasterPaceFailedMessage(m_send.pace);
        }
    }

    // Whatever happened, the unit is not left in program entry while the
    // port is there to end it; when it does not answer afterwards, say so.
    void leaveEntryEnded() {
        if (!m_link.programEntryMayBeOpen() || !m_link.isPortOpen())
            return;
        if (!m_link.endProgramEntry()) {
            m_report.entryLeftOpen = true;
            m_report.message += EntryLeftOpenMessage;
        }
    }

    QString notVerifiedMessage() const {
        return m_send.pace < DefaultPace ? NotVerifiedFasterMessage : NotVerifiedStoppedMessage;
    }

    link::Link& m_link;
    const SendTarget& m_target;
    const SendCallbacks& m_callbacks;
    PreparedSend m_send;
    SendReport m_report;
};

} // namespace

SendReport runSend(link::Link& link, const SendTarget& target, const SendCallbacks& callbacks,
                   const QDateTime& now) {
    const auto exchange = link.tryBeginWithoutUnit();
    if (!exchange)
        return {}; // the link has said why: another exchange runs

    SendReport report = SendRun(link, target, callbacks).run(now);
    if (!target.logFile.isEmpty()) {
        TransferLogEntry entry = linkLogEntry(link, QStringLiteral("send"));
        entry.device = target.device;
        entry.program = target.programPath;
        entry.sha256 = sha256Of(target.send.text());
        entry.pace = target.send.pace;
        entry.result = logResultOf(report);
        if (report.backup && report.backup->ok)
            entry.backup = report.backup->backup.record;
        QString error;
        if (!appendTransferLog(target.logFile, entry, &error))
            report.message += QStringLiteral("\n\nThe transfer log %1 could not be written: %2")
                                  .arg(QDir::toNativeSeparators(target.logFile), error);
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
