#include "stats_sort.h"

#include "core/text/gbk_codec.h"
#include "core/text/text_search.h"

namespace logdesk {

namespace {

std::size_t FirstSortedRow(const StatsTable& page) {
    return page.summaryRow && !page.rows.empty() ? 1 : 0;
}

} // namespace

SortKind StatsSortKind(std::string_view caption) {
    static const std::string textColumns = Gbk("所属蜘蛛[fg]URL");
    return MatchAlternatives(caption, textColumns, true) ? SortKind::Text : SortKind::Number;
}

std::vector<std::string> StatsSortCells(const StatsTable& page, int column) {
    std::vector<std::string> cells;
    if (column < 0 || static_cast<std::size_t>(column) >= page.headers.size()) {
        return cells;
    }
    const std::size_t first = FirstSortedRow(page);
    cells.reserve(page.rows.size() - first);
    for (std::size_t r = first; r < page.rows.size(); ++r) {
        cells.push_back(page.rows[r][static_cast<std::size_t>(column)]);
    }
    return cells;
}

std::vector<std::uint32_t> StatsSortOrder(const std::vector<std::string>& cells, SortKind kind,
                                          bool ascending) {
    return SortOrder(
        static_cast<std::uint32_t>(cells.size()),
        [&](std::uint32_t r) -> std::string_view { return cells[r]; }, kind, ascending);
}

std::vector<std::uint32_t> StatsSortOrder(const StatsTable& page, int column, bool ascending,
                                          const CancelToken& cancel, const Parallelism& parallel) {
    if (column < 0 || static_cast<std::size_t>(column) >= page.headers.size()) {
        return {};
    }
    const std::size_t first = FirstSortedRow(page);
    const auto c = static_cast<std::size_t>(column);
    return SortOrder(
        static_cast<std::uint32_t>(page.rows.size() - first),
        [&](std::uint32_t r) -> std::string_view { return page.rows[first + r][c]; },
        StatsSortKind(page.headers[c]), ascending, cancel, parallel);
}

bool MovesRows(const std::vector<std::uint32_t>& order) {
    for (std::size_t q = 0; q < order.size(); ++q) {
        if (order[q] != q) {
            return true;
        }
    }
    return false;
}

int ApplyStatsOrder(StatsTable& page, const std::vector<std::uint32_t>& order, int selectedRow) {
    const std::size_t first = FirstSortedRow(page);
    if (order.size() != page.rows.size() - first) {
        return selectedRow;
    }
    if (first == 1) {
        selectedRow = -1;
    }
    std::vector<std::vector<std::string>> sorted;
    sorted.reserve(page.rows.size());
    if (first == 1) {
        sorted.push_back(std::move(page.rows[0]));
    }
    int selectedAt = -1;
    for (std::size_t q = 0; q < order.size(); ++q) {
        if (static_cast<int>(first + order[q]) == selectedRow) {
            selectedAt = static_cast<int>(first + q);
        }
        sorted.push_back(std::move(page.rows[first + order[q]]));
    }
    page.rows = std::move(sorted);
    return selectedAt;
}

int SortStatsPage(StatsTable& page, int column, bool ascending, int selectedRow,
                  const Parallelism& parallel) {
    if (column < 0 || static_cast<std::size_t>(column) >= page.headers.size()) {
        return selectedRow;
    }
    return ApplyStatsOrder(page, StatsSortOrder(page, column, ascending, {}, parallel),
                           selectedRow);
}

} // namespace logdesk
