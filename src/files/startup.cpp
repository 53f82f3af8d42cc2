#include "files/startup.h"

#include "files/file_copy.h"
#include "files/program_files.h"
#include "files/settings_table.h"
#include "platform/app_paths.h"
#include "platform/messages.h"
#include "program/program_table.h"

#include <QDir>
#include <QFileInfo>

namespace kqm::files {

using platform::MessageIcon;
using platform::Messages;
using program::ProgramTable;

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

void reportMovedAside(Messages& messages, const QString& what, const QString& path,
                      const QString& reason, const QString& aside, const QString& remedy) {
    QString text =
        QStringLiteral("The %1 %2 could not be read (%3).").arg(what, native(path), reason);
    if (!aside.isEmpty())
        text += QStringLiteral("\n\nIt has been moved to %1 and %2.").arg(native(aside), remedy);
    else
        text += QStringLiteral("\n\nIt could not be moved aside; %1.").arg(remedy);
    messages.show(MessageIcon::Warning, text);
}

enum class SettingsState { Opened, Created, Failed };

// A file that cannot be opened as what it should be is moved aside, never
// deleted, and a fresh one takes its place.
SettingsState openSettings(const ProgramDirectoryFiles& files, SettingsTable& settings,
                           Messages& messages) {
    if (QFileInfo::exists(files.settings) && settings.open(files.settings))
        return SettingsState::Opened;
    if (QFileInfo::exists(files.settings)) {
        const QString reason = settings.lastError();
        const QString aside = moveAside(files.settings);
        reportMovedAside(messages, QStringLiteral("settings file"), files.settings, reason, aside,
                         QStringLiteral("new settings with default values have been made"));
    }
    QString error;
    if (!SettingsTable::createDefaultFile(files.settings, &error) ||
        !settings.open(files.settings)) {
        if (error.isEmpty())
            error = settings.lastError();
        messages.show(MessageIcon::Critical,
                      QStringLiteral("The settings file %1 could not be made (%2). Settings will "
                                     "not be kept.")
                          .arg(native(files.settings), error));
        return SettingsState::Failed;
    }
    return SettingsState::Created;
}

bool isProgramFile(const QString& path, QString* reason) {
    // Opened for writing: a run that was killed mid-write leaves a journal
    // that only a writer can roll back; a read-only look would call the file
    // damaged and the recovery would lose it.
    ProgramTable table;
    if (table.open(path, program::SqliteFile::Mode::ReadWrite))
        return true;
    if (reason)
        *reason = table.lastError();
    return false;
}

bool ensureTemplate(const ProgramDirectoryFiles& files, Messages& messages) {
    QString reason;
    if (QFileInfo::exists(files.templ)) {
        if (isProgramFile(files.templ, &reason))
            return true;
        const QString aside = moveAside(files.templ);
        reportMovedAside(messages, QStringLiteral("program template"), files.templ, reason, aside,
                         files.shippedTemplate.isEmpty()
                             ? QStringLiteral("a new empty template has been made")
                             : QStringLiteral("a new template has been made"));
    }
    // The shipped template is read-only; the copy is the user's own, made
    // writable as every new file.
    if (!files.shippedTemplate.isEmpty() &&
        copyFileReplacing(files.shippedTemplate, files.templ).ok() &&
        isProgramFile(files.templ, nullptr))
        return true;
    if (ProgramTable::createEmptyProgramFile(files.templ, &reason))
        return true;
    messages.show(MessageIcon::Critical, QStringLiteral("The program template %1 could not be "
                                                        "made (%2).")
                                             .arg(native(files.templ), reason));
    return false;
}

bool freshWorkingCopy(const ProgramDirectoryFiles& files, Messages& messages) {
    const CopyResult copy = copyFileReplacing(files.templ, files.workingCopy);
    if (copy.ok() && startWithoutHistory(files.workingCopy))
        return true;
    QString reason;
    if (isProgramFile(files.workingCopy, &reason)) {
        messages.show(MessageIcon::Warning,
                      QStringLiteral("A new working copy could not be made (%1). The working "
                                     "copy %2 of the last run is used instead.")
                          .arg(copy.detail, native(files.workingCopy)));
        return true;
    }
    messages.show(MessageIcon::Critical, QStringLiteral("The working copy %1 could not be made "
                                                        "(%2).")
                                             .arg(native(files.workingCopy), copy.detail));
    return false;
}

bool recoveredWorkingCopy(const ProgramDirectoryFiles& files, Messages& messages) {
    if (!QFileInfo::exists(files.workingCopy))
        return freshWorkingCopy(files, messages);
    QString reason;
    if (isProgramFile(files.workingCopy, &reason))
        return true;
    const QString aside = moveAside(files.workingCopy);
    reportMovedAside(messages, QStringLiteral("working copy"), files.workingCopy, reason, aside,
                     QStringLiteral("an empty program has been started"));
    return freshWorkingCopy(files, messages);
}

} // namespace

