#include "core/base/cancellation.h"
#include "core/stats/crawler_day_series.h"
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"
#include "support/page_test_support.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

using testing::Import;
using testing::kBaidu;
using testing::kGoogle;

using Visits = std::vector<std::int64_t>;

const std::string kBing = "Mozilla/5.0+(compatible;+bingbot/2.0)";

// Four days; 百度, 谷歌 and 必应 visit and a browser too. 谷歌 skips the third
// day, and nobody comes on the fourth but the browser. The lines are dealt
// out round-robin, so no day's records come together.
LogImport FourDays() {
    const char* days[] = {"2013-05-01", "2013-05-02", "2013-05-03", "2013-05-04"};
    const std::pair<std::string, Visits> visitors[] = {
        {kBaidu, {5, 3, 7, 0}},
        {kGoogle, {2, 4, 0, 0}},
        {kBing, {1, 0, 1, 0}},
        {"Mozilla/5.0+(Windows+NT+6.1)", {4, 1, 2, 6}},
    };
    std::vector<std::vector<std::string>> queues(4);
    for (std::size_t d = 0; d < 4; ++d) {
        for (const auto& [agent, visits] : visitors) {
            for (std::int64_t n = 0; n < visits[d]; ++n) {
                queues[d].push_back(std::string(days[d]) + " 10:00:00 " + agent);
            }
        }
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0, left = 1; left > 0; ++at) {
        left = 0;
        for (const auto& queue : queues) {
            if (at < queue.size()) {
                lines.push_back(queue[at]);
                left += queue.size() - at - 1;
            }
        }
    }
    return Import("date time cs(User-Agent)", lines);
}

TEST(CrawlerDaySeriesTest, EachLineIsItsCrawlersColumnOfTheByDatePage) {
    const LogImport log = FourDays();
    const CrawlerDaySeries series =
        BuildCrawlerDaySeries(log.table, log.header.fieldMap, log.tally);

    EXPECT_EQ(series.days,
              (std::vector<std::string>{"2013-05-01", "2013-05-02", "2013-05-03", "2013-05-04"}));
    // Tally order; a crawler missing on a day has a point of 0 there.
    const std::vector<CrawlerDaySeries::Line> expected = {
        {SpiderDisplayName(SpiderId::Baidu), {5, 3, 7, 0}},
        {SpiderDisplayName(SpiderId::Google), {2, 4, 0, 0}},
        {SpiderDisplayName(SpiderId::Bing), {1, 0, 1, 0}},
        {SpiderDisplayName(SpiderId::Unknown), {4, 1, 2, 6}},
    };
    EXPECT_EQ(series.lines, expected);

    // The very cells of the page, whatever the build's pieces.
    const StatsTable page = BuildSpiderDaysPage(log.table, log.header.fieldMap, log.tally);
    ASSERT_EQ(page.rows.size(), series.days.size() + 1);
    for (std::size_t d = 0; d < series.days.size(); ++d) {
        EXPECT_EQ(page.rows[d + 1][0], series.days[d]);
        for (std::size_t c = 0; c < series.lines.size(); ++c) {
            EXPECT_EQ(page.rows[d + 1][c + 1], std::to_string(series.lines[c].visits[d]));
        }
    }
    EXPECT_EQ(CrawlerDaySeriesOf(page, log.tally), series);
    EXPECT_EQ(BuildCrawlerDaySeries(log.table, log.header.fieldMap, log.tally, {}, {2, 5}), series);
}

TEST(CrawlerDaySeriesTest, NoLinesWithoutAPageOfThisTally) {
    const LogImport log = FourDays();
    const StatsTable page = BuildSpiderDaysPage(log.table, log.header.fieldMap, log.tally);
    // Another tally: the columns would name other crawlers.
    SpiderTally other;
    other.count(SpiderDisplayName(SpiderId::Google));
    EXPECT_EQ(CrawlerDaySeriesOf(page, other), CrawlerDaySeries{});
    EXPECT_EQ(CrawlerDaySeriesOf(StatsTable{}, log.tally), CrawlerDaySeries{});

    // A cancelled build.
    Cancellation cancel;
    cancel.cancel();
    EXPECT_EQ(BuildCrawlerDaySeries(log.table, log.header.fieldMap, log.tally, cancel.token()),
              CrawlerDaySeries{});

    // No date field: every crawler, no day. Records without a date cell
    // are the page's "-" day.
    const LogImport noDate = Import("time cs(User-Agent)", {"01:00:00 " + kBaidu});
    const CrawlerDaySeries undated =
        BuildCrawlerDaySeries(noDate.table, noDate.header.fieldMap, noDate.tally);
    EXPECT_TRUE(undated.days.empty());
    EXPECT_EQ(undated.lines,
              (std::vector<CrawlerDaySeries::Line>{{SpiderDisplayName(SpiderId::Baidu), {}}}));
    const LogImport someDated = Import(
        "time cs(User-Agent) date", {"01:00:00 " + kBaidu, "02:00:00 " + kBaidu + " 2013-05-02"});
    const CrawlerDaySeries dashed =
        BuildCrawlerDaySeries(someDated.table, someDated.header.fieldMap, someDated.tally);
    EXPECT_EQ(dashed.days, (std::vector<std::string>{"-", "2013-05-02"}));
    EXPECT_EQ(dashed.lines.at(0).visits, (Visits{1, 1}));
}

} // namespace
} // namespace logdesk
