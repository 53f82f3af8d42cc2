#pragma once

#include "program/command_rules.h"
#include "program/editing.h"

#include <QString>

class QWidget;

namespace kqm::ui {

class ProgramTab;
struct Session;

// Add, Insert, Change and Delete: the command editor for the line, then the
// editing operation on the program document.
class ProgramEditing {
public:
    ProgramEditing(Session& session, ProgramTab& tab, QWidget* dialogParent);

    void cmdAdd_Click();
    void cmdInsert_Click();
    void cmdChange_Click();
    void cmdDelete_Click();

private:
    struct EditorAnswer {
        QString command;
        QString comment;
    };
    EditorAnswer runCommandEditor(const QString& caption, const program::Preload* preload = nullptr,
                                  const QString& comment = QString());
    bool preconditionHolds(program::EditOperation operation);

    Session& m_session;
    ProgramTab& m_tab;
    QWidget* m_dialogParent;
};

} // namespace kqm::ui
