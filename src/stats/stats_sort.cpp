#include "stats_sort.h"

#include "util/gbk_codec.h"
#include "util/text_search.h"

namespace logdesk {

SortKind StatsSortKind(std::string_view caption) {
    static const std::string textColumns = Gbk("所属蜘蛛[fg]URL");
    return MatchAlternatives(caption, textColumns, true) ? SortKind::Text : SortKind::Number;
}

int SortStatsPage(StatsTable& page, int column, bool ascending, int selectedRow) {
    if (column < 0 || static_cast<std::size_t>(column) >= page.headers.size()) {
        return selectedRow;
    }
    const std::size_t first = page.summaryRow && !page.rows.empty() ? 1 : 0;
    if (first == 1) {
        selectedRow = -1;
    }
    const auto count = static_cast<std::uint32_t>(page.rows.size() - first);
    const std::vector<std::uint32_t> order = SortOrder(
        count,
        [&](std::uint32_t r) -> std::string_view {
            return page.rows[first + r][static_cast<std::size_t>(column)];
        },
        StatsSortKind(page.headers[static_cast<std::size_t>(column)]), ascending);
    std::vector<std::vector<std::string>> sorted;
    sorted.reserve(page.rows.size());
    if (first == 1) {
        sorted.push_back(std::move(page.rows[0]));
    }
    int selectedAt = -1;
    for (std::uint32_t q = 0; q < count; ++q) {
        if (static_cast<int>(first + order[q]) == selectedRow) {
            selectedAt = static_cast<int>(first + q);
        }
        sorted.push_back(std::move(page.rows[first + order[q]]));
    }
    page.rows = std::move(sorted);
    return selectedAt;
}

} // namespace logdesk
