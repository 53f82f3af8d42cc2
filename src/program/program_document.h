#pragma once

#include "program/editing.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QFileSystemWatcher>
#include <QTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

namespace kqm::platform {
class Messages;
}

namespace kqm::program {

// The program being edited: the bound program file, its rows as last stored,
// its size and fit, and the line the user works on. Every change goes through
// here, in one transaction, so the windows only show what it signals.
//
// Other programs (kqmctl, a second tool) may change the file too. The
// document notices (SQLite's data_version moves only for their commits),
// shows the file as it is then, and refuses an edit the user chose on lines
// that have changed since they were shown: grid rows are only meaningful
// for the rows the grid showed.
class ProgramDocument final : public QObject {
    Q_OBJECT
public:
    explicit ProgramDocument(platform::Messages& messages, QObject* parent = nullptr);

    QString path() const { return m_table.path(); }
    bool isBound() const { return m_table.isOpen(); }
    const QVector<ProgramRow>& rows() const { return m_rows; }
    ProgramState& state() { return m_state; }
    ProgramTable& table() { return m_table; }
    QString memoryText() const { return m_state.bytesUsedCaption(); }

    // Binds a program file and shows its rows (refreshed, or as stored);
    // false, with the reason and nothing bound, when it is not a program
    // file, or its rows cannot be read or brought up to date.
    bool bind(const QString& path, bool refreshListing, QString* error);
    // What the user is told about the last failed bind.
    QString bindFailure() const { return m_bindFailure; }
    void close();
    // Rereads the bound table's record count; nullopt when it cannot be read.
    std::optional<int> recordCount();
    // The listing refresh of the bound table; false (after `failed`) when
    // the table could not be read or written.
    bool refresh();

    // Which rows are shown: it moves whenever the rows shown change. An
    // edit chosen on the grid names the revision it was chosen on.
    quint64 shownRevision() const { return m_shownRevision; }
    // Which binding this is: it moves with every bind and close.
    quint64 binding() const { return m_binding; }

    // Looks whether another program changed the file since it was last read;
    // if so shows it as it is now and says so (changedElsewhere). True when
    // the rows shown were replaced.
    bool catchUp();
    // Before the user's change: nullopt when the change must not go on (an
    // exchange holds the program, or another program holds the file locked:
    // the user has been told), else the revision of the rows shown.
    std::optional<quint64> beginChange();
    // The file is locked by another program and a look at it was held back;
    // it is taken again shortly, without waiting, until the lock is gone.
    bool reloadHeld() const { return m_reloadHeld; }

    // Asked before every change; true refuses it (it has told the user why):
    // an exchange with the unit holds the program.
    void setChangeGuard(std::function<bool()> refuse) { m_guard = std::move(refuse); }
    bool refuseChange() { return isBound() && m_guard && m_guard(); }

    using Planner = std::function<EditPlan(const QVector<ProgramRow>& rows)>;
    // Plans one edit on the table as stored, stores it with its undo step and
    // shows the result; a failed write leaves the file as it was and says so.
    // plannedOn: the revision of the rows the user chose lines on; when the
    // file no longer holds those rows the edit is refused and nothing changes.
    bool apply(const Planner& planner, std::optional<quint64> plannedOn = std::nullopt);
    // Replaces every row of the file with a new program (an upload, an
    // import) and refreshes them, as one undo step. With `binding`, only into
    // the file that was bound then.
    bool replaceRows(const QVector<ProgramRow>& rows, QString* error,
                     const QString& label = QStringLiteral("Upload program"),
                     std::optional<quint64> binding = std::nullopt);

    // The steps Undo and Redo would take; nullopt when there is none.
    std::optional<QString> undoLabel();
    std::optional<QString> redoLabel();
    // One step back or forward; false (after `failed`) when it could not be
    // taken. Nothing happens when there is no step.
    bool undo();
    bool redo();

    std::optional<int> currentRow() const { return m_current; }
    int selectedCount() const { return m_selectedCount; }
    // The current line, and how many lines from it on are selected.
    void setCurrentRow(std::optional<int> row, int selectedCount = 1);
    // The user selected lines: remembered for the undo step, not signalled.
    void noteSelection(std::optional<int> row, int selectedCount);

signals:
    void rowsChanged(const QVector<kqm::program::ProgramRow>& rows);
    // -1: no line is current. count: lines selected from row on.
    void currentRowChanged(int row);
    void selectionChanged(int row, int count);
    // Undo or redo became possible or impossible, or changed its step.
    void historyChanged();
    void memoryTextChanged(const QString& text);
    void boundFileChanged(const QString& path);
    void failed(const QString& message);
    // Another program changed the file; the rows shown are as it is now.
    void changedElsewhere(const QString& message);
    // Another program holds the file locked: the rows shown may be older
    // than the file; they follow as soon as the lock is gone.
    void heldElsewhere(const QString& message);

private:
    void showRows(QVector<ProgramRow> rows);
    // Shows what a change read once the boxes it held back were shown.
    void showAfterBoxes(quint64 shownBefore, QVector<ProgramRow> rows);
    bool takeStep(bool undo);
    // Reads the data_version after this document's own reading or writing.
    void noteVersion();
    bool changedSinceSeen();
    void watch(const QString& path);
    // A look at the file that waits for no lock; held back again while
    // another program holds it.
    void lookWithoutWaiting();
    void holdReload();

    platform::Messages& m_messages;
    ProgramTable m_table;
    ProgramState m_state;
    QVector<ProgramRow> m_rows;
    std::optional<int> m_current;
    int m_selectedCount = 1;
    QString m_bindFailure;
    std::function<bool()> m_guard;
    quint64 m_shownRevision = 0;
    quint64 m_binding = 0;
    std::optional<qint64> m_seenVersion;
    QFileSystemWatcher m_watcher;
    QTimer m_retry;
    bool m_reloadHeld = false;
};

// Whether two versions of a program hold the same lines: the same records
// with the same commands and comments. Line numbers, addresses and listings
// follow from those.
bool sameLines(const QVector<ProgramRow>& a, const QVector<ProgramRow>& b);

} // namespace kqm::program
