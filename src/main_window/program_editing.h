#pragma once

#include "program/command_rules.h"
#include "program/editing.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>

class QAction;
class QObject;
class QWidget;

namespace kqm::ui {

class ProgramTab;
struct Session;

// Add, Insert, Change and Delete: the command editor for the line, then the
// editing operation on the program document.
class ProgramEditing {
public:
    ProgramEditing(Session& session, ProgramTab& tab, QWidget* dialogParent);
    ProgramEditing(const ProgramEditing&) = delete;
    ProgramEditing& operator=(const ProgramEditing&) = delete;
    // The Edit menu's items (and File's Import and Export), for followMenu.
    struct Menu {
        QAction *undo, *redo, *cut, *copy, *paste, *deleteLines, *addLine, *insertLine, *changeLine,
            *importProgram, *exportProgram, *moveUp, *moveDown;
    };
    // Each item runs its operation; Undo and Redo name the step they take
    // back or do again. `context` ends the connections.
    void followMenu(const Menu& menu, QObject* context);

    void cmdAdd_Click();
    void cmdInsert_Click();
    void cmdChange_Click();
    void cmdDelete_Click();

    // Edit menu: undo and redo of the program file's history, the clipboard
    // and moves of the selected lines.
    void undo();
    void redo();
    void copyLines();
    void cutLines();
    void pasteLines();
    void moveLines(int direction);
    // File menu: the program as a text file.
    void exportProgram();
    void importProgram();

private:
    // Where the export and import dialogs start: where the last program
    // text went, else beside the program.
    QString textFolder() const;
    void rememberTextFolder(const QString& file);
    struct EditorAnswer {
        QString command;
        QString comment;
    };
    EditorAnswer runCommandEditor(const QString& caption, const program::Preload* preload = nullptr,
                                  const QString& comment = QString());
    bool preconditionHolds(program::EditOperation operation);
    // The selected lines as one block: first and count; nothing when none
    // (or when they are not next to each other, after saying so).
    std::optional<std::pair<int, int>> selectedBlock(const QString& action);
    // Before an edit: nullopt when the document refuses changes now (an
    // exchange holds it), else the revision of the rows the user chooses on.
    std::optional<quint64> beginChange();
    void tell(const QString& text);
    // The lines as program text, and where they stood, for a paste.
    void toClipboard(const QList<int>& lines, bool cut);

    Session& m_session;
    ProgramTab& m_tab;
    QWidget* m_dialogParent;
};

} // namespace kqm::ui
