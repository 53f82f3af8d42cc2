#pragma once

#include "program/program_table.h"

#include <QAbstractTableModel>
#include <QVector>

namespace kqm::program {

// The read-only view of the program table shown in the grid: five columns in
// field order, refreshed from the rows that the listing refresh stored.
class ProgramGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QVector<ProgramRow> rows);
    const QVector<ProgramRow>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVector<ProgramRow> m_rows;
};

} // namespace kqm::program
