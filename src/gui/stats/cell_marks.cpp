#include "cell_marks.h"

namespace logdesk {

std::optional<CellMark> CellMarks::at(int row, int column) const {
    const auto it = entries_.find({row, column});
    if (it == entries_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void CellMarks::apply(const StatsTable& page) {
    if (page.clearMarks) {
        clear();
    }
    for (const auto& [row, column] : page.summaryCells) {
        mark(row, column, CellMark::Summary);
    }
    for (const auto& [row, column] : page.plainCells) {
        mark(row, column, CellMark::Plain);
    }
}

void CellMarks::markSummaryRow(const StatsTable& page) {
    if (!page.summaryRow || page.rows.empty()) {
        return;
    }
    for (int c = 1; c < static_cast<int>(page.headers.size()); ++c) {
        mark(0, c, CellMark::Summary);
    }
}

} // namespace logdesk
