// The imported records: column 0 is the record number, the other columns the
// fields of the log's header, the user-agent column holding the crawler's
// display name.
//
// The cells are not copied out of the log: the file's bytes stay in a few
// large buffers and every row is a set of offsets into them. A RecordTable is
// a cheap handle over that immutable storage plus a row order; copies share
// the storage, so a finished table can be handed from the importing thread to
// the GUI thread and snapshotted by readers on other threads.
#pragma once

#include "segmented_vector.h"
#include "spider_catalogue.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// A row of the table's current order (what a list shows as its row r).
enum class RowIndex : std::uint32_t {};
// A record in file order; its record number is the index + 1.
enum class RecordIndex : std::uint32_t {};
// A table column; 0 is the record number.
enum class ColumnIndex : std::int32_t {};

constexpr std::uint32_t ToInt(RowIndex r) {
    return static_cast<std::uint32_t>(r);
}
constexpr std::uint32_t ToInt(RecordIndex r) {
    return static_cast<std::uint32_t>(r);
}
constexpr std::int32_t ToInt(ColumnIndex c) {
    return static_cast<std::int32_t>(c);
}

// Most columns a table holds, the record number included. Real logs name a
// few dozen fields; a log naming more keeps the first ones (in column order)
// and the import says how many it left out.
inline constexpr int kMaxTableColumns = 1024;

// Storage of one import; built by the importer, read-only afterwards.
class RecordData {
public:
    std::uint32_t recordCount() const { return static_cast<std::uint32_t>(rows_.size()); }
    int columnCount() const { return static_cast<int>(columnTitles_.size()); }
    const std::vector<std::string>& columnTitles() const { return columnTitles_; }

    // Valid as long as this storage lives. An unknown column gives "".
    std::string_view cell(RecordIndex record, ColumnIndex column) const;

    // The crawler identified for a record; Unknown when its header had no
    // user-agent field.
    SpiderId spider(RecordIndex record) const { return rows_[ToInt(record)].spider; }

    // Calls visit(column, cell) for every non-empty cell of a record that has
    // a column of its own (the record number excluded), in field order. Reads
    // only what the line holds, so it costs the line's cells, not the table's
    // columns.
    template <typename Visit> void forEachStoredCell(RecordIndex record, Visit&& visit) const;

    // Bytes held for the table: file buffers, offsets and rows.
    std::size_t memoryBytes() const;

private:
    friend class RecordDataBuilder;

    // A row stores the boundaries of the cells its line has, not of every
    // column: fields its line lacks read as empty without being stored.
    struct RowRef {
        std::uint32_t boundaryLow; // first boundary: index into boundaries_
        std::uint16_t boundaryHigh;
        SpiderId spider;
        std::uint8_t storedBoundaries; // how many; 255 = look at the next row
        std::uint32_t chunk;
        std::uint32_t layout;

        std::uint64_t firstBoundary() const {
            return boundaryLow | (std::uint64_t{boundaryHigh} << 32);
        }
    };
    static_assert(sizeof(RowRef) == 16);
    static constexpr std::uint8_t kManyBoundaries = 255;

    // How one header's fields land in the table's columns.
    struct Layout {
        std::int32_t fieldCount = 0;
        std::int32_t userAgentField = -1;        // 0-based field, -1 for none
        std::vector<std::int32_t> fieldToColumn; // per field, -1 when not in the table
        // Column to field: dense per table column when the table has few
        // layouts, otherwise (column, field) pairs sorted by column, so that
        // thousands of distinct headers cost memory in their own size.
        std::vector<std::int32_t> columnToField;
        std::vector<std::pair<std::int32_t, std::int32_t>> sparseColumns;

        std::int32_t fieldOf(std::int32_t column) const;
    };

    struct FreeBytes {
        void operator()(char* p) const;
    };
    struct Chunk {
        std::unique_ptr<char, FreeBytes> bytes; // malloc'd, so it can grow in place
        std::size_t capacity = 0;
    };

    std::size_t storedBoundaries(RecordIndex record, const RowRef& row) const;

