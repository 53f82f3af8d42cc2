#include "transfer/pace_test.h"

#include "link/link.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "program/command_set.h"
#include "program/listing.h"
#include "transfer/proven_pace.h"
#include "transfer/unit_backup.h"

#include <QDir>

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

const QString NeedsUnitMessage =
    QStringLiteral("The pace test needs a connected unit and a free line: nothing was sent.");

class PaceTest {
public:
    PaceTest(link::Link& link, const platform::Clock& clock, const PaceTestOptions& options,
             const PaceTestCallbacks& callbacks)
        : m_link(link), m_clock(clock), m_options(options), m_callbacks(callbacks) {}

    PaceTestReport run() {
        if (!m_link.state().UnitConnected) {
            m_report.message = NeedsUnitMessage;
            return m_report;
        }
        // The whole test is one long exchange: nothing else writes to the
        // line between its sends.
        auto held = m_link.exchanges().tryBeginLong(QStringLiteral("a pace test"));
        if (!held) {
            m_report.message = NeedsUnitMessage;
            return m_report;
        }
        m_held = &*held;
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
                stopped = held->stopped() || m_link.exchanges().stopRequested() ||
                          m_link.exchanges().abortRequested();
            }
            if (!proven || stopped)
                break;
            m_report.fastest = pace;
        }
        // The Stop that ended the trials does not end the restore; another does.
        held->forgetStop();
        restore();
        keepFastest(stopped);
        m_report.message = summary(stopped);
        return m_report;
    }

private:
    bool keepUnitProgram() {
        const auto exchange = m_link.exchanges().tryBeginWithoutUnit(m_held);
        if (!exchange) {
            m_report.message = NeedsUnitMessage;
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

    SendReport sendProgram(const SendProgram& program, const PaceRequest& pace,
                           const std::function<void(int)>& started,
                           const std::function<void(int, QChar)>& progress) {
        SendChoice choice;
        choice.backup = false;
        choice.pace = pace;
        SendPlaces places;
        places.logFile = m_options.logFile;
        const SendRequestResult made = requestSend(m_link, program, choice, places);
        if (!made.request) {
            SendReport refused;
            refused.message = made.refusal->text;
            return refused;
        }
        SendCallbacks callbacks;
        callbacks.sendStarted = started;
        callbacks.progress = progress;
        return runSend(m_link, *made.request, callbacks, m_held);
    }

    PaceTrial send(const QVector<program::ProgramRow>& rows, double pace, int attempt) {
        if (m_callbacks.trialStarted)
            m_callbacks.trialStarted(pace, attempt);
        PaceTrial trial;
        trial.pace = pace;
        trial.attempt = attempt;
        const double start = m_clock.now();
        int total = 0;
        const auto started = [&total](int characters) {
            total = characters;
        };
        const auto progress = [&](int index, QChar) {
            if (m_callbacks.progress && total > 0)
                m_callbacks.progress(index + 1, total);
        };
        const SendProgram program =
            SendProgram::fromRows(rows, QStringLiteral("(pace test)"), m_link.state().AxisAddress);
        trial.end = sendProgram(program, PaceRequest::trial(pace), started, progress).end;
        trial.seconds = m_clock.now() - start;
        m_report.trials << trial;
        if (m_callbacks.trialEnded)
            m_callbacks.trialEnded(trial);
        return trial;
    }

    void restore() {
        // At the fastest pace just proven, read back as every send here is.
        const double pace = m_report.fastest.value_or(SurePace);
        if (m_callbacks.restoring)
            m_callbacks.restoring(pace);
        const UnitBackup& backup = m_report.backup->backup;
        // A unit that held no program (or a corrupted one) is left with the
        // empty program a stopped send leaves: a quit alone.
        const QString& axis = m_link.state().AxisAddress;
        const SendProgram program =
            backup.state == UnitBackup::State::Program
                ? SendProgram::fromFile(backup.programFile, axis)
                : SendProgram::fromRows({row(QStringLiteral("Q"))},
                                        QStringLiteral("(empty program)"), axis);
        m_report.restored =
            sendProgram(program, PaceRequest::trial(pace), {}, {}).end == SendEnd::Verified;
    }

    void keepFastest(bool stopped) {
        if (m_options.provenPacesFile.isEmpty() || (stopped && !m_report.fastest))
            return;
        const PaceKey key = connectedUnitKey(m_link);
        QString error;
        // Proving nothing now forgets what was proven before.
        if (!keepProvenPace(m_options.provenPacesFile, key, m_report.fastest, &error))
            m_keepError = error;
    }

    QString summary(bool stopped) const {
        QString text;
        if (stopped)
            text = QStringLiteral("The pace test was stopped. ");
        if (m_report.fastest)
            text += QStringLiteral("The fastest pace this unit verified twice in a row is %1; "
                                   "sends to it offer that pace, always with the read-back.")
                        .arg(paceText(*m_report.fastest));
        else if (!stopped)
            text += QStringLiteral("No pace faster than %1 s verified twice in a row: sends to "
                                   "this unit keep the sure pace.")
                        .arg(SurePace);
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
    const platform::Clock& m_clock;
    const PaceTestOptions& m_options;
    const PaceTestCallbacks& m_callbacks;
    PaceTestReport m_report;
    QString m_keepError;
    const link::Link::LongExchange* m_held = nullptr;
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

PaceTestReport runPaceTest(link::Link& link, const platform::Clock& clock,
                           const PaceTestOptions& options, const PaceTestCallbacks& callbacks) {
    return PaceTest(link, clock, options, callbacks).run();
}

} // namespace kqm::transfer
