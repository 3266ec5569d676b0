// Pages counted in pieces on several threads equal the pages of one pass in
// row order: same rows, same first-seen order, same figures.
#include "core/base/cancellation.h"
#include "core/logimport/log_importer.h"
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"
#include "support/page_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace logdesk {
namespace {

std::string RandomLog(std::mt19937& rng, bool changeHeaders) {
    auto pick = [&](std::size_t n) { return rng() % n; };
    const std::vector<std::string> headers = {
        "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent)",
        "#Fields: time cs(User-Agent) cs-uri-stem c-ip sc-status",
        "#Fields: date c-ip cs-uri-stem sc-win32-status sc-status",
        "#Fields: date time c-ip cs-uri-stem sc-status sc-win32-status cs(User-Agent) "
        "time-taken sc-bytes cs-uri-query",
    };
    const std::vector<std::string> agents = {"Baiduspider",      "Googlebot", "Mozilla", "bingbot",
                                             "Sogou+web+spider", "-",         ""};
    std::string log = headers[0] + "\n";
    const std::size_t lines = 1 + pick(3000);
    for (std::size_t i = 0; i < lines; ++i) {
        if (changeHeaders && pick(400) == 0) {
            log += headers[pick(headers.size())] + "\n";
        }
        log += "2013-05-0" + std::to_string(1 + pick(3)) + " " + std::to_string(pick(30)) +
               ":00:00 10.0.0." + std::to_string(pick(200)) + " /p" + std::to_string(pick(500)) +
               " " + std::to_string(200 + pick(3) * 100) + " " + std::to_string(pick(3)) + " " +
               agents[pick(agents.size())] + " " + (pick(9) == 0 ? "-" : std::to_string(pick(90))) +
               " " + std::to_string(pick(5000)) + " " + (pick(3) == 0 ? "x=1" : "-") +
               (pick(50) == 0 ? " " + Gbk("新") : "") + "\n";
    }
    return log;
}

TEST(ParallelPagesTest, PiecesJoinToTheOnePassPage) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        Result<LogImport> imported = ImportLogBytes(RandomLog(rng, round % 2 == 1));
        ASSERT_TRUE(imported && !imported->rejected);
        LogImport& log = *imported;
        if (round % 3 == 2) {
            // A sorted list: first sight follows the rows shown.
            std::vector<RecordIndex> order(log.table.rowCount());
            for (std::uint32_t r = 0; r < order.size(); ++r) {
                order[r] = RecordIndex{r};
            }
            std::shuffle(order.begin(), order.end(), rng);
            log.table.setRowOrder(std::move(order));
        }
        const FieldMap& fields = log.header.fieldMap;
        for (const StatsPageEntry& entry : StatsPages()) {
            const StatsPage page = entry.page;
            for (int tab = 0; tab <= log.tally.length(); ++tab) {
                for (PageRequest request : testing::EveryRequest(page)) {
                    if (!request.filter.allTraffic()) {
                        continue;
                    }
                    request.filter = SpiderFilterOfTab(log.tally, tab);
                    const StatsTable one =
                        BuildStatsPage(page, log.table, fields, log.tally, request, {}, {1, 0});
                    const StatsTable pieces = BuildStatsPage(page, log.table, fields, log.tally,
                                                             request, {}, {3, 1 + rng() % 200});
                    ASSERT_TRUE(testing::SamePage(one, pieces))
                        << "round " << round << " page " << entry.cliName << " tab " << tab
                        << " depth " << request.depth;
                }
            }
        }
    }
}

TEST(ParallelPagesTest, CancelledBuildGivesNoPage) {
    std::mt19937 rng(5);
    const LogImport log = ImportLogBytes(RandomLog(rng, false)).value();
    Cancellation stop;
    stop.cancel();
    const StatsTable page = BuildStatsPage(StatsPage::Url, log.table, log.header.fieldMap,
                                           log.tally, {}, stop.token(), {2, 16});
    EXPECT_TRUE(page.headers.empty());
    EXPECT_TRUE(page.rows.empty());
}

// Progress comes on the calling thread only, never goes back, never passes
// the total, ends on it, and changes nothing of the page; a cancelled build
// never says it is complete.
TEST(ParallelPagesTest, ProgressIsTheCallingThreadsAndEndsComplete) {
    std::string log = "#Fields: date cs-uri-stem sc-status cs(User-Agent)\n";
    constexpr std::uint64_t kRecords = 70000;
    for (std::uint64_t i = 0; i < kRecords; ++i) {
        log += "2013-05-01 /p" + std::to_string(i % 900) + " 200 Baiduspider\n";
    }
    const LogImport imported = ImportLogBytes(log).value();
    const std::thread::id caller = std::this_thread::get_id();
    for (const Parallelism parallel : {Parallelism{1, 0}, Parallelism{4, 10000}}) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> heard;
        bool elsewhere = false;
        const StatsTable page = BuildStatsPage(
            StatsPage::Sections, imported.table, imported.header.fieldMap, imported.tally, {}, {},
            parallel, 0, [&](std::uint64_t done, std::uint64_t total) {
                elsewhere = elsewhere || std::this_thread::get_id() != caller;
                heard.emplace_back(done, total);
            });
        EXPECT_FALSE(elsewhere);
        // One thread polls every 4096 records; of several, the calling one
        // may be left no piece to count.
        ASSERT_GE(heard.size(), parallel.threads == 1 ? 17u : 1u) << parallel.threads;
        for (std::size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].second, kRecords);
            EXPECT_LE(heard[i].first, kRecords);
            if (i > 0) {
                EXPECT_GE(heard[i].first, heard[i - 1].first);
            }
        }
        EXPECT_EQ(heard.back().first, kRecords);
        EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                                [](const auto& h) { return h.first == kRecords; }),
                  1);
        EXPECT_TRUE(testing::SamePage(page, BuildStatsPage(StatsPage::Sections, imported.table,
                                                           imported.header.fieldMap, imported.tally,
                                                           {}, {}, parallel)));
    }

    Cancellation stop;
    bool complete = false;
    const StatsTable stopped = BuildStatsPage(
        StatsPage::Sections, imported.table, imported.header.fieldMap, imported.tally, {},
        stop.token(), {1, 0}, 0, [&](std::uint64_t done, std::uint64_t total) {
            complete = complete || done == total;
            if (done >= 8192) {
                stop.cancel();
            }
        });
    EXPECT_FALSE(complete);
    EXPECT_TRUE(stopped.headers.empty());
}

} // namespace
} // namespace logdesk
