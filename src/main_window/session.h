#pragma once

#include "files/settings_table.h"
#include "files/startup.h"
#include "link/connection.h"
#include "link/link.h"
#include "link/link_state.h"
#include "link/motion_panel.h"
#include "main_window/services.h"
#include "program/command_editor_dialog.h"
#include "program/program_document.h"

namespace kqm::ui {

// What one run of the window works on: the files of the program directory,
// the settings, the program being edited and the link to the unit. main()
// owns it; the windows show it and route the user's requests to it.
struct Session {
    explicit Session(Services services);

private:
    link::LinkState m_linkState; // written by the link only

public:
    Services services;
    files::ProgramDirectoryFiles files;
    files::SettingsTable settings;
    program::ProgramDocument document;
    link::Link link;
    // Read-only here: the link's own operations change it.
    const link::LinkState& linkState() const { return m_linkState; }
    link::Connection connection;
    link::MotionPanel motion;
    program::EditorMemory editorMemory;
};

} // namespace kqm::ui
