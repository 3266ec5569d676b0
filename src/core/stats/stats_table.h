// What one page of the detailed statistics window shows, as the core computes
// it: captions, rows of text cells and how the page uses the list's cell
// colour overlay. All texts are GBK; numbers are plain decimal text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace logdesk {

// The statistics pages; StatsPageEntryOf (page_builds.h) says all else of
// each, its window tab among it.
enum class StatsPage {
    SpiderTraffic,
    Url,
    Ip,
    Status,
    SpiderDays, // crawler traffic by date instead of by hour
};

// Windows COLORREF (0x00BBGGRR) of the summary figures.
inline constexpr std::int32_t kSummaryTextColour = 255;
// Text colour the status page puts back on the first row's figures.
inline constexpr std::int32_t kPlainTextColour = 0;

// (row, column), both 0-based.
using CellPosition = std::pair<int, int>;

struct StatsTable {
    std::vector<std::string> headers;
    // Every row has headers.size() cells.
    std::vector<std::vector<std::string>> rows;

    // Row 0 totals the others: a column sort leaves it on top and paints its
    // figures red again afterwards.
    bool summaryRow = false;

    // The overlay is keyed by position and outlives a page, so each page says
    // what it does with it, in this order: empty it, then give these cells
    // kSummaryTextColour, then give these kPlainTextColour (both on the list's
    // own background). The positions may lie beyond the rows shown.
    bool clearColours = false;
    std::vector<CellPosition> redCells;
    std::vector<CellPosition> plainCells;
};

} // namespace logdesk
