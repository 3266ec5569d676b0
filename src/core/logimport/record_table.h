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

#include "core/base/cancel_token.h"
#include "core/base/platform.h"
#include "record_consumer.h"
#include "segmented_vector.h"
#include "spider_catalogue.h"

#include <algorithm>
#include <array>
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
    std::uint32_t recordCount() const { return recordCount_; }
    int columnCount() const { return static_cast<int>(columnTitles_.size()); }
    const std::vector<std::string>& columnTitles() const { return columnTitles_; }

    // Valid as long as this storage lives. An unknown column gives "".
    std::string_view cell(RecordIndex record, ColumnIndex column) const;
    // The cell as the line holds it: for the user-agent column the agent as
    // logged, not the crawler's name; any other column as cell() gives it.
    std::string_view loggedCell(RecordIndex record, ColumnIndex column) const;

    // The crawler identified for a record; Unknown when its header had no
    // user-agent field.
    SpiderId spider(RecordIndex record) const { return locate(record).row->spider; }

    // The cells of several columns of one record at once: out[i] is
    // cell(record, columns[i]). Cheaper than one cell() call per column.
    void cellsOf(RecordIndex record, const ColumnIndex* columns, std::size_t count,
                 std::string_view* out) const;

    // Calls visit(column, cell) for every non-empty cell of a record that has
    // a column of its own (the record number excluded), in field order. Reads
    // only what the line holds, so it costs the line's cells, not the table's
    // columns.
    template <typename Visit> void forEachStoredCell(RecordIndex record, Visit&& visit) const;

    // Bytes held for the table: file buffers, offsets and rows.
    std::size_t memoryBytes() const;

private:
    std::string_view cellOf(RecordIndex record, ColumnIndex column, bool logged) const;

    // The importer's parts.
    friend class RecordDataBuilder;
    friend class PartBuilder;
    friend class LayoutSet;
    friend class ChunkStore;
    friend class ParallelImport;

    // A row stores where its line starts and the boundaries of the cells
    // its line has, not of every column: fields the line lacks read as
    // empty without being stored.
    struct RowRef {
        std::uint32_t lineStart;   // offset of the line in its buffer
        std::uint32_t boundaryLow; // first stored boundary: index into its part's
        std::uint16_t boundaryHigh;
        SpiderId spider;
        // Boundaries of the row, the line start included (2..255); kWide for
        // a line too long for 16-bit offsets or with more boundaries, whose
        // count and boundaries are in its part's `wide`.
        std::uint8_t boundaries;
        std::uint32_t layout;

        std::uint64_t firstBoundary() const {
            return boundaryLow | (std::uint64_t{boundaryHigh} << 32);
        }
    };
    static_assert(sizeof(RowRef) == 16);
    static constexpr std::uint8_t kWide = 0;
    static constexpr std::size_t kMostNarrowBoundaries = 255;
    // Longest line whose boundaries fit 16 bits (the end marker is the
    // line's length + 1).
    static constexpr std::size_t kNarrowLine = 0xFFFE;

    // Consecutive records, read by one worker. Rows point into the buffers
    // listed in `chunks` (from the row given on, that buffer).
    struct Part {
        std::uint32_t firstRecord = 0;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> chunks; // (first row, chunk)
        SegmentedVector<RowRef, 12> rows;
        // Cell f of a row spans [b[f], b[f + 1] - 1) from its line start
        // (clamped to empty); b[0] = 0 is not stored, b[1..n-1] are.
        SegmentedVector<std::uint16_t, 18> boundaries;
        std::vector<std::uint32_t> wide; // per wide row: n, then b[1..n-1]

        std::uint32_t chunkOf(std::uint32_t row) const;
    };

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

        // Streaming imports only: the field each cell of a PageRecord comes
        // from (-1: none), in kPageRecordFields order.
        std::array<std::int32_t, kPageFieldCount> pageFields = NoPageFields();
    };
    static constexpr std::array<std::int32_t, kPageFieldCount> NoPageFields() {
        std::array<std::int32_t, kPageFieldCount> none{};
        none.fill(-1);
        return none;
    }

    struct Chunk {
        // Mapped for few page faults, resized by remapping (base/platform.h).
        BigBuffer bytes;
        std::size_t capacity = 0;
    };

    // A row's cells, as a reader sees them.
    struct Located {
        const Part* part;
        const RowRef* row;
        std::uint32_t localRow;
    };
    Located locate(RecordIndex record) const;
    // Boundary i (0 <= i < count) of a located row, and the count.
    std::size_t boundaryCount(const Located& at) const;
    std::uint32_t boundary(const Located& at, std::size_t i) const;

    std::vector<Chunk> chunks_;
    // The parts' blocks; declared before the parts, so it goes after them.
    BlockArena blockArena_;
    std::vector<Part> parts_;
    std::vector<std::uint32_t> partFirst_; // first record of each part
    std::uint32_t recordCount_ = 0;
    std::vector<Layout> layouts_;
    std::vector<std::string> columnTitles_;
    // "123456789101112...": the record numbers' texts, back to back.
    std::string numberDigits_;
};

