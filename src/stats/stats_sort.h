// A header click on the statistics list: the column sorts as text when its
// caption names the crawler or the URL, as numbers otherwise; a page's
// summary row stays out of the sort and on top.
#pragma once

#include "stats/list_sort.h"
#include "stats/stats_table.h"

#include <string_view>

namespace logdesk {

SortKind StatsSortKind(std::string_view caption);

// Sorts the rows of `page` by `column`. Returns where the row that was at
// `selectedRow` went (-1 for none; a page with a summary row loses its
// selection, as the summary row is taken out first).
int SortStatsPage(StatsTable& page, int column, bool ascending, int selectedRow);

} // namespace logdesk
