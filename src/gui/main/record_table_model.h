// The main window's list over the imported RecordTable: cells are read from
// the table's storage when shown, so a million rows cost no widget items.
#pragma once

#include "core/logimport/record_table.h"

#include <QAbstractTableModel>

namespace logdesk {

class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces the whole table in one step.
    void setTable(RecordTable table);
    const RecordTable& table() const { return table_; }
    // Puts the rows in a new order, keeping the columns and their widths.
    void setRowOrder(std::vector<RecordIndex> order);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    RecordTable table_;
};

} // namespace logdesk
