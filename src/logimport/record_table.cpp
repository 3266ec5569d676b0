#include "record_table.h"

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

std::string_view RecordData::cell(RecordIndex record, ColumnIndex column) const {
    const std::int32_t col = ToInt(column);
    if (col < 0 || col >= columnCount() || ToInt(record) >= recordCount()) {
        return {};
    }
    if (col == 0) {
        std::size_t length = 0;
        const std::size_t offset = NumberOffset(std::uint64_t{ToInt(record)} + 1, &length);
        return std::string_view(numberDigits_).substr(offset, length);
    }
    const RowRef& row = rows_[ToInt(record)];
    const Layout& layout = layouts_[row.layout];
    const std::int32_t field = layout.columnToField[static_cast<std::size_t>(col)];
    if (field < 0) {
        return {};
    }
    if (field == layout.userAgentField) {
        return SpiderDisplayName(row.spider);
    }
    const std::uint32_t begin = boundaries_[row.firstBoundary + static_cast<std::size_t>(field)];
    const std::uint32_t next = boundaries_[row.firstBoundary + static_cast<std::size_t>(field) + 1];
    if (next <= begin) {
        return {};
    }
    return std::string_view(chunks_[row.chunk].bytes.get() + begin, next - 1 - begin);
}

std::size_t RecordData::memoryBytes() const {
    std::size_t bytes = boundaries_.capacityBytes() + rows_.capacityBytes() + numberDigits_.size();
    for (const Chunk& chunk : chunks_) {
        bytes += chunk.capacity;
    }
    return bytes;
}

std::vector<RecordIndex> LongestCells(const RecordData& data) {
    const std::uint32_t records = data.recordCount();
    if (records == 0) {
        return {};
    }
    const auto columns = static_cast<std::size_t>(data.columnCount());
    std::vector<RecordIndex> longest(columns, RecordIndex{records - 1});
    std::vector<std::size_t> sizes(columns, 0);
    for (std::uint32_t r = 0; r < records; ++r) {
        for (std::size_t c = 1; c < columns; ++c) {
            const std::size_t size =
                data.cell(RecordIndex{r}, ColumnIndex{static_cast<std::int32_t>(c)}).size();
            if (size > sizes[c]) {
                sizes[c] = size;
                longest[c] = RecordIndex{r};
            }
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
