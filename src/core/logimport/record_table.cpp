#include "record_table.h"

#include "longest_cells.h"
#include "parallel_work.h"

#include <cstdlib>

namespace logdesk {

namespace {

// Start of the text of record number n (n >= 1) inside the digits buffer.
std::size_t NumberOffset(std::uint64_t n, std::size_t* length) {
    std::size_t offset = 0;
    std::uint64_t first = 1; // smallest number with `digits` digits
    std::size_t digits = 1;
    while (n >= first * 10) {
        offset += static_cast<std::size_t>(first * 9) * digits;
        first *= 10;
        ++digits;
    }
    *length = digits;
    return offset + static_cast<std::size_t>(n - first) * digits;
}

} // namespace

std::int32_t RecordData::Layout::fieldOf(std::int32_t column) const {
    if (!columnToField.empty()) {
        return static_cast<std::size_t>(column) < columnToField.size()
                   ? columnToField[static_cast<std::size_t>(column)]
                   : -1;
    }
    const auto it = std::lower_bound(sparseColumns.begin(), sparseColumns.end(),
                                     std::pair<std::int32_t, std::int32_t>(column, -1));
    return it != sparseColumns.end() && it->first == column ? it->second : -1;
}

std::string_view RecordData::cell(RecordIndex record, ColumnIndex column) const {
    return cellOf(record, column, false);
}

std::string_view RecordData::loggedCell(RecordIndex record, ColumnIndex column) const {
    return cellOf(record, column, true);
}

std::string_view RecordData::cellOf(RecordIndex record, ColumnIndex column, bool logged) const {
    const std::int32_t col = ToInt(column);
    if (col < 0 || col >= columnCount() || ToInt(record) >= recordCount()) {
        return {};
    }
    if (col == 0) {
        std::size_t length = 0;
        const std::size_t offset = NumberOffset(std::uint64_t{ToInt(record)} + 1, &length);
        return std::string_view(numberDigits_).substr(offset, length);
    }
    const Located at = locate(record);
    const Layout& layout = layouts_[at.row->layout];
    const std::int32_t field = layout.fieldOf(col);
    if (field < 0) {
        return {};
    }
    if (field == layout.userAgentField && !logged) {
        return SpiderDisplayName(at.row->spider);
    }
    const auto f = static_cast<std::size_t>(field);
    if (f + 1 >= boundaryCount(at)) {
        return {};
    }
    const std::uint32_t begin = boundary(at, f);
    const std::uint32_t next = boundary(at, f + 1);
    if (next <= begin) {
        return {};
    }
    const char* line = chunks_[at.part->chunkOf(at.localRow)].bytes.data() + at.row->lineStart;
    return std::string_view(line + begin, next - 1 - begin);
}

void RecordData::cellsOf(RecordIndex record, const ColumnIndex* columns, std::size_t count,
                         std::string_view* out) const {
    if (ToInt(record) >= recordCount()) {
        std::fill(out, out + count, std::string_view());
        return;
    }
    const Located at = locate(record);
    const Layout& layout = layouts_[at.row->layout];
    const std::size_t stored = boundaryCount(at);
    const char* line = chunks_[at.part->chunkOf(at.localRow)].bytes.data() + at.row->lineStart;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t col = ToInt(columns[i]);
        out[i] = {};
        if (col == 0) {
            out[i] = cell(record, columns[i]);
            continue;
        }
        if (col < 0 || col >= columnCount()) {
            continue;
        }
        const std::int32_t field = layout.fieldOf(col);
        if (field < 0) {
            continue;
        }
        if (field == layout.userAgentField) {
            out[i] = SpiderDisplayName(at.row->spider);
            continue;
        }
        const auto f = static_cast<std::size_t>(field);
        if (f + 1 >= stored) {
            continue;
        }
        const std::uint32_t begin = boundary(at, f);
        const std::uint32_t next = boundary(at, f + 1);
        if (next > begin) {
            out[i] = std::string_view(line + begin, next - 1 - begin);
        }
    }
}

std::size_t RecordData::memoryBytes() const {
    std::size_t bytes = numberDigits_.size();
    for (const Part& part : parts_) {
        bytes += part.rows.capacityBytes() + part.boundaries.capacityBytes() +
                 part.wide.capacity() * sizeof(std::uint32_t);
    }
    for (const Chunk& chunk : chunks_) {
        bytes += chunk.capacity;
    }
    return bytes;
}

std::vector<RecordIndex> LongestCells(const RecordData& data, const CancelToken& cancel) {
    const std::uint32_t records = data.recordCount();
    if (records == 0) {
        return {};
    }
    const auto columns = static_cast<std::size_t>(data.columnCount());
    // Pieces of records on every thread, joined in record order: a later
    // piece's cell wins only when it is strictly longer, which keeps the
    // first of the longest.
    constexpr std::uint32_t kPiece = 1u << 17;
    const std::size_t pieces = (std::size_t{records} + kPiece - 1) / kPiece;
    std::vector<LongestCellRows> found(pieces, LongestCellRows(columns));
    std::atomic<bool> stopped{false};
    RunPieces(pieces, WorkThreads(0), [&](std::size_t piece, unsigned) {
        const auto first = static_cast<std::uint32_t>(piece * kPiece);
        const std::uint32_t last = std::min(records, first + kPiece);
        for (std::uint32_t r = first; r < last; ++r) {
            if (r % 4096 == 0 && cancel.cancelled()) {
                stopped = true;
                return;
            }
            data.forEachStoredCell(RecordIndex{r}, [&](ColumnIndex column, std::string_view cell) {
                found[piece].see(static_cast<std::size_t>(ToInt(column)), r, cell.size());
            });
        }
    });
    if (stopped) {
        return {};
    }
    for (std::size_t p = 1; p < pieces; ++p) {
        found.front().join(found[p]);
    }
    // The record numbers are not stored cells; the last one is the longest.
    std::vector<RecordIndex> longest(columns, RecordIndex{records - 1});
    for (std::size_t c = 0; c < columns; ++c) {
        if (found.front().rows()[c] != LongestCellRows::kNone) {
            longest[c] = RecordIndex{static_cast<std::uint32_t>(found.front().rows()[c])};
        }
    }
    return longest;
}

std::string_view RecordTable::columnTitle(ColumnIndex column) const {
    if (!data_ || ToInt(column) < 0 || ToInt(column) >= columnCount()) {
        return {};
    }
    return data_->columnTitles()[static_cast<std::size_t>(ToInt(column))];
}

} // namespace logdesk
