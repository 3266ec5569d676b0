#include "core/logimport/log_importer.h"
#include "core/stats/record_sort.h"
#include "core/stats/stats_sort.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

std::vector<std::uint32_t> Records(const std::vector<RecordIndex>& order) {
    std::vector<std::uint32_t> records;
    for (RecordIndex r : order) {
        records.push_back(ToInt(r));
    }
    return records;
}

// The sort reads the rows in the table's current order and names records,
// so a second sort starts from what the first one left.
TEST(RecordSortTest, OrdersRecordsByTextFromTheCurrentOrder) {
    LogImport log = ImportLogBytes("#Fields: c-ip cs-uri-stem\r\n"
                                   "10.0.0.2 /b\r\n10.0.0.10 /a\r\n10.0.0.1 /b\r\n"
                                   "10.0.0.2 /a\r\n")
                        .value();
    RecordTable& table = log.table;
    // Record numbers as text: 1, 2, 3, 4; IPs as text, equal keys as the
    // insertion leaves them.
    EXPECT_EQ(Records(SortRecordsByText(table, ColumnIndex{0})),
              (std::vector<std::uint32_t>{0, 1, 2, 3}));
    table.setRowOrder(SortRecordsByText(table, ColumnIndex{1}));
    EXPECT_EQ(Records(table.rowOrder()), (std::vector<std::uint32_t>{2, 1, 0, 3}));
    // Rows now hold records 2, 1, 0, 3; URLs /b, /a, /b, /a.
    const std::vector<RecordIndex> byUrl = SortRecordsByText(table, ColumnIndex{2});
    std::vector<std::string> urls;
    for (RecordIndex r : byUrl) {
        urls.emplace_back(table.data()->cell(r, ColumnIndex{2}));
    }
    EXPECT_EQ(urls, (std::vector<std::string>{"/a", "/a", "/b", "/b"}));
    // The same as sorting the cells of the current rows.
    std::vector<std::string> cells;
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        cells.emplace_back(table.cell(RowIndex{r}, ColumnIndex{2}));
    }
    const std::vector<std::uint32_t> byRow = StatsSortOrder(cells, SortKind::Text, true);
    for (std::size_t q = 0; q < byRow.size(); ++q) {
        EXPECT_EQ(byUrl[q], table.record(RowIndex{byRow[q]})) << q;
    }

    EXPECT_TRUE(SortRecordsByText(RecordTable{}, ColumnIndex{1}).empty());
    // A column the table lacks: all keys equal, the order stays.
    EXPECT_EQ(SortRecordsByText(table, ColumnIndex{9}), table.rowOrder());
}

// The header click's sort is not stable, and must not be: equal keys go
// where the insertion puts them (a key equal to the first one so far goes in
// front of it), which is the order the list has always shown. The same on
// every number of threads.
TEST(RecordSortTest, EqualKeysGoWhereTheInsertionPutsThemOnAnyThreads) {
    LogImport small = ImportLogBytes("#Fields: cs-uri-stem\r\n/5\r\n/7\r\n/5\r\n").value();
    EXPECT_EQ(Records(SortRecordsByText(small.table, ColumnIndex{1})),
              (std::vector<std::uint32_t>{2, 0, 1}));

    std::string log = "#Fields: cs-uri-stem c-ip\r\n";
    for (int i = 0; i < 30000; ++i) {
        log += "/" + std::to_string(i * 7 % 13) + " 10.0.0." + std::to_string(i % 250) + "\r\n";
    }
    const LogImport big = ImportLogBytes(log).value();
    const std::vector<RecordIndex> one = SortRecordsByText(big.table, ColumnIndex{1}, {}, {1, 0});
    for (const Parallelism parallel : {Parallelism{2, 0}, Parallelism{3, 1000}}) {
        EXPECT_EQ(SortRecordsByText(big.table, ColumnIndex{1}, {}, parallel), one);
    }
}

} // namespace
} // namespace logdesk
