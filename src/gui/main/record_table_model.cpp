#include "record_table_model.h"

#include "gui/toolkit/qt_text.h"

namespace logdesk {

void RecordTableModel::setTable(RecordTable table) {
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

void RecordTableModel::setRowOrder(std::vector<RecordIndex> order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    table_.setRowOrder(std::move(order));
    // Nothing outside keeps row positions across a sort; the caller selects
    // the moved row again.
    for (const QModelIndex& index : before) {
        changePersistentIndex(index, QModelIndex());
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.rowCount());
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table_.columnCount();
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= columnCount()) {
        return {};
    }
    return FromGbk(table_.cell(RowIndex{static_cast<std::uint32_t>(index.row())},
                               ColumnIndex{index.column()}));
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount()) {
        return {};
    }
    return FromGbk(table_.columnTitle(ColumnIndex{section}));
}

} // namespace logdesk
