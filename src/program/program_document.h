#pragma once

#include "program/editing.h"
#include "program/listing.h"
#include "program/program_table.h"

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

    using Edit = std::function<EditResult(ProgramTable&, ProgramState&, platform::Messages&)>;
    // Runs one editing operation and shows its result; a failed write leaves
    // the file as it was and says so.
    bool apply(const Edit& edit);
    // Replaces the rows with a new program (an upload) and refreshes them.
    bool replaceRows(const QVector<ProgramRow>& rows, QString* error);

    std::optional<int> currentRow() const { return m_current; }
    void setCurrentRow(std::optional<int> row);

signals:
    void rowsChanged(const QVector<kqm::program::ProgramRow>& rows);
    // -1: no line is current.
    void currentRowChanged(int row);
    void memoryTextChanged(const QString& text);
    void boundFileChanged(const QString& path);
    void failed(const QString& message);

private:
    void showRows(QVector<ProgramRow> rows);

    platform::Messages& m_messages;
    ProgramTable m_table;
    ProgramState m_state;
    QVector<ProgramRow> m_rows;
    std::optional<int> m_current;
    QString m_bindFailure;
};

} // namespace kqm::program
