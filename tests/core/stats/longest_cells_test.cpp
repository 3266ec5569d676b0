// Both tables find their longest cells the same way: the first row where a
// column's longest cell stands.
#include "core/logimport/log_importer.h"
#include "core/stats/page_builds.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

TEST(LongestCellsTest, FirstLongestRowOfEveryColumn) {
    StatsTable page;
    page.headers = {"a", "b", "c"};
    page.rows = {{"x", "", "12"}, {"xyz", "", "34"}, {"abc", "", "5"}};
    EXPECT_EQ(LongestCells(page), (std::vector<int>{1, -1, 0}));
    page.rows.clear();
    EXPECT_EQ(LongestCells(page), (std::vector<int>{-1, -1, -1}));

    // Columns: record number, date, URL, user-agent (a crawler's name).
    const LogImport log = ImportLogBytes("#Fields: date cs-uri-stem cs(User-Agent)\r\n"
                                         "d1 /a Googlebot\r\nd22 /bbb -\r\nd33 /cc\r\n"
                                         "d4\r\n")
                              .value();
    const std::vector<RecordIndex> longest = LongestCells(*log.table.data());
    ASSERT_EQ(longest.size(), 4u);
    EXPECT_EQ(ToInt(longest[0]), 3u); // the last record number
    EXPECT_EQ(ToInt(longest[1]), 1u); // "d22", before the equally long "d33"
    EXPECT_EQ(ToInt(longest[2]), 1u);
    EXPECT_EQ(log.table.data()->cell(longest[3], ColumnIndex{3}),
              SpiderDisplayName(SpiderId::Unknown));
    // A column of empty cells only names the last record.
    const LogImport empty = ImportLogBytes("#Fields: date c-ip\r\nd1\r\nd2\r\n").value();
    EXPECT_EQ(ToInt(LongestCells(*empty.table.data())[2]), 1u);
    EXPECT_TRUE(LongestCells(*ImportLogBytes("#Fields: date\r\n").value().table.data()).empty());
}

} // namespace
} // namespace logdesk
