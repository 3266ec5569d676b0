// The long routines stop soon after their cancel token turns, wherever
// they are, and hand back nothing that passes for a result.
#include "core/base/cancellation.h"
#include "core/logimport/log_importer.h"
#include "core/stats/cancellable_sort.h"
#include "core/stats/list_sort.h"
#include "core/stats/page_builds.h"
#include "core/stats/record_sort.h"
#include "core/stats/stats_sort.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

constexpr std::uint32_t kRows = 20000;

// Keys of three kinds: texts, numbers in a total order, and numbers each
// within 1e-7 of the next (the sort's replayed insertion).
std::vector<std::string> Keys(int kind) {
    std::vector<std::string> keys;
    char text[32];
    for (std::uint32_t i = 0; i < kRows; ++i) {
        const std::uint32_t k = (i * 7919) % kRows;
        if (kind == 0) {
            std::snprintf(text, sizeof text, "key-%u", k);
        } else if (kind == 1) {
            std::snprintf(text, sizeof text, "%u", k);
        } else {
            std::snprintf(text, sizeof text, "%.12g", k * 0.6e-7);
        }
        keys.emplace_back(text);
    }
    return keys;
}

TEST(CancellationTest, ASortStopsWhereverTheFlagTurns) {
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        const std::vector<std::string> keys = Keys(kind);
        const SortKind sortKind = kind == 0 ? SortKind::Text : SortKind::Number;
        // The flag turns as the key of row `at` is read: while the keys are
        // read, and after the last one, when only the ordering is left.
        for (const std::uint32_t at : {std::uint32_t{100}, kRows - 1}) {
            Cancellation cancel;
            std::uint32_t read = 0;
            const std::vector<std::uint32_t> order = SortOrder(
                kRows,
                [&](std::uint32_t r) -> std::string_view {
                    ++read;
                    if (r == at) {
                        cancel.cancel();
                    }
                    return keys[r];
                },
                sortKind, true, cancel.token());
            EXPECT_TRUE(order.empty()) << at;
            EXPECT_LT(read, at + 4096 + 1) << at;
        }
        const Cancellation never;
        EXPECT_EQ(SortOrder(
                      kRows, [&](std::uint32_t r) -> std::string_view { return keys[r]; }, sortKind,
                      false, never.token()),
                  SortOrder(
                      kRows, [&](std::uint32_t r) -> std::string_view { return keys[r]; }, sortKind,
                      false));
    }
}

// The longest step of a sort or a build gives up within one comparison.
TEST(CancellationTest, SortingGivesUpAtTheNextComparison) {
    std::vector<std::uint32_t> values(kRows);
    for (std::uint32_t i = 0; i < kRows; ++i) {
        values[i] = (i * 7919) % kRows;
    }
    Cancellation cancel;
    int compared = 0;
    const auto less = [&](std::uint32_t a, std::uint32_t b) {
        if (++compared == 1000) {
            cancel.cancel();
        }
        return a < b;
    };
    EXPECT_FALSE(SortUnlessCancelled(values.begin(), values.end(), less, cancel.token()));
    EXPECT_EQ(compared, 1000);
    std::sort(values.begin(), values.end());
    for (std::uint32_t i = 0; i < kRows; ++i) {
        ASSERT_EQ(values[i], i); // still the same elements
    }
    const Cancellation never;
    std::reverse(values.begin(), values.end());
    EXPECT_TRUE(SortUnlessCancelled(values.begin(), values.end(), std::less<>(), never.token()));
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
}

TEST(CancellationTest, EveryPageBuildAndSortGivesUp) {
    std::string bytes = "#Fields: time c-ip cs-uri-stem sc-status sc-win32-status "
                        "cs(User-Agent)\r\n";
    for (std::uint32_t i = 0; i < kRows; ++i) {
        bytes += "10:00:00 10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
                 " /p" + std::to_string(i % 977) + " 200 " + std::to_string(i % 5) +
                 " Baiduspider\r\n";
    }
    const LogImport log = ImportLogBytes(bytes).value();
    ASSERT_EQ(log.table.rowCount(), kRows);
    Cancellation stop;
    stop.cancel();
    const CancelToken cancelled = stop.token();
    for (const StatsPage page :
         {StatsPage::SpiderTraffic, StatsPage::Url, StatsPage::Ip, StatsPage::Status}) {
        SCOPED_TRACE(static_cast<int>(page));
        const StatsTable whole =
            BuildStatsPage(page, log.table, log.header.fieldMap, log.tally, {});
        ASSERT_FALSE(whole.rows.empty());
        EXPECT_TRUE(BuildStatsPage(page, log.table, log.header.fieldMap, log.tally, {}, cancelled)
                        .rows.empty());
        for (int column = 0; column < static_cast<int>(whole.headers.size()); ++column) {
            EXPECT_TRUE(StatsSortOrder(whole, column, true, cancelled).empty()) << column;
        }
    }
    EXPECT_TRUE(SortRecordsByText(log.table, ColumnIndex{2}, cancelled).empty());
    EXPECT_TRUE(LongestCells(*log.table.data(), cancelled).empty());
}

} // namespace
} // namespace logdesk
