#include "main_window/program_editing.h"

#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/busy_cursor.h"
#include "platform/messages.h"
#include "program/command_editor_dialog.h"

namespace kqm::ui {

ProgramEditing::ProgramEditing(Session& session, ProgramTab& tab, QWidget* dialogParent)
    : m_session(session), m_tab(tab), m_dialogParent(dialogParent) {}

ProgramEditing::EditorAnswer ProgramEditing::runCommandEditor(const QString& caption,
                                                              const program::Preload* preload,
                                                              const QString& comment) {
    program::frmCommands editor(m_session.services.messages, m_session.editorMemory,
                                m_session.linkState.UnitModel, m_session.linkState.AxisAddress,
                                m_dialogParent);
    editor.setWindowTitle(caption);
    if (preload)
        editor.preload(*preload, comment);
    editor.exec();
    return {editor.EditedCommand(), editor.EditedComment()};
}

bool ProgramEditing::preconditionHolds(program::EditOperation operation) {
    const auto message = program::preconditionMessage(
        operation, static_cast<int>(m_tab.rows().size()), m_tab.selectedRow());
    if (!message)
        return true;
    m_session.services.messages.show(platform::MessageIcon::Warning, *message);
    return false;
}

void ProgramEditing::cmdAdd_Click() {
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Add Command"));
    if (answer.command.isEmpty())
        return;
    m_session.document.apply([&answer](auto& table, auto& state, auto& messages) {
        return program::addLine(table, state, messages, answer.command, answer.comment);
    });
}

void ProgramEditing::cmdInsert_Click() {
    if (!preconditionHolds(program::EditOperation::Insert))
        return;
    const int row = *m_tab.selectedRow();
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Insert Command"));
    if (answer.command.isEmpty())
        return;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    m_session.document.apply([&answer, row](auto& table, auto& state, auto& messages) {
        return program::insertLine(table, state, messages, row, answer.command, answer.comment);
    });
}

void ProgramEditing::cmdChange_Click() {
    if (preconditionHolds(program::EditOperation::Change)) {
        const int row = *m_tab.selectedRow();
        const program::ProgramRow& line = m_tab.rows().at(row);
        const program::Preload preload = program::preloadFor(line.command);
        const EditorAnswer answer =
            runCommandEditor(QStringLiteral("Change Command"), &preload, line.comment);
        if (!answer.command.isEmpty()) {
            m_session.document.apply([&answer, row](auto& table, auto& state, auto& messages) {
                return program::changeLine(table, state, messages, row, answer.command,
                                           answer.comment);
            });
            return;
        }
    }
    m_session.document.refresh();
}

void ProgramEditing::cmdDelete_Click() {
    if (!preconditionHolds(program::EditOperation::Delete))
        return;
    const int row = *m_tab.selectedRow();
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    m_session.document.apply([row](auto& table, auto& state, auto& messages) {
        return program::deleteLine(table, state, messages, row);
    });
}

} // namespace kqm::ui
