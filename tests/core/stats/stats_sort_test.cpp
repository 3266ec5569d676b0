#include "core/stats/stats_sort.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

StatsTable Page(bool summary) {
    StatsTable page;
    page.headers = {"IP", "n"};
    page.rows = {{"all", "9"}, {"a", "3"}, {"b", "1"}, {"c", "2"}};
    page.summaryRow = summary;
    return page;
}

std::vector<std::string> FirstCells(const StatsTable& page) {
    std::vector<std::string> cells;
    for (const auto& row : page.rows) {
        cells.push_back(row[0]);
    }
    return cells;
}

// The order is computed over a copy of one column and applied to the rows
// as they are later, so cells written in between stay in their rows.
TEST(StatsSortTest, OrderFromACopyMovesWholeRows) {
    StatsTable page = Page(false);
    const std::vector<std::string> cells = StatsSortCells(page, 1);
    EXPECT_EQ(cells, (std::vector<std::string>{"9", "3", "1", "2"}));
    const std::vector<std::uint32_t> order = StatsSortOrder(cells, SortKind::Number, true);
    EXPECT_TRUE(MovesRows(order));
    page.rows[2][0] = "b, located"; // written after the copy
    EXPECT_EQ(ApplyStatsOrder(page, order, 3), 1);
    EXPECT_EQ(FirstCells(page), (std::vector<std::string>{"b, located", "c", "a", "all"}));
    EXPECT_FALSE(MovesRows(StatsSortOrder(StatsSortCells(page, 1), SortKind::Number, true)));
}

TEST(StatsSortTest, SummaryRowStaysOnTopAndDropsTheSelection) {
    StatsTable page = Page(true);
    const std::vector<std::string> cells = StatsSortCells(page, 1);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(ApplyStatsOrder(page, StatsSortOrder(cells, SortKind::Number, false), 2), -1);
    EXPECT_EQ(FirstCells(page), (std::vector<std::string>{"all", "a", "c", "b"}));

    // An order for another row count, or a column the page lacks, changes
    // nothing.
    StatsTable other = Page(false);
    EXPECT_EQ(ApplyStatsOrder(other, {2, 1, 0}, 1), 1);
    EXPECT_EQ(FirstCells(other), FirstCells(Page(false)));
    EXPECT_TRUE(StatsSortCells(other, 2).empty());
    EXPECT_EQ(SortStatsPage(other, -1, true, 3), 3);
    EXPECT_EQ(FirstCells(other), FirstCells(Page(false)));
}

} // namespace
} // namespace logdesk
