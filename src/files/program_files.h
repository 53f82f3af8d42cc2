#pragma once

#include "files/startup.h"

#include <QString>

#include <functional>
#include <optional>

namespace kqm::platform {
class FileDialogs;
class Messages;
} // namespace kqm::platform

namespace kqm::program {
class ProgramDocument;
}

namespace kqm::files {

class FileCopier;

inline const QString ProgramFileFilter = QStringLiteral("Program Files (*.mdb);;All Files (*.*)");
inline const QString UnsavedOpenWarning =
    QStringLiteral("Warning: The current program has not been saved.\rClick Yes to to save or No "
                   "to loose your changes.");
inline const QString UnsavedNewWarning =
    QStringLiteral("Warning: The current program has not been saved.  Click Yes to to save or No "
                   "to loose your changes.");

// A new program file made from the template, as the window rebuilds its
// working copy; an empty program file where there is no template.
bool makeProgramFile(const ProgramDirectoryFiles& files, const QString& path, QString* error);
// A file just made from the template starts with no undo history, whatever
// steps the template itself has taken.
bool startWithoutHistory(const QString& path);

// The backup of a program file: its name with the extension made "BAK".
QString backupName(const QString& path);
// Whether two names stand for the same file (an existing file is compared by
// its real path, so different spellings of one file match).
bool sameFile(const QString& a, const QString& b);

// New Program, Open Program (with backup and restore) and Save Program As.
// No command leaves the window without a usable program file bound.
class ProgramFileCommands {
public:
    // showProgramTab brings the program into view before each command.
    ProgramFileCommands(program::ProgramDocument& document, std::function<void()> showProgramTab,
                        platform::Messages& messages, platform::FileDialogs& dialogs,
                        FileCopier& copier, const ProgramDirectoryFiles& files);

    bool isUnsavedProgram();
    void openProgram();
    // Open Program without the dialog: a file the user picked elsewhere (the
    // recent programs), with the same checks and the same question.
    void openProgramFile(const QString& file);
    void newProgram();
    // True when the program is now in the chosen file.
    bool saveProgramAs();
    // Before the window closes: asks about an unsaved program; true when the
    // window may close.
    bool confirmClose();

    // Where the Open and Save As dialogs start: the program directory until
    // the window hands in the folder of the last file the user chose.
    void setStartFolder(const QString& folder) { m_startFolder = folder; }
    QString startFolder() const;
    // The PDF file offered by Print: a named program's folder and name; for
    // the working copy, "program.pdf" in the start folder.
    QString suggestedPdf() const;
    // Told of every program file opened or saved as, once it is bound.
    void setFileUsed(std::function<void(const QString&)> used) { m_fileUsed = std::move(used); }

private:
    void openChosen(const QString& file);
    // An Access program file of the older kind: read, and on the user's word
    // converted into a new program file, which is then bound. The Access file
    // is only read, and no backup is made of it.
    void convertLegacy(const QString& file);
    void fileUsed(const QString& file);
    void rebind(const QString& path);
    bool bind(const QString& path, bool refreshListing);
    // Asks about an unsaved program. Nothing (go on) when there is none or
    // the user lets it go; otherwise the command stops, and the value says
    // whether the program was saved.
    std::optional<bool> askAboutUnsaved(const QString& warning);

    program::ProgramDocument& m_document;
    std::function<void()> m_showProgramTab;
    platform::Messages& m_messages;
    platform::FileDialogs& m_dialogs;
    FileCopier& m_copier;
    const ProgramDirectoryFiles& m_files;
    QString m_startFolder;
    std::function<void(const QString&)> m_fileUsed;
};

} // namespace kqm::files
