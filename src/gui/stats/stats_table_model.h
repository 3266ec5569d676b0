// The statistics list over a built page, its marked cells in their colours
// (Qt::ForegroundRole). The page is shared with the snapshots handed to workers and
// copied before a change while one of them still reads it.
#pragma once

#include "cell_marks.h"
#include "core/stats/stats_table.h"

#include <QAbstractTableModel>
#include <QColor>
#include <memory>

namespace logdesk {

class StatsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // `marks` must outlive the model.
    StatsTableModel(const CellMarks& marks, QObject* parent = nullptr);

    void setPage(StatsTable page);
    const StatsTable& page() const { return *page_; }
    // The page as it is now, for a worker; later changes do not reach it.
    std::shared_ptr<const StatsTable> snapshot() const { return page_; }
    // Sets one cell's text (GBK); nothing happens outside the page.
    void setCell(int row, int column, std::string text);
    // Puts the rows in a sort's order (ApplyStatsOrder) and returns where
    // `selectedRow` went.
    int reorderRows(const std::vector<std::uint32_t>& order, int selectedRow);
    // Repaints after the marks changed.
    void coloursChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // The page, copied first when a snapshot still shares it.
    StatsTable& writablePage();

    const CellMarks& marks_;
    std::shared_ptr<StatsTable> page_ = std::make_shared<StatsTable>();
};

// The text colour a mark paints; cells are always on the list's background.
QColor CellMarkColour(CellMark mark);

} // namespace logdesk
