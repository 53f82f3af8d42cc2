#include "transfer/pace_test.h"

#include "link/link.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "program/command_set.h"
#include "program/listing.h"
#include "transfer/proven_pace.h"
#include "transfer/unit_backup.h"

#include <QDir>

#include <cmath>

namespace kqm::transfer {

namespace {

int sizeOf(const QString& command) {
    return program::knownCommandSize(command).value_or(0);
}

program::ProgramRow row(const QString& command) {
    program::ProgramRow row;
    row.command = command;
    return row;
}

// Reads the rows of a program file; nothing when it cannot be read.
std::optional<QVector<program::ProgramRow>> rowsOf(const QString& path) {
    program::ProgramTable table;
    if (!table.open(path, program::SqliteFile::Mode::ReadOnly))
        return std::nullopt;
    return table.readRows();
}

class PaceTest {
public:
    PaceTest(link::Link& link, const PaceTestOptions& options, const PaceTestCallbacks& callbacks)
        : m_link(link), m_options(options), m_callbacks(callbacks) {}

    PaceTestReport run() {
        if (!keepUnitProgram())
            return m_report;
        QVector<program::ProgramRow> test = paceTestProgram();
        bool stopped = false;
        for (const double pace : paceTestPaces(m_link.state().BaudRate)) {
            bool proven = true;
            for (int attempt = 1; attempt <= 2 && proven; ++attempt) {
                // The same size, another value: what the unit held before
                // cannot pass for this trial's program.
                test.first().command =
                    QStringLiteral("B%1").arg(2000 + static_cast<int>(m_report.trials.size()));
                const PaceTrial trial = send(test, pace, attempt);
                proven = trial.end == SendEnd::Verified;
                stopped = m_link.stopRequested() || m_link.abortRequested();
            }
            if (!proven || stopped)
                break;
            m_report.fastest = pace;
        }
        restore();
        keepFastest(stopped);
        m_report.message = summary(stopped);
        return m_report;
    }

private:
    bool keepUnitProgram() {
        const auto exchange = m_link.tryBegin();
        if (!exchange) {
            m_report.message = QStringLiteral("The pace test needs a connected unit and a free "
                                              "line: nothing was sent.");
            return false;
        }
        m_report.backup =
            backUpUnitProgram(m_link, m_options.backupDirectory, m_link.state().AxisAddress.toInt(),
                              m_link.state().UnitModel, QDateTime::currentDateTime());
        if (m_report.backup->ok && m_report.backup->backup.state == UnitBackup::State::Program &&
            !rowsOf(m_report.backup->backup.programFile)) {
            m_report.backup->ok = false;
            m_report.backup->error = QStringLiteral("the kept program cannot be read back");
        }
        if (m_report.backup->ok)
            return true;
        m_report.message = QStringLiteral("The unit's program could not be kept (%1): the pace "
                                          "test sent nothing, and the unit keeps its program.")
                               .arg(m_report.backup->error);
        return false;
    }

    SendReport sendRows(QVector<program::ProgramRow> rows, double pace, const QString& path,
                        const std::function<void(int)>& started,
                        const std::function<void(int, QChar)>& progress) {
        platform::SilentMessages silent;
        SendTarget target;
        target.send = prepareSend(rows, program::computeListing(rows, silent).programFits,
                                  m_link.state().AxisAddress);
        target.send.pace = pace;
        target.device = m_link.deviceName();
        target.verify = true;
        target.backup = false;
        target.model = m_link.state().UnitModel;
        target.logFile = m_options.logFile;
        target.programPath = path;
        SendCallbacks callbacks;
        callbacks.sendStarted = started;
        callbacks.progress = progress;
        return runSend(m_link, target, callbacks);
    }

    PaceTrial send(const QVector<program::ProgramRow>& rows, double pace, int attempt) {
        if (m_callbacks.trialStarted)
            m_callbacks.trialStarted(pace, attempt);
        PaceTrial trial;
        trial.pace = pace;
        trial.attempt = attempt;
        const double start = m_link.clock().now();
        int total = 0;
        const auto started = [&total](int characters) {
            total = characters;
        };
        const auto progress = [&](int index, QChar) {
            if (m_callbacks.progress && total > 0)
                m_callbacks.progress(index + 1, total);
        };
        trial.end = sendRows(rows, pace, QStringLiteral("(pace test)"), started, progress).end;
        trial.seconds = m_link.clock().now() - start;
        m_report.trials << trial;
        if (m_callbacks.trialEnded)
            m_callbacks.trialEnded(trial);
        return trial;
    }

