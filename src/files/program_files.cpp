#include "files/program_files.h"

#include "files/file_copy.h"
#include "files/legacy_program.h"
#include "files/new_program_file.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "program/edit_history.h"
#include "program/program_document.h"
#include "program/program_table.h"

#include <QDir>
#include <QFileInfo>

namespace kqm::files {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

QString backupName(const QString& path) {
    // The rule works on the file's own name, so the backup stays in the
    // file's folder whatever dots the folders have.
    const qsizetype slash =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const qsizetype length = name.size();
    const qsizetype tail = std::max<qsizetype>(0, length - 3);
    const qsizetype dot = name.indexOf(QLatin1Char('.'), tail);
    if (dot >= 0)
        return folder + name.left(dot + 1) + QStringLiteral("BAK");
    if (length >= 4 && name.at(length - 4) == QLatin1Char('.'))
        return folder + name.left(length - 3) + QStringLiteral("BAK");
    return folder + name + QStringLiteral(".BAK");
}

bool startWithoutHistory(const QString& path) {
    program::SqliteFile file;
    return file.open(path, program::SqliteFile::Mode::ReadWriteExisting) &&
           program::clearHistory(file);
}

namespace {

// The bytes of source written into path itself: the file stays the one its
// maker holds (a partial file's lock is on it).
bool copyInto(const QString& source, const QString& path) {
    QFile in(source);
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = in.readAll();
    return out.write(bytes) == bytes.size() && out.flush();
}

} // namespace

bool makeProgramFile(const ProgramDirectoryFiles& files, const QString& path, QString* error) {
    const QString templ = QFileInfo::exists(files.templ) ? files.templ : files.shippedTemplate;
    const bool fromTemplate =
        !templ.isEmpty() && copyInto(templ, path) && startWithoutHistory(path);
    return fromTemplate || program::ProgramTable::createEmptyProgramFile(path, error);
}

bool sameFile(const QString& a, const QString& b) {
    const QFileInfo first(a);
    const QFileInfo second(b);
    if (first.exists() && second.exists())
        return first.canonicalFilePath() == second.canonicalFilePath();
    return QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath());
}

ProgramFileCommands::ProgramFileCommands(program::ProgramDocument& document,
                                         std::function<void()> showProgramTab,
                                         platform::Messages& messages,
                                         platform::FileDialogs& dialogs, FileCopier& copier,
                                         const ProgramDirectoryFiles& files)
    : m_document(document), m_showProgramTab(std::move(showProgramTab)), m_messages(messages),
      m_dialogs(dialogs), m_copier(copier), m_files(files) {}

bool ProgramFileCommands::isUnsavedProgram() {
    const QString workingCopy = m_files.directory + QStringLiteral("/TEMP.MDB");
    if (QDir::cleanPath(m_document.path()).toUpper() != QDir::cleanPath(workingCopy).toUpper())
        return false;
    return m_document.recordCount().value_or(0) > 0;
}

bool ProgramFileCommands::bind(const QString& path, bool refreshListing) {
    QString error;
    if (m_document.bind(path, refreshListing, &error))
        return true;
    m_messages.show(MessageIcon::Warning, m_document.bindFailure() + QLatin1Char('.'));
    return false;
}

void ProgramFileCommands::rebind(const QString& path) {
    QString error;
    if (!m_document.bind(path, true, &error))
        m_document.bind(m_files.workingCopy, true, &error);
}

QString ProgramFileCommands::startFolder() const {
    return !m_startFolder.isEmpty() && QFileInfo(m_startFolder).isDir() ? m_startFolder
                                                                        : m_files.directory;
}

QString ProgramFileCommands::suggestedPdf() const {
    const QString current = m_document.path();
    if (current.isEmpty() || sameFile(current, m_files.workingCopy))
        return QDir(startFolder()).filePath(QStringLiteral("program.pdf"));
    const QFileInfo program(current);
    return program.absoluteDir().filePath(program.completeBaseName() + QStringLiteral(".pdf"));
}

void ProgramFileCommands::fileUsed(const QString& file) {
    if (m_fileUsed)
        m_fileUsed(file);
}