ProgramDirectoryFiles ProgramDirectoryFiles::of(const platform::AppPaths& paths) {
    ProgramDirectoryFiles files = in(paths.programDirectory());
    files.shippedTemplate = paths.shippedTemplate();
    return files;
}

ProgramDirectoryFiles ProgramDirectoryFiles::in(const QString& directory) {
    ProgramDirectoryFiles files;
    files.directory = directory;
    files.settings = directory + QStringLiteral("/config.kqm");
    files.templ = directory + QStringLiteral("/blank.kqm");
    files.workingCopy = directory + QStringLiteral("/temp.mdb");
    return files;
}

DirectoryClaim claimProgramDirectory(const ProgramDirectoryFiles& files) {
    DirectoryClaim claim;
    QDir().mkpath(files.directory);
    auto lock = std::make_unique<QLockFile>(files.directory + QStringLiteral("/kqm-indexer.lock"));
    // Only a lock whose process is gone is stale, however old it is.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        claim.lock = std::move(lock);
        return claim;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock->error() == QLockFile::LockFailedError &&
        lock->getLockInfo(&pid, &host, &application)) {
        claim.refusal = QStringLiteral("The programming tool is already running (process %1) and "
                                       "holds the program in %2. Use that window: this one does "
                                       "not open, so that nothing in that program is lost.")
                            .arg(pid)
                            .arg(QDir::toNativeSeparators(files.directory));
    } else {
        claim.refusal = QStringLiteral("The programming tool could not claim %1 (%2): it may be "
                                       "running already. Nothing was changed.")
                            .arg(QDir::toNativeSeparators(files.directory),
                                 lock->error() == QLockFile::PermissionError
                                     ? QStringLiteral("no permission to write there")
                                     : QStringLiteral("the lock file could not be read"));
    }
    return claim;
}

bool isCleanExitFlag(const QString& value) {
    return value.startsWith(QLatin1Char('1'));
}

LoadOutcome LoadDatabases(const ProgramDirectoryFiles& files, SettingsTable& settings,
                          Messages& messages) {
    LoadOutcome outcome;
    const SettingsState state = openSettings(files, settings, messages);
    const bool settingsOpen = state != SettingsState::Failed;
    const bool templateReady = ensureTemplate(files, messages);

    // A flag that was not read from the settings of the last run cannot say
    // the run ended cleanly: an existing working copy is then kept rather
    // than overwritten.
    bool clean = false;
    if (state == SettingsState::Opened)
        clean = isCleanExitFlag(settings.record(SettingsTable::CleanExit).value_or(QString()));
    else
        clean = !QFileInfo::exists(files.workingCopy);
    bool workingCopyReady = false;
    if (clean) {
        workingCopyReady = templateReady && freshWorkingCopy(files, messages);
    } else {
        outcome.recovered = true;
        messages.show(MessageIcon::Information, RecoveryMessage);
        workingCopyReady = recoveredWorkingCopy(files, messages);
    }
    if (settingsOpen && !settings.setRecord(SettingsTable::CleanExit, QStringLiteral("0"))) {
        messages.show(MessageIcon::Warning,
                      QStringLiteral("The settings file %1 could not be written (%2).")
                          .arg(native(files.settings), settings.lastError()));
    }
    outcome.ok = settingsOpen && workingCopyReady;
    return outcome;
}

bool markCleanExit(SettingsTable& settings) {
    return settings.isOpen() && settings.setRecord(SettingsTable::CleanExit, QStringLiteral("1"));
}

} // namespace kqm::files
