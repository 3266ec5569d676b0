// What one page of the detailed statistics window shows, as the core computes
// it: captions, rows of text cells and which cells the list marks out. All texts are GBK; numbers are plain decimal text.
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
    Timing,     // response times per crawler, or per URL of one
    Sections,   // visits and status shares per (directory, crawler)
    Flapping,   // (URL, crawler) pairs that gave more than one status
    Coverage,   // the site's URL list against what the crawlers fetched
};

// (row, column), both 0-based.
using CellPosition = std::pair<int, int>;

struct StatsTable {
    std::vector<std::string> headers;
    // Every row has headers.size() cells.
    std::vector<std::vector<std::string>> rows;

    // Row 0 totals the others: a column sort leaves it on top and marks its
    // figures as summary figures again afterwards.
    bool summaryRow = false;

    // How cells are marked out is kept by position and outlives a page (the
    // window decides what a mark looks like), so each page says what it does
    // with the marks, in this order: drop them all, then mark these cells as
    // summary figures, then mark these as plain figures. The positions may
    // lie beyond the rows shown.
    bool clearMarks = false;
    std::vector<CellPosition> summaryCells;
    std::vector<CellPosition> plainCells;

    // Why the page shows no figures though the log has records, where a
    // missing field is the reason and empty columns would read as zeros;
    // empty otherwise. Shown beside the page, not in it.
    std::string notice;
};

} // namespace logdesk