void ProgramFileCommands::openProgram() {
    m_showProgramTab();
    const auto chosen = m_dialogs.openFileName(startFolder(), ProgramFileFilter);
    if (!chosen)
        return;
    openChosen(*chosen);
}

void ProgramFileCommands::openProgramFile(const QString& file) {
    m_showProgramTab();
    openChosen(file);
}

void ProgramFileCommands::openChosen(const QString& file) {
    if (askAboutUnsaved(UnsavedOpenWarning))
        return;
    if (legacyFormatOf(file)) {
        convertLegacy(file);
        return;
    }
    const QString backup = backupName(file);
    const QString previous = m_document.path();
    CopyResult copy;
    if (sameFile(file, previous)) {
        if (!QFileInfo(backup).isFile()) {
            m_messages.show(MessageIcon::Warning,
                            QStringLiteral("There is no backup of %1 to restore: %2 is missing. "
                                           "The program stays as it is.")
                                .arg(QDir::toNativeSeparators(file),
                                     QDir::toNativeSeparators(backup)));
            return;
        }
        const MessageAnswer answer =
            m_messages.show(MessageIcon::Warning,
                            QStringLiteral("Current program file selected - do you wish to "
                                           "restore the program file?"),
                            MessageButtons::YesNo);
        if (answer != MessageAnswer::Yes)
            return;
        m_document.close();
        copy = m_copier.copy(backup, file);
    } else {
        // A file that is no program is refused before a backup is made of it.
        program::ProgramTable probe;
        if (!probe.open(file, program::SqliteFile::Mode::ReadWriteExisting)) {
            m_messages.show(MessageIcon::Warning,
                            probe.openFailure(file) +
                                QStringLiteral(". The program that was open stays open."));
            return;
        }
        probe.close();
        copy = m_copier.copy(file, backup);
    }
    switch (copy.failure) {
    case CopyResult::Failure::None:
        break;
    case CopyResult::Failure::NoSpace:
        m_messages.show(MessageIcon::Information,
                        QStringLiteral("Disk is full - no backup file create"));
        break;
    case CopyResult::Failure::AccessDenied:
        m_messages.show(MessageIcon::Warning,
                        QStringLiteral("Disk is write protected - cannot open program file"));
        rebind(previous);
        return;
    case CopyResult::Failure::Other:
        m_messages.show(MessageIcon::None,
                        QStringLiteral("open program file error: ") + copy.detail);
        rebind(previous);
        return;
    }
    if (!bind(file, true)) {
        rebind(previous);
        return;
    }
    if (!m_document.rows().isEmpty())
        m_document.setCurrentRow(0);
    m_showProgramTab();
    fileUsed(file);
}

void ProgramFileCommands::convertLegacy(const QString& file) {
    const QString name = QDir::toNativeSeparators(file);
    const LegacyProgram legacy = readLegacyProgram(file);
    if (!legacy.ok()) {
        m_messages.show(MessageIcon::Warning,
                        legacy.error +
                            QStringLiteral(".\n\nThe program that was open stays open."));
        return;
    }
    const qsizetype count = legacy.rows.size();
    const QString lines =
        count == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(count);
    const MessageAnswer answer = m_messages.show(
        MessageIcon::Question,
        QStringLiteral("%1 is a program file of the older kind, an %2 database with %3."
                       "\n\nConvert it into a new program file? The Access file is left as "
                       "it is.")
            .arg(name, legacy.format.name(), lines),
        MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes)
        return;
    auto chosen = m_dialogs.saveFileName(convertedName(file), ProgramFileFilter);
    if (!chosen)
        return;
    if (!QFileInfo(*chosen).fileName().contains(QLatin1Char('.')))
        *chosen += QStringLiteral(".mdb");
    const NewProgramFile made =
        writeNewProgramFile(m_files, *chosen, rowsForConversion(legacy.rows), m_messages);
    if (!made.ok()) {
        m_messages.show(MessageIcon::Warning,
                        QStringLiteral("The program was not converted: %1. The program that "
                                       "was open stays open.")
                            .arg(made.error));
        return;
    }
    const QString previous = m_document.path();
    if (!bind(*chosen, true)) {
        rebind(previous);
        return;
    }
    if (!m_document.rows().isEmpty())
        m_document.setCurrentRow(0);
    m_showProgramTab();
    fileUsed(*chosen);
}

