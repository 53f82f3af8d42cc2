#pragma once

#include <QList>
#include <QPair>
#include <QString>

class QAction;
class QMenuBar;
class QWidget;

namespace kqm::platform {
class AppPaths;
class Messages;
} // namespace kqm::platform

namespace kqm::ui {

// Help > About: the version, the licence, Qt, and where the files are kept.
void showAbout(platform::Messages& messages, const platform::AppPaths& paths);

// Every keyboard shortcut of the menus: the item's place in the menus and its
// keys, in menu order; then the window's own keys that no menu shows.
QList<QPair<QString, QString>> shortcutList(const QMenuBar* menus,
                                            const QList<QAction*>& windowActions);

// Help > Keyboard Shortcuts: the list in a table.
void showKeyboardShortcuts(const QList<QPair<QString, QString>>& list, QWidget* parent);

} // namespace kqm::ui
