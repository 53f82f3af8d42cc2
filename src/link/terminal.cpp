#include "link/terminal.h"

#include "link/link_state.h"

namespace kqm::link {

QString trimTerminalText(const QString& text) {
    return text.size() > 5000 ? text.mid(3999) : text;
}

void DebugCounter::resetBelowThreshold() {
    if (m_state.DebugMode < LinkState::DebugModeOn)
        m_state.DebugMode = 0;
}

void DebugCounter::tabChosen(int tab) {
    if (tab == 0 || tab == 1)
        resetBelowThreshold();
}

bool DebugCounter::tabControlClicked(int currentTab) {
    if (currentTab == 2) {
        if (m_state.DebugMode == LinkState::DebugModeOn)
            return true;
        ++m_state.DebugMode;
        return false;
    }
    if (currentTab == 0 || currentTab == 1)
        resetBelowThreshold();
    return false;
}

} // namespace kqm::link