    void restore() {
        // At the fastest pace just proven, read back as every send here is.
        const double pace = m_report.fastest.value_or(DefaultPace);
        if (m_callbacks.restoring)
            m_callbacks.restoring(pace);
        const UnitBackup& backup = m_report.backup->backup;
        // A unit that held no program (or a corrupted one) is left with the
        // empty program a stopped send leaves: a quit alone.
        QVector<program::ProgramRow> rows{row(QStringLiteral("Q"))};
        QString path = QStringLiteral("(empty program)");
        if (backup.state == UnitBackup::State::Program) {
            const auto kept = rowsOf(backup.programFile);
            if (!kept)
                return; // gone since it was kept: the message names the record
            rows = *kept;
            path = backup.programFile;
        }
        m_report.restored = sendRows(rows, pace, path, {}, {}).end == SendEnd::Verified;
    }

    void keepFastest(bool stopped) {
        if (m_options.provenPacesFile.isEmpty() || (stopped && !m_report.fastest))
            return;
        const PaceKey key = connectedUnitKey(m_link);
        QString error;
        // Proving nothing now forgets what was proven before.
        if (!keepProvenPace(m_options.provenPacesFile, key, m_report.fastest.value_or(0), &error))
            m_keepError = error;
    }

    QString summary(bool stopped) const {
        QString text;
        if (stopped)
            text = QStringLiteral("The pace test was stopped. ");
        if (m_report.fastest)
            text += QStringLiteral("The fastest pace this unit verified twice in a row is %1 s; "
                                   "sends to it offer that pace, always with the read-back.")
                        .arg(*m_report.fastest);
        else if (!stopped)
            text += QStringLiteral("No pace faster than %1 s verified twice in a row: sends to "
                                   "this unit keep the sure pace.")
                        .arg(DefaultPace);
        if (!m_keepError.isEmpty())
            text += QStringLiteral(" The pace could not be kept: %1.").arg(m_keepError);
        const UnitBackup& backup = m_report.backup->backup;
        if (m_report.restored)
            text += QStringLiteral("\n\nThe unit holds its own program again (verified).");
        else
            text += QStringLiteral("\n\nThe unit's own program could not be sent back: it is kept "
                                   "in %1. Send it before you run the unit.")
                        .arg(QDir::toNativeSeparators(backup.state == UnitBackup::State::Program
                                                          ? backup.programFile
                                                          : backup.record));
        return text;
    }

    link::Link& m_link;
    const PaceTestOptions& m_options;
    const PaceTestCallbacks& m_callbacks;
    PaceTestReport m_report;
    QString m_keepError;
};

} // namespace

QVector<program::ProgramRow> paceTestProgram(int memoryBytes) {
    // Values that are set, never moved by: speeds, ramps, waits, a distance.
    const QStringList pattern = {QStringLiteral("B2000"), QStringLiteral("A10"),
                                 QStringLiteral("N1000"), QStringLiteral("W5")};
    QVector<program::ProgramRow> rows;
    int left = memoryBytes - sizeOf(QStringLiteral("Q"));
    for (int i = 0; left > 0; ++i) {
        QString next = pattern.at(i % pattern.size());
        const auto fits = [&left](const QString& command) {
            const int size = sizeOf(command);
            return size > 0 && (left - size == 0 || left - size >= 3);
        };
        if (!fits(next)) {
            const auto other = std::find_if(pattern.begin(), pattern.end(),
                                            [&](const QString& c) { return fits(c); });
            if (other == pattern.end())
                break;
            next = *other;
        }
        rows << row(next);
        left -= sizeOf(next);
    }
    rows << row(QStringLiteral("Q"));
    return rows;
}

QList<double> paceTestPaces(int baudRate) {
    const double character = 10.0 / (baudRate > 0 ? baudRate : 9600);
    // The line's rule, rounded up to a tenth of a millisecond.
    const double shortest = std::ceil(2 * character * 1e4 - 1e-6) / 1e4;
    QList<double> paces;
    for (const double pace : {0.02, 0.01, 0.005, 0.002}) {
        const double kept = std::max(pace, shortest);
        if (paces.isEmpty() || paces.last() > kept)
            paces << kept;
    }
    return paces;
}

PaceTestReport runPaceTest(link::Link& link, const PaceTestOptions& options,
                           const PaceTestCallbacks& callbacks) {
    return PaceTest(link, options, callbacks).run();
}

} // namespace kqm::transfer
