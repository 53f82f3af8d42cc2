#pragma once

#include <QList>

class QAction;
class QTabWidget;
class QWidget;

namespace kqm::ui {

// Next Tab (Ctrl+Tab, Ctrl+PgDown) and Previous Tab (Ctrl+Shift+Tab,
// Ctrl+PgUp) from anywhere in the window, round, past the tabs that are
// disabled or hidden. The actions are the window's, so the list of keys
// names them.
void addTabKeys(QWidget* window, QTabWidget* tabs);

// The keys of a page (its actions with the page for their context) also work
// from the tab bar while that page is shown.
void shareKeysWithTabBar(QTabWidget* tabs, int page, const QList<QAction*>& keys);

} // namespace kqm::ui
