#pragma once

#include <QRect>
#include <QStringList>

#include <functional>
#include <optional>

class QMenu;
class QWidget;

namespace kqm::files {
class SettingsTable;
}

namespace kqm::ui {

// What the desktop keeps from one run to the next, by name in the settings'
// Preferences table: the recent program files, the window's place, the
// folder of the last file dialog and the tab that was showing.
namespace desktop {
inline const QString RecentProgramsPreference = QStringLiteral("RecentPrograms");
inline const QString RecentMachinesPreference = QStringLiteral("RecentMachines");
inline const QString WindowGeometryPreference = QStringLiteral("WindowGeometry");
inline const QString LastFolderPreference = QStringLiteral("LastFolder");
inline const QString LastTextFolderPreference = QStringLiteral("LastTextFolder");
inline const QString LastTabPreference = QStringLiteral("LastTab");
inline constexpr int RecentProgramLimit = 8;
} // namespace desktop

// Newest first; the recent machine files are kept the same way under their
// own preference.
QStringList recentPrograms(files::SettingsTable& settings,
                           const QString& list = desktop::RecentProgramsPreference);
// The file goes first (an older entry for the same file goes); the oldest
// beyond the limit drop off.
bool rememberRecentProgram(files::SettingsTable& settings, const QString& path,
                           const QString& list = desktop::RecentProgramsPreference);
bool forgetRecentProgram(files::SettingsTable& settings, const QString& path,
                         const QString& list = desktop::RecentProgramsPreference);

struct Session;

// A list of recent files as its menu shows it.
struct RecentList {
    QString preference; // where the list is kept
    QString namePrefix; // of the items' object names
    QString kind;       // "program file"
    QString menuName;   // "recent programs"
};
inline const RecentList RecentProgramsMenu{
    desktop::RecentProgramsPreference, QStringLiteral("mnuRecentProgram"),
    QStringLiteral("program file"), QStringLiteral("recent programs")};
inline const RecentList RecentMachinesMenu{
    desktop::RecentMachinesPreference, QStringLiteral("mnuRecentMachine"),
    QStringLiteral("machine file"), QStringLiteral("recent machines")};

// A recent-files menu of the list; an item opens its file unless an exchange
// with the unit holds the line. A file that is no longer there is taken off
// the list, and the user told so.
void fillRecentMenu(QMenu* menu, Session& session, const RecentList& list,
                    const std::function<void(const QString&)>& open);

struct WindowPlace {
    QRect geometry; // the normal (not maximised) geometry
    bool maximized = false;
};
std::optional<WindowPlace> storedWindowPlace(files::SettingsTable& settings);
bool storeWindowPlace(files::SettingsTable& settings, const WindowPlace& place);
// The window where it was last time, kept on the screens there are now;
// when nothing was kept, at firstSize (where the screen allows) and centred.
void restoreWindowPlace(QWidget* window, files::SettingsTable& settings,
                        const QSize& firstSize = QSize());
// At the first start (no place kept): as large as the window asks to be, with
// room for `later` (a part a later step may show) when it is hidden, at most
// 90 % of the screen, centred.
void placeAtFirstStart(QWidget* window, files::SettingsTable& settings, const QWidget* later);
// What the desktop remembers is a convenience: a failed write is not worth a
// message.
void keepWindowPlace(const QWidget* window, files::SettingsTable& settings);

} // namespace kqm::ui