void ProgramFileCommands::newProgram() {
    m_showProgramTab();
    if (askAboutUnsaved(UnsavedNewWarning))
        return;
    const QString previous = m_document.path();
    m_document.close();
    const CopyResult copy = m_copier.copy(m_files.templ, m_files.workingCopy);
    if (!copy.ok()) {
        m_messages.show(MessageIcon::Warning,
                        QStringLiteral("A new program could not be started: the template %1 "
                                       "could not be copied (%2). The program that was open "
                                       "stays open.")
                            .arg(QDir::toNativeSeparators(m_files.templ), copy.detail));
        rebind(previous);
        return;
    }
    if (!startWithoutHistory(m_files.workingCopy) || !bind(m_files.workingCopy, true))
        rebind(previous);
}

bool ProgramFileCommands::saveProgramAs() {
    m_showProgramTab();
    // A named program is offered under its own name; the working copy's
    // name means nothing to the user.
    QString suggestion = startFolder();
    const QString current = m_document.path();
    if (!current.isEmpty() && !sameFile(current, m_files.workingCopy))
        suggestion = QDir(suggestion).filePath(QFileInfo(current).fileName());
    auto chosen = m_dialogs.saveFileName(suggestion, ProgramFileFilter);
    if (!chosen)
        return false;
    // A name typed without an extension gets ".mdb": the Open dialog would
    // hide it otherwise, and it would share its backup with NAME.mdb.
    if (!QFileInfo(*chosen).fileName().contains(QLatin1Char('.')))
        *chosen += QStringLiteral(".mdb");
    const QString previous = m_document.path();
    // The working copy is the window's own scratch file: a program saved
    // there would still be Untitled, and lost at the next New.
    if (sameFile(*chosen, m_files.workingCopy)) {
        m_messages.show(MessageIcon::Warning,
                        QStringLiteral("%1 is the window's working copy, not a place to keep a "
                                       "program. Choose another name; nothing was saved.")
                            .arg(QDir::toNativeSeparators(*chosen)));
        return false;
    }
    if (*chosen != previous && !sameFile(*chosen, previous)) {
        // Copied while still open and locked for writing: what is saved is
        // the program this window shows, and no other program changes it
        // half-way through the copy.
        CopyResult copy;
        {
            program::Transaction hold(m_document.table().file());
            // A file another program is writing is never copied half-way.
            copy = hold.started()
                       ? m_copier.copy(previous, *chosen)
                       : CopyResult{CopyResult::Failure::Other, m_document.table().lastError()};
        }
        m_document.close();
        if (!copy.ok()) {
            m_messages.show(MessageIcon::Warning,
                            QStringLiteral("The program could not be saved as %1 (%2). It is "
                                           "still in %3.")
                                .arg(QDir::toNativeSeparators(*chosen), copy.detail,
                                     QDir::toNativeSeparators(previous)));
            rebind(previous);
            return false;
        }
    } else {
        m_document.close();
        m_messages.show(MessageIcon::Information, QStringLiteral("Program is already saved"));
    }
    if (!bind(*chosen, false)) {
        rebind(previous);
        return false;
    }
    fileUsed(*chosen);
    return true;
}

std::optional<bool> ProgramFileCommands::askAboutUnsaved(const QString& warning) {
    m_document.recordCount();
    if (!isUnsavedProgram())
        return std::nullopt;
    const MessageAnswer answer =
        m_messages.show(MessageIcon::Warning, warning, MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Yes)
        return saveProgramAs();
    if (answer == MessageAnswer::No)
        return std::nullopt;
    return false;
}

bool ProgramFileCommands::confirmClose() {
    const std::optional<bool> asked = askAboutUnsaved(UnsavedNewWarning);
    return !asked || *asked;
}

} // namespace kqm::files