    std::vector<Chunk> chunks_;
    // Cell f of a row spans [b[f], b[f + 1] - 1) of its chunk (clamped to
    // empty): every field starts one byte after the blank that ended the
    // previous one. A row stores b[0..n-1]; fields from n - 1 on are empty.
    SegmentedVector<std::uint32_t> boundaries_;
    SegmentedVector<RowRef, 16> rows_;
    std::vector<Layout> layouts_;
    std::vector<std::string> columnTitles_;
    // "123456789101112...": the record numbers' texts, back to back.
    std::string numberDigits_;
};

inline std::size_t RecordData::storedBoundaries(RecordIndex record, const RowRef& row) const {
    if (row.storedBoundaries != kManyBoundaries) {
        return row.storedBoundaries;
    }
    const std::size_t next = ToInt(record) + 1;
    const std::uint64_t end =
        next < rows_.size() ? rows_[next].firstBoundary() : boundaries_.size();
    return static_cast<std::size_t>(end - row.firstBoundary());
}

template <typename Visit>
void RecordData::forEachStoredCell(RecordIndex record, Visit&& visit) const {
    const RowRef& row = rows_[ToInt(record)];
    const Layout& layout = layouts_[row.layout];
    const std::size_t stored = storedBoundaries(record, row);
    const char* bytes = chunks_[row.chunk].bytes.get();
    const std::uint64_t first = row.firstBoundary();
    const std::size_t present = std::min(layout.fieldToColumn.size(), stored > 0 ? stored - 1 : 0);
    for (std::size_t f = 0; f < present; ++f) {
        const std::int32_t column = layout.fieldToColumn[f];
        if (column < 0) {
            continue;
        }
        if (static_cast<std::int32_t>(f) == layout.userAgentField) {
            visit(ColumnIndex{column}, std::string_view(SpiderDisplayName(row.spider)));
            continue;
        }
        const std::uint32_t begin = boundaries_[first + f];
        const std::uint32_t next = boundaries_[first + f + 1];
        if (next > begin + 1) {
            visit(ColumnIndex{column}, std::string_view(bytes + begin, next - 1 - begin));
        }
    }
    // The crawler's name stands in every row of a header with a user-agent
    // field, also where the line stops before it.
    if (layout.userAgentField >= 0 && static_cast<std::size_t>(layout.userAgentField) >= present) {
        const std::int32_t column =
            layout.fieldToColumn[static_cast<std::size_t>(layout.userAgentField)];
        if (column >= 0) {
            visit(ColumnIndex{column}, std::string_view(SpiderDisplayName(row.spider)));
        }
    }
}

class RecordTable {
public:
    RecordTable() = default;
    explicit RecordTable(std::shared_ptr<const RecordData> data) : data_(std::move(data)) {}

    int columnCount() const { return data_ ? data_->columnCount() : 0; }
    // "" for a column the table does not have.
    std::string_view columnTitle(ColumnIndex column) const;
    std::uint32_t rowCount() const { return data_ ? data_->recordCount() : 0; }

    RecordIndex record(RowIndex row) const {
        return order_.empty() ? RecordIndex{ToInt(row)} : order_[ToInt(row)];
    }
    // Valid as long as any copy of this table lives.
    std::string_view cell(RowIndex row, ColumnIndex column) const {
        return data_->cell(record(row), column);
    }

    // Reorders the rows; `order` must be a permutation of all records (an
    // empty order restores file order). No cell is copied.
    void setRowOrder(std::vector<RecordIndex> order) { order_ = std::move(order); }
    const std::vector<RecordIndex>& rowOrder() const { return order_; }

    const std::shared_ptr<const RecordData>& data() const { return data_; }

private:
    std::shared_ptr<const RecordData> data_;
    std::vector<RecordIndex> order_; // empty = file order
};

// For each column, a record holding one of its longest cells (by bytes), so
// a list can fit its columns by measuring one cell per column instead of all
// of them: the first such record, the last record for the record numbers
// and for a column of empty cells. Empty for a table without rows, and once
// `*cancel` turned true (polled every few thousand records).
std::vector<RecordIndex> LongestCells(const RecordData& data,
                                      const std::atomic<bool>* cancel = nullptr);

} // namespace logdesk
