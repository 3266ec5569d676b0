#include "stats_table_model.h"

#include "core/stats/stats_sort.h"
#include "gui/toolkit/qt_text.h"

namespace logdesk {

QColor CellMarkColour(CellMark mark) {
    switch (mark) {
    case CellMark::Summary:
        return QColor(255, 0, 0);
    case CellMark::Plain:
        break;
    }
    return QColor(0, 0, 0);
}

StatsTableModel::StatsTableModel(const CellMarks& marks, QObject* parent)
    : QAbstractTableModel(parent), marks_(marks) {}

void StatsTableModel::setPage(StatsTable page) {
    beginResetModel();
    page_ = std::make_shared<StatsTable>(std::move(page));
    endResetModel();
}

StatsTable& StatsTableModel::writablePage() {
    // Only this thread makes new snapshots, so a count of 1 stays 1.
    if (page_.use_count() > 1) {
        page_ = std::make_shared<StatsTable>(*page_);
    }
    return *page_;
}

void StatsTableModel::setCell(int row, int column, std::string text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return;
    }
    writablePage().rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] =
        std::move(text);
    emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
}

int StatsTableModel::reorderRows(const std::vector<std::uint32_t>& order, int selectedRow) {
    beginResetModel();
    const int selected = ApplyStatsOrder(writablePage(), order, selectedRow);
    endResetModel();
    return selected;
}

void StatsTableModel::coloursChanged() {
    if (rowCount() > 0 && columnCount() > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                         {Qt::ForegroundRole});
    }
}

int StatsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(page_->rows.size());
}

int StatsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(page_->headers.size());
}

QVariant StatsTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return FromGbk(page_->rows[static_cast<std::size_t>(index.row())]
                                  [static_cast<std::size_t>(index.column())]);
    case Qt::ForegroundRole:
        if (const auto mark = marks_.at(index.row(), index.column())) {
            return CellMarkColour(*mark);
        }
        return {};
    default:
        return {};
    }
}

QVariant StatsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount()) {
        return {};
    }
    return FromGbk(page_->headers[static_cast<std::size_t>(section)]);
}

} // namespace logdesk
