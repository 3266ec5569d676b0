// Finding the longest cell of every column of a table, so that a list can
// fit its columns by measuring one cell per column instead of all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace logdesk {

// Collects, for each column, the first row that holds one of its longest
// cells (by bytes). Tables of any kind show it their cells, rows in
// ascending order, empty cells left out or not.
class LongestCellRows {
public:
    static constexpr std::int64_t kNone = -1;

    explicit LongestCellRows(std::size_t columns) : rows_(columns, kNone), sizes_(columns, 0) {}

    void see(std::size_t column, std::int64_t row, std::size_t bytes) {
        if (bytes > sizes_[column]) {
            sizes_[column] = bytes;
            rows_[column] = row;
        }
    }

    // Takes in what a piece of later rows found: its cell wins only when
    // strictly longer.
    void join(const LongestCellRows& later) {
        for (std::size_t c = 0; c < rows_.size(); ++c) {
            if (later.sizes_[c] > sizes_[c]) {
                sizes_[c] = later.sizes_[c];
                rows_[c] = later.rows_[c];
            }
        }
    }

    // Per column; kNone for a column whose cells are all empty.
    const std::vector<std::int64_t>& rows() const { return rows_; }

private:
    std::vector<std::int64_t> rows_;
    std::vector<std::size_t> sizes_;
};

} // namespace logdesk
