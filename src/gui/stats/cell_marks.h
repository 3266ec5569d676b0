// The marks the statistics list paints its cells by: summary figures and
// plain figures, by (row, column). They are kept across rebuilds of the list
// (and across statistics windows) and dropped only where a page says so, so
// a mark may outlive the figure it was given for. What a mark looks like is
// the list model's business (CellMarkColour); GUI thread only.
#pragma once

#include "core/stats/stats_table.h"

#include <map>
#include <optional>
#include <utility>

namespace logdesk {

enum class CellMark {
    Summary, // a total: red
    Plain,   // a figure put back to plain black
};

class CellMarks {
public:
    void mark(int row, int column, CellMark mark) { entries_[{row, column}] = mark; }
    void clear() { entries_.clear(); }
    std::optional<CellMark> at(int row, int column) const;
    std::size_t size() const { return entries_.size(); }

    // What a built page asks of the marks, in the order StatsTable gives.
    void apply(const StatsTable& page);
    // Marks the figures of a summary row 0 again, as a sort leaves it.
    void markSummaryRow(const StatsTable& page);

private:
    std::map<std::pair<int, int>, CellMark> entries_;
};

} // namespace logdesk
