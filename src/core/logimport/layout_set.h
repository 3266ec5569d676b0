// The distinct headers of one import and the table's columns made of them.
#pragma once

#include "field_catalogue.h"
#include "log_importer.h"
#include "record_consumer.h"
#include "record_table.h"
#include "spider_catalogue.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace logdesk {

// The field of `header` that stands under the column of `last`'s field of
// `slot` (-1 for none): fields meet in a column by name and by which
// occurrence of the name they are, as buildColumns() places them.
std::int32_t FieldUnder(const HeaderLayout& header, const HeaderLayout& last, FieldSlot slot);

// The fields a streamed record's cells come from, in kPageRecordFields
// order, for a record of `header` in a log that ends with `last`.
std::array<std::int32_t, kPageFieldCount> PageFieldsUnder(const HeaderLayout& header,
                                                          const HeaderLayout& last);

// The distinct headers of one import, in the order they first appear, and
// the table's columns built from them at the end.
class LayoutSet {
public:
    // `streamHeader` (may be null) is ImportOptions::streamHeader.
    LayoutSet(RecordData& data, const HeaderLayout* streamHeader)
        : data_(data), streamHeader_(streamHeader) {}

    // The layout of a header, added on first sight.
    std::uint32_t layoutFor(const HeaderLayout& header);
    std::size_t size() const { return headers_.size(); }
    const HeaderLayout& header(std::uint32_t layout) const { return headers_[layout]; }

    // Makes the table's columns: the last layout's fields first, then the
    // fields only earlier layouts with rows had. Returns the fields left out.
    std::uint32_t buildColumns(std::uint32_t lastLayout, const std::vector<std::uint64_t>& rows);

    // Whether every layout with rows took its streamed cells from the fields
    // the table's columns give it with `lastLayout` last.
    bool streamedExactly(std::uint32_t lastLayout, const std::vector<std::uint64_t>& rows) const;

    // What every import does once its rows are in place: the columns, the
    // record numbers and their texts, and the tally in order of first sight.
    static void finishTable(RecordData& data, LayoutSet& layouts,
                            std::optional<std::uint32_t> lastLayout,
                            const std::vector<std::uint64_t>& layoutRows,
                            const std::array<std::int64_t, kSpiderCount>& visits,
                            const std::vector<SpiderId>& firstSeen, LogImport& result);

private:
    RecordData& data_;
    const HeaderLayout* streamHeader_;
    std::vector<HeaderLayout> headers_;
    // Field names joined by NUL (which no name holds) to their layout.
    std::unordered_map<std::string, std::uint32_t> index_;
};

} // namespace logdesk
