#include "program/program_grid_model.h"

#include "program/command_set.h"

namespace kqm::program {

void ProgramGridModel::setRows(QVector<ProgramRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int ProgramGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ProgramGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant ProgramGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const ProgramRow& row = m_rows.at(index.row());
    switch (index.column()) {
    case 0:
        return row.lineNo;
    case 1:
        return row.address;
    case 2:
        return StripCrLf(row.command);
    case 3:
        return row.listing;
    case 4:
        return row.comment;
    default:
        return {};
    }
}

QVariant ProgramGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const names[] = {"LineNo", "Address", "Command", "Listing", "Comment"};
    return section >= 0 && section < 5 ? QString::fromLatin1(names[section]) : QVariant();
}

Qt::ItemFlags ProgramGridModel::flags(const QModelIndex& index) const {
    // Rows can be selected, never edited in place.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace kqm::program
