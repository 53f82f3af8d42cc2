#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace kqm::platform {
class AppPaths;
class Messages;
} // namespace kqm::platform

namespace kqm::files {

class SettingsTable;

// The three files of the program directory.
struct ProgramDirectoryFiles {
    QString directory;
    QString settings;    // config.kqm
    QString templ;       // blank.kqm
    QString workingCopy; // temp.mdb
    // The read-only template of an installed copy: the template is made
    // from it when there is none yet. Empty when there is no such file.
    QString shippedTemplate;

    static ProgramDirectoryFiles in(const QString& directory);
    static ProgramDirectoryFiles of(const platform::AppPaths& paths);
};

// One window per program directory: the first start holds a lock file
// there (released when it ends, or found stale when it died). A second start
// gets nullopt and `running` says who holds it; it must not touch the
// working copy.
struct DirectoryClaim {
    std::unique_ptr<QLockFile> lock;
    QString refusal; // why the directory could not be claimed
    bool held() const { return lock != nullptr; }
};
DirectoryClaim claimProgramDirectory(const ProgramDirectoryFiles& files);

inline const QString RecoveryMessage =
    QStringLiteral("The program was not shut down properly last time it was used.  If you were "
                   "working on a program which had not been saved, it has been recovered and is "
                   "available under the Program tab.");

struct LoadOutcome {
    bool recovered = false; // the last run did not end cleanly
    bool ok = false;        // the settings table is open and the working copy usable
};

// Opens the settings table (making or repairing it and the template where
// needed), decides from the clean-exit flag whether the working copy is made
// fresh or kept as recovered, and marks this run as unfinished. Every problem
// with a file is reported through messages; none ends the start.
LoadOutcome LoadDatabases(const ProgramDirectoryFiles& files, SettingsTable& settings,
                          platform::Messages& messages);

// Records a clean exit in the settings table.
bool markCleanExit(SettingsTable& settings);

// True when the clean-exit value says the last run ended cleanly.
bool isCleanExitFlag(const QString& value);

} // namespace kqm::files
