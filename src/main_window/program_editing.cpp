#include "main_window/program_editing.h"

#include "files/program_files.h"
#include "files/program_text_file.h"
#include "main_window/desktop_memory.h"

#include "main_window/program_tab.h"
#include "main_window/session.h"
#include "platform/busy_cursor.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "program/command_editor_dialog.h"
#include "program/program_text.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QSaveFile>

namespace kqm::ui {

namespace {

const QString ProgramLinesMimeType = QStringLiteral("application/x-kqm-program-lines");
const QString ProgramTextFilter = QStringLiteral("Program Text (*.txt);;All Files (*.*)");

} // namespace

ProgramEditing::ProgramEditing(Session& session, ProgramTab& tab, QWidget* dialogParent)
    : m_session(session), m_tab(tab), m_dialogParent(dialogParent) {}

std::optional<quint64> ProgramEditing::beginChange() {
    return m_session.document.beginChange();
}

ProgramEditing::EditorAnswer ProgramEditing::runCommandEditor(const QString& caption,
                                                              const program::Preload* preload,
                                                              const QString& comment) {
    program::frmCommands editor(m_session.services.messages, m_session.editorMemory,
                                m_session.linkState().UnitModel, m_session.linkState().AxisAddress,
                                m_dialogParent);
    editor.setWindowTitle(caption);
    editor.setProgramLines(m_tab.rows());
    if (preload)
        editor.preload(*preload, comment);
    editor.exec();
    m_tab.focusGrid();
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
    const auto shown = beginChange();
    if (!shown)
        return;
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Add Command"));
    if (answer.command.isEmpty())
        return;
    m_session.document.apply(
        [&answer](const auto& rows) {
            return program::planAdd(rows, answer.command, answer.comment);
        },
        shown);
}

void ProgramEditing::cmdInsert_Click() {
    const auto shown = beginChange();
    if (!shown || !preconditionHolds(program::EditOperation::Insert))
        return;
    const int row = *m_tab.selectedRow();
    const EditorAnswer answer = runCommandEditor(QStringLiteral("Insert Command"));
    if (answer.command.isEmpty())
        return;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    m_session.document.apply(
        [&answer, row](const auto& rows) {
            return program::planInsert(rows, row, answer.command, answer.comment);
        },
        shown);
}

void ProgramEditing::cmdChange_Click() {
    const auto shown = beginChange();
    if (!shown)
        return;
    if (preconditionHolds(program::EditOperation::Change)) {
        const int row = *m_tab.selectedRow();
        const program::ProgramRow& line = m_tab.rows().at(row);
        const program::Preload preload = program::preloadFor(line.command);
        const EditorAnswer answer =
            runCommandEditor(QStringLiteral("Change Command"), &preload, line.comment);
        if (!answer.command.isEmpty()) {
            m_session.document.apply(
                [&answer, row](const auto& rows) {
                    return program::planChange(rows, row, answer.command, answer.comment);
                },
                shown);
            return;
        }
    }
    // Cancelled: the listing is refreshed, and the line chosen stays chosen
    // unless another program changed the lines meanwhile.
    const std::optional<int> chosen = m_tab.selectedRow();
    const QVector<program::ProgramRow> before = m_tab.rows();
    m_session.document.refresh();
    if (chosen && program::sameLines(before, m_session.document.rows()))
        m_session.document.setCurrentRow(*chosen);
}

void ProgramEditing::cmdDelete_Click() {
    const auto shown = beginChange();
    if (!shown || !preconditionHolds(program::EditOperation::Delete))
        return;
    // Every selected line goes, as one step.
    const QList<int> lines = m_tab.selectedRows();
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    m_session.document.apply([lines](const auto& rows) { return program::planDelete(rows, lines); },
                             shown);
}

void ProgramEditing::tell(const QString& text) {
    m_session.services.messages.show(platform::MessageIcon::Warning, text);
}

void ProgramEditing::undo() {
    m_session.document.undo();
}

void ProgramEditing::redo() {
    m_session.document.redo();
}

void ProgramEditing::copyLines() {
    const QList<int> lines = m_tab.selectedRows();
    if (lines.isEmpty()) {
        tell(QStringLiteral("Please select the program lines to copy."));
        return;
    }
    toClipboard(lines, false);
}

void ProgramEditing::toClipboard(const QList<int>& lines, bool cut) {
    QVector<program::ProgramRow> copied;
    for (const int line : lines)
        copied.push_back(m_tab.rows().at(line));
    const QString text = program::writeProgramText(copied);
    auto* data = new QMimeData;
    data->setText(text);
    data->setData(ProgramLinesMimeType, text.toUtf8());
    // Where the lines stood, so that a paste can point their branches.
    data->setData(program::PasteOriginMimeType,
                  program::writePasteOrigin(program::originOf(m_tab.rows(), lines, cut)));
    QGuiApplication::clipboard()->setMimeData(data);
}

void ProgramEditing::cutLines() {
    const auto shown = beginChange();
    if (!shown)
        return;
    const QList<int> lines = m_tab.selectedRows();
    if (lines.isEmpty()) {
        tell(QStringLiteral("Please select the program lines to cut."));
        return;
    }
    toClipboard(lines, true);
    m_session.document.apply(
        [lines](const auto& rows) {
            program::EditPlan plan = program::planDelete(rows, lines);
            plan.label.replace(0, 6, QStringLiteral("Cut"));
            return plan;
        },
        shown);
}

void ProgramEditing::pasteLines() {
    const auto shown = beginChange();
    if (!shown)
        return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QString text;
    std::optional<program::PasteOrigin> origin;
    if (data && data->hasFormat(ProgramLinesMimeType)) {
        text = QString::fromUtf8(data->data(ProgramLinesMimeType));
        if (data->hasFormat(program::PasteOriginMimeType))
            origin = program::readPasteOrigin(data->data(program::PasteOriginMimeType));
    } else if (data && data->hasText()) {
        text = data->text();
    }
    if (text.trimmed().isEmpty()) {
        tell(QStringLiteral("The clipboard holds no program lines to paste."));
        return;
    }
    const program::ProgramTextRead read = program::readProgramText(text, false);
    if (!read.errors.isEmpty()) {
        QStringList lines;
        for (const program::ProgramTextError& error : read.errors.mid(0, 10))
            lines << QStringLiteral("Line %1: %2").arg(error.line).arg(error.message);
        if (read.errors.size() > 10)
            lines << QStringLiteral("... and %1 more.").arg(read.errors.size() - 10);
        tell(QStringLiteral("Nothing was pasted: the clipboard does not hold program lines the "
                            "unit accepts.\n\n") +
             lines.join(QLatin1Char('\n')));
        return;
    }
    if (read.rows.isEmpty()) {
        tell(QStringLiteral("The clipboard holds no program lines to paste."));
        return;
    }
    // Before the selected line, or at the end when none is selected.
    const std::optional<int> before = m_tab.selectedRow();
    QStringList notes;
    {
        platform::BusyCursorGuard busy(m_session.services.busyCursor);
        const bool pasted = m_session.document.apply(
            [&notes, before, &read, &origin](const auto& rows) {
                program::EditPlan plan = program::planPaste(rows, before, read.rows, origin);
                notes = plan.notes;
                return plan;
            },
            shown);
        if (!pasted)
            return;
    }
    if (!notes.isEmpty()) {
        QStringList listed = notes.mid(0, 10);
        if (notes.size() > 10)
            listed << QStringLiteral("... and %1 more.").arg(notes.size() - 10);
        tell(QStringLiteral("Pasted. These branches may not lead where they did where they "
                            "were copied from:\n\n") +
             listed.join(QLatin1Char('\n')));
    }
}

std::optional<std::pair<int, int>> ProgramEditing::selectedBlock(const QString& action) {
    const QList<int> lines = m_tab.selectedRows();
    if (lines.isEmpty()) {
        tell(QStringLiteral("Please select the program lines to %1.").arg(action));
        return std::nullopt;
    }
    if (lines.last() - lines.first() + 1 != lines.size()) {
        tell(QStringLiteral("Only lines that follow each other can be moved together."));
        return std::nullopt;
    }
    return std::make_pair(lines.first(), static_cast<int>(lines.size()));
}

void ProgramEditing::moveLines(int direction) {
    const auto shown = beginChange();
    if (!shown)
        return;
    const auto block =
        selectedBlock(direction < 0 ? QStringLiteral("move up") : QStringLiteral("move down"));
    if (!block)
        return;
    const int size = static_cast<int>(m_tab.rows().size());
    // At the top or the bottom already: nothing to do, nothing to say.
    if ((direction < 0 && block->first == 0) ||
        (direction > 0 && block->first + block->second == size))
        return;
    m_session.document.apply(
        [block, direction](const auto& rows) {
            return program::planMove(rows, block->first, block->second, direction);
        },
        shown);
}

QString ProgramEditing::textFolder() const {
    if (m_session.settings.isOpen()) {
        const QString kept = m_session.settings.preference(desktop::LastTextFolderPreference)
                                 .value_or(QString());
        if (!kept.isEmpty() && QFileInfo(kept).isDir())
            return kept;
    }
    const QString program = m_session.document.path();
    if (!program.isEmpty() && !files::sameFile(program, m_session.files.workingCopy))
        return QFileInfo(program).absolutePath();
    return m_session.files.directory;
}

void ProgramEditing::rememberTextFolder(const QString& file) {
    if (m_session.settings.isOpen())
        m_session.settings.setPreference(desktop::LastTextFolderPreference,
                                         QFileInfo(file).absolutePath());
}

void ProgramEditing::exportProgram() {
    // Offered as the program's name, in the folder the last text went to.
    const QString program = m_session.document.path();
    const QString name = !program.isEmpty() && !files::sameFile(program, m_session.files.workingCopy)
                             ? QFileInfo(program).completeBaseName()
                             : QStringLiteral("program");
    const auto path = m_session.services.fileDialogs.saveFileName(
        QDir(textFolder()).filePath(name + QStringLiteral(".txt")), ProgramTextFilter,
        QStringLiteral("Export Program"));
    if (!path)
        return;
    rememberTextFolder(*path);
    if (const auto refusal = files::exportRefusal(*path, m_session.document.path())) {
        m_session.services.messages.show(platform::MessageIcon::Critical,
                                         QStringLiteral("Nothing was exported: %1.").arg(*refusal));
        return;
    }
    m_session.document.catchUp();
    const auto rows = m_session.document.table().readRows();
    QString error = rows ? QString() : m_session.document.table().lastError();
    if (rows) {
        QSaveFile file(*path);
        const QByteArray bytes = program::writeProgramText(*rows).toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            error = file.errorString();
    }
    if (!error.isEmpty()) {
        m_session.services.messages.show(
            platform::MessageIcon::Critical,
            QStringLiteral("The program could not be exported to %1 (%2).")
                .arg(QDir::toNativeSeparators(*path), error));
    }
}

void ProgramEditing::importProgram() {
    if (m_session.document.refuseChange())
        return;
    const auto path = m_session.services.fileDialogs.openFileName(
        textFolder(), ProgramTextFilter, QStringLiteral("Import Program"));
    if (!path)
        return;
    rememberTextFolder(*path);
    const files::ProgramTextFile text = files::readProgramTextFile(*path);
    if (!text.ok()) {
        // The same reader and the same words as kqmctl import.
        const QStringList problems = text.problems(QFileInfo(*path).fileName());
        QStringList lines = problems.mid(0, 10);
        if (problems.size() > 10)
            lines << QStringLiteral("... and %1 more.").arg(problems.size() - 10);
        m_session.services.messages.show(platform::MessageIcon::Critical,
                                         QStringLiteral("Nothing was imported from %1.\n\n")
                                                 .arg(QDir::toNativeSeparators(*path)) +
                                             lines.join(QLatin1Char('\n')));
        return;
    }
    const program::ProgramTextRead& read = text.read;
    platform::BusyCursorGuard busy(m_session.services.busyCursor);
    QString error;
    if (!m_session.document.replaceRows(
            read.rows, &error, QStringLiteral("Import %1").arg(QFileInfo(*path).fileName()))) {
        m_session.services.messages.show(
            platform::MessageIcon::Critical,
            QStringLiteral("The program could not be imported (%1). It is as it was before.")
                .arg(error));
    }
}

void ProgramEditing::followMenu(const Menu& menu, QObject* context) {
    const auto onProgram = [this, context](QAction* action, void (ProgramEditing::*run)()) {
        // The document refuses changes itself while an exchange holds it.
        QObject::connect(action, &QAction::triggered, context, [this, run] { (this->*run)(); });
    };
    onProgram(menu.undo, &ProgramEditing::undo);
    onProgram(menu.redo, &ProgramEditing::redo);
    onProgram(menu.cut, &ProgramEditing::cutLines);
    onProgram(menu.paste, &ProgramEditing::pasteLines);
    onProgram(menu.deleteLines, &ProgramEditing::cmdDelete_Click);
    onProgram(menu.addLine, &ProgramEditing::cmdAdd_Click);
    onProgram(menu.insertLine, &ProgramEditing::cmdInsert_Click);
    onProgram(menu.changeLine, &ProgramEditing::cmdChange_Click);
    onProgram(menu.importProgram, &ProgramEditing::importProgram);
    // Copying and exporting change nothing: they may run while the line is busy.
    onProgram(menu.copy, &ProgramEditing::copyLines);
    onProgram(menu.exportProgram, &ProgramEditing::exportProgram);
    QObject::connect(menu.moveUp, &QAction::triggered, context, [this] { moveLines(-1); });
    QObject::connect(menu.moveDown, &QAction::triggered, context, [this] { moveLines(+1); });
    const auto showHistory = [this, undoItem = menu.undo, redoItem = menu.redo] {
        program::ProgramDocument& document = m_session.document;
        // A step's label may name a file: an '&' in it is text, not a mnemonic.
        const auto asText = [](std::optional<QString> label) {
            if (label)
                label->replace(QLatin1Char('&'), QStringLiteral("&&"));
            return label;
        };
        const auto undo = asText(document.undoLabel());
        const auto redo = asText(document.redoLabel());
        undoItem->setText(undo ? QStringLiteral("&Undo %1").arg(*undo) : QStringLiteral("&Undo"));
        undoItem->setEnabled(undo.has_value());
        redoItem->setText(redo ? QStringLiteral("&Redo %1").arg(*redo) : QStringLiteral("&Redo"));
        redoItem->setEnabled(redo.has_value());
    };
    QObject::connect(&m_session.document, &program::ProgramDocument::historyChanged, context,
                     showHistory);
    showHistory();
}

} // namespace kqm::ui