inline std::uint32_t RecordData::Part::chunkOf(std::uint32_t row) const {
    if (chunks.size() == 1) {
        return chunks.front().second;
    }
    const auto it =
        std::upper_bound(chunks.begin(), chunks.end(), row,
                         [](std::uint32_t r, const std::pair<std::uint32_t, std::uint32_t>& c) {
                             return r < c.first;
                         });
    return std::prev(it)->second;
}

inline RecordData::Located RecordData::locate(RecordIndex record) const {
    const std::uint32_t r = ToInt(record);
    std::size_t p = 0;
    if (parts_.size() > 1) {
        p = static_cast<std::size_t>(std::upper_bound(partFirst_.begin(), partFirst_.end(), r) -
                                     partFirst_.begin()) -
            1;
    }
    const Part& part = parts_[p];
    const std::uint32_t local = r - part.firstRecord;
    return {&part, &part.rows[local], local};
}

inline std::size_t RecordData::boundaryCount(const Located& at) const {
    const std::uint8_t n = at.row->boundaries;
    return n == kWide ? at.part->wide[at.row->firstBoundary()] : n;
}

inline std::uint32_t RecordData::boundary(const Located& at, std::size_t i) const {
    if (i == 0) {
        return 0;
    }
    if (at.row->boundaries == kWide) {
        return at.part->wide[at.row->firstBoundary() + i];
    }
    return at.part->boundaries[at.row->firstBoundary() + i - 1];
}

template <typename Visit>
void RecordData::forEachStoredCell(RecordIndex record, Visit&& visit) const {
    const Located at = locate(record);
    const Layout& layout = layouts_[at.row->layout];
    const std::size_t stored = boundaryCount(at);
    const char* line = chunks_[at.part->chunkOf(at.localRow)].bytes.data() + at.row->lineStart;
    const std::size_t present = std::min(layout.fieldToColumn.size(), stored - 1);
    std::uint32_t begin = 0;
    for (std::size_t f = 0; f < present; ++f) {
        const std::uint32_t next = boundary(at, f + 1);
        const std::int32_t column = layout.fieldToColumn[f];
        if (column >= 0) {
            if (static_cast<std::int32_t>(f) == layout.userAgentField) {
                visit(ColumnIndex{column}, std::string_view(SpiderDisplayName(at.row->spider)));
            } else if (next > begin + 1) {
                visit(ColumnIndex{column}, std::string_view(line + begin, next - 1 - begin));
            }
        }
        begin = next;
    }
    // The crawler's name stands in every row of a header with a user-agent
    // field, also where the line stops before it.
    if (layout.userAgentField >= 0 && static_cast<std::size_t>(layout.userAgentField) >= present) {
        const std::int32_t column =
            layout.fieldToColumn[static_cast<std::size_t>(layout.userAgentField)];
        if (column >= 0) {
            visit(ColumnIndex{column}, std::string_view(SpiderDisplayName(at.row->spider)));
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
// `cancel` was cancelled (polled every few thousand records).
std::vector<RecordIndex> LongestCells(const RecordData& data, const CancelToken& cancel = {});

} // namespace logdesk
