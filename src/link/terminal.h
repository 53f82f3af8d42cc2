#pragma once

#include "link/link.h"

#include <QString>

namespace kqm::link {

// The terminal pane keeps at most about 5000 characters: past that, the
// first 3999 are dropped.
QString trimTerminalText(const QString& text);

// What the tab control does with the debug counter. Tabs: 0 Motion,
// 1 Program, 2 Terminal, 3 Debug.
class DebugCounter {
public:
    explicit DebugCounter(Link& link) : m_state(link.writableState()) {}

    // A tab was chosen (tab 0 or 1 resets the counter below its threshold).
    void tabChosen(int tab);
    // A mouse press on the tab control while the given tab is current;
    // returns true when the debug tab is to be switched on.
    bool tabControlClicked(int currentTab);

private:
    void resetBelowThreshold();

    LinkState& m_state;
};

} // namespace kqm::link
