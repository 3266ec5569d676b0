// A header click on the statistics list: the column sorts as text when its
// caption names the crawler or the URL, as numbers otherwise; a page's
// summary row stays out of the sort and on top.
//
// The sort comes in three steps so that the costly middle one can run on a
// worker while the page itself stays with its owner: copy the cells of the
// column, compute their order, put the rows in that order.
#pragma once

#include "core/base/cancel_token.h"
#include "list_sort.h"
#include "stats_table.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

SortKind StatsSortKind(std::string_view caption);

// The cells of `column` in every row the sort moves (all but the summary
// row), in row order; empty for a column the page lacks.
std::vector<std::string> StatsSortCells(const StatsTable& page, int column);

// result[q] is the index into `cells` of the row that goes to place q.
std::vector<std::uint32_t> StatsSortOrder(const std::vector<std::string>& cells, SortKind kind,
                                          bool ascending);

// The first two steps at once, over a page nobody changes meanwhile (a
// snapshot), by the kind its caption gives: the order over the cells
// StatsSortCells would copy, read in place. Empty for a column the page
// lacks, and once `cancel` was cancelled (polled every few thousand rows).
std::vector<std::uint32_t> StatsSortOrder(const StatsTable& page, int column, bool ascending,
                                          const CancelToken& cancel = {},
                                          const Parallelism& parallel = {});

// True when the order puts some row in another place.
bool MovesRows(const std::vector<std::uint32_t>& order);

// Puts the rows after the summary row in `order`, an order over the cells
// StatsSortCells gave for this page; a page whose row count no longer
// matches is left alone. Returns where the row that was at `selectedRow`
// went (-1 for none; a page with a summary row loses its selection, as the
// summary row is taken out first).
int ApplyStatsOrder(StatsTable& page, const std::vector<std::uint32_t>& order, int selectedRow);

// The three steps at once. A column the page lacks changes nothing.
int SortStatsPage(StatsTable& page, int column, bool ascending, int selectedRow,
                  const Parallelism& parallel = {});

} // namespace logdesk
