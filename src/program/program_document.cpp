#include "program/program_document.h"

#include <QDir>

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

bool ProgramDocument::apply(const Edit& edit) {
    EditResult result = edit(m_table, m_state, m_messages);
    if (!result.ok) {
        emit failed(QStringLiteral("The program could not be changed (%1). It is as it was before.")
                        .arg(result.error));
        refresh();
        return false;
    }
    showRows(std::move(result.rows));
    setCurrentRow(result.currentRow);
    return true;
}

bool ProgramDocument::replaceRows(const QVector<ProgramRow>& rows, QString* error) {
    RefreshResult stored = storeAndRefresh(m_table, m_rows, rows, m_state, m_messages);
    if (!stored.ok) {
        if (error)
            *error = stored.error;
        return false;
    }
    showRows(std::move(stored.rows));
    return true;
}

void ProgramDocument::setCurrentRow(std::optional<int> row) {
    if (row && (*row < 0 || *row >= m_rows.size()))
        row.reset();
    m_current = row;
    emit currentRowChanged(row.value_or(-1));
}

} // namespace kqm::program
