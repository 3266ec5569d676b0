#include "verify_table_model.h"

#include "gui/toolkit/qt_text.h"

#include <QColor>

namespace logdesk {

void VerifyTableModel::setTable(std::vector<std::string> headers,
                                std::vector<std::vector<std::string>> rows, std::vector<bool> red) {
    beginResetModel();
    headers_ = std::move(headers);
    rows_ = std::move(rows);
    red_ = std::move(red);
    endResetModel();
}

bool VerifyTableModel::redRow(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < red_.size() &&
           red_[static_cast<std::size_t>(row)];
}

int VerifyTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int VerifyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant VerifyTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return FromGbk(
            rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
    case Qt::ForegroundRole:
        // Pure red, the colour the statistics list gives its summary figures.
        return redRow(index.row()) ? QVariant(QColor(255, 0, 0)) : QVariant();
    default:
        return {};
    }
}

QVariant VerifyTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount()) {
        return {};
    }
    return FromGbk(headers_[static_cast<std::size_t>(section)]);
}

} // namespace logdesk
