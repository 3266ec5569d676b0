// The colour overlay of the statistics list: text and background colours by
// (row, column), kept across rebuilds of the list and emptied only where a
// page says so. Colours are 0x00BBGGRR values.
#pragma once

#include "stats_table.h"

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace logdesk {

class CellColours {
public:
    struct Colours {
        std::int32_t text;
        std::int32_t background;
    };

    // Sets a cell's colours; a cell in the list's own colours needs no entry
    // unless it has one already.
    void set(int row, int column, std::int32_t text, std::int32_t background, std::int32_t listText,
             std::int32_t listBackground);
    void clear() { entries_.clear(); }
    std::optional<Colours> at(int row, int column) const;
    std::size_t size() const { return entries_.size(); }

    // What a built page asks of the overlay: emptied, summary figures red,
    // some figures back to plain black, all on the list's background.
    void apply(const StatsTable& page, std::int32_t listText, std::int32_t listBackground);

private:
    std::map<std::pair<int, int>, Colours> entries_;
};

} // namespace logdesk
