#include "program/program_document.h"

#include <QDir>

#include <algorithm>

namespace kqm::program {

ProgramDocument::ProgramDocument(platform::Messages& messages, QObject* parent)
    : QObject(parent), m_messages(messages) {
    connect(&m_state, &ProgramState::bytesUsedCaptionChanged, this,
            &ProgramDocument::memoryTextChanged);
}

void ProgramDocument::showRows(QVector<ProgramRow> rows) {
    m_rows = std::move(rows);
    m_current.reset();
    emit rowsChanged(m_rows);
}

bool ProgramDocument::bind(const QString& path, bool refreshListing, QString* error) {
    m_bindFailure.clear();
    const auto fail = [&](const QString& failure, const QString& reason) {
        m_bindFailure = failure;
        if (error)
            *error = reason;
        m_table.close();
        showRows({});
        emit boundFileChanged(QString());
        emit historyChanged();
        return false;
    };
    if (!m_table.open(path))
        return fail(m_table.openFailure(path), m_table.lastError());
    // The window never shows one file's rows while another is bound: a file
    // whose listing cannot be brought up to date is not bound at all.
    std::optional<QVector<ProgramRow>> rows;
    if (refreshListing) {
        RefreshResult result = RefreshListing(m_table, m_state, m_messages);
        if (!result.ok) {
            return fail(QStringLiteral("%1 cannot be used: its listing could not be brought up to "
                                       "date (%2)")
                            .arg(QDir::toNativeSeparators(path), result.error),
                        result.error);
        }
        rows = std::move(result.rows);
    } else {
        rows = m_table.readRows();
        if (!rows) {
            return fail(QStringLiteral("%1 cannot be used: %2")
                            .arg(QDir::toNativeSeparators(path), m_table.lastError()),
                        m_table.lastError());
        }
    }
    showRows(std::move(*rows));
    emit boundFileChanged(path);
    emit historyChanged();
    return true;
}

void ProgramDocument::close() {
    m_table.close();
}

std::optional<int> ProgramDocument::recordCount() {
    return m_table.isOpen() ? m_table.rowCount() : std::nullopt;
}

bool ProgramDocument::refresh() {
    RefreshResult result = RefreshListing(m_table, m_state, m_messages);
    if (!result.ok) {
        emit failed(
            QStringLiteral("The program table could not be updated (%1).").arg(result.error));
        return false;
    }
    showRows(std::move(result.rows));
    return true;
}

bool ProgramDocument::apply(const Planner& planner) {
    const std::optional<int> currentBefore = m_current;
    EditResult result;
    if (const auto before = m_table.readRows()) {
        result = commitPlan(m_table, m_state, m_messages, *before, planner(*before), currentBefore);
    } else {
        result.error = m_table.lastError();
    }
    if (!result.ok) {
        emit failed(QStringLiteral("The program could not be changed (%1). It is as it was before.")
                        .arg(result.error));
        refresh();
        emit historyChanged();
        return false;
    }
    showRows(std::move(result.rows));
    setCurrentRow(result.currentRow, result.selectedCount);
    emit historyChanged();
    return true;
}

bool ProgramDocument::replaceRows(const QVector<ProgramRow>& rows, QString* error,
                                  const QString& label) {
    // Every row in the file is replaced, also those another program added
    // since this window last read it: the rows are read under the write lock.
    Transaction transaction(m_table.file());
    std::optional<QVector<ProgramRow>> current;
    if (transaction.started())
        current = m_table.readRows();
    EditResult stored;
    if (!current)
        stored.error = m_table.lastError();
    else
        stored = commitPlan(m_table, m_state, m_messages, *current,
                            planReplace(*current, rows, label), m_current);
    if (!stored.ok || !transaction.commit()) {
        if (error)
            *error = stored.ok ? m_table.lastError() : stored.error;
        return false;
    }
    showRows(std::move(stored.rows));
    emit historyChanged();
    return true;
}

std::optional<QString> ProgramDocument::undoLabel() {
    return isBound() ? program::undoLabel(m_table.file()) : std::nullopt;
}

std::optional<QString> ProgramDocument::redoLabel() {
    return isBound() ? program::redoLabel(m_table.file()) : std::nullopt;
}

bool ProgramDocument::undo() {
    return takeStep(true);
}

bool ProgramDocument::redo() {
    return takeStep(false);
}

bool ProgramDocument::takeStep(bool undo) {
    if (!isBound())
        return false;
    HistoryMove move = undo ? undoStep(m_table) : redoStep(m_table);
    if (move.nothing)
        return false;
    if (!move.ok) {
        emit failed((undo ? QStringLiteral("\"%1\" could not be undone (%2).")
                          : QStringLiteral("\"%1\" could not be redone (%2)."))
                        .arg(move.label, move.error));
        refresh();
        emit historyChanged();
        return false;
    }
    publishListing(move.rows, m_state, m_messages);
    showRows(std::move(move.rows));
    setCurrentRow(move.currentRow);
    emit historyChanged();
    return true;
}

void ProgramDocument::noteSelection(std::optional<int> row, int selectedCount) {
    if (row && (*row < 0 || *row >= m_rows.size()))
        row.reset();
    m_current = row;
    m_selectedCount = row ? std::max(selectedCount, 1) : 0;
}

void ProgramDocument::setCurrentRow(std::optional<int> row, int selectedCount) {
    if (row && (*row < 0 || *row >= m_rows.size()))
        row.reset();
    m_current = row;
    m_selectedCount =
        row ? std::clamp(selectedCount, 1, static_cast<int>(m_rows.size()) - *row) : 0;
    emit currentRowChanged(row.value_or(-1));
    if (row && m_selectedCount > 1)
        emit selectionChanged(*row, m_selectedCount);
}

} // namespace kqm::program
