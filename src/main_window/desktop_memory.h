#pragma once

#include <QRect>
#include <QStringList>

#include <functional>
#include <optional>

class QMenu;

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

// A recent-files menu of the list kept under that preference; an item opens
// its file unless an exchange with the unit holds the line.
void fillRecentMenu(QMenu* menu, Session& session, const QString& list, const QString& namePrefix,
                    const std::function<void(const QString&)>& open);

struct WindowPlace {
    QRect geometry; // the normal (not maximised) geometry
    bool maximized = false;
};
std::optional<WindowPlace> storedWindowPlace(files::SettingsTable& settings);
bool storeWindowPlace(files::SettingsTable& settings, const WindowPlace& place);

} // namespace kqm::ui
