// The site owners' pages on logs whose answers are known by construction:
// response times, directories, URLs whose status changes, and coverage of
// the site's URL list.
#include "core/coverage/site_url_list.h"
#include "core/coverage/url_key.h"
#include "core/logimport/log_importer.h"
#include "core/stats/page_builds.h"
#include "core/text/gbk_codec.h"
#include "support/import_test_support.h"
#include "support/page_test_support.h"

#include <gtest/gtest.h>

namespace logdesk {
namespace {

using Texts = std::vector<std::string>;
using TextRows = std::vector<Texts>;

using testing::Import;
using testing::kBaidu;
using testing::kGoogle;
using testing::Rows;
using testing::Utf8;

std::string Name(SpiderId spider) {
    return GbkToUtf8(SpiderDisplayName(spider));
}

SpiderFilter Only(SpiderId spider) {
    return {SpiderDisplayName(spider)};
}

StatsTable Build(StatsPage page, const LogImport& log, const PageRequest& request = {}) {
    return BuildStatsPage(page, log.table, log.header.fieldMap, log.tally, request);
}

// Baidu: /a 10 20 30 40 and one "-", /d 25, /c 1..20, /x "-" only; Google
// (first in the log, second in the tally) /b 1 and 2, whose mean 1.5 rounds
// up. Bytes: a cell that is no number adds nothing.
LogImport TimedVisits() {
    Texts lines{"/b " + kGoogle + " 1 100", "/b " + kGoogle + " 2 x"};
    for (const char* ms : {"10", "20", "-", "30", "040"}) {
        lines.push_back("/a " + kBaidu + " " + ms + " 1000");
    }
    lines.push_back("/d " + kBaidu + " 25 1");
    for (int ms = 20; ms >= 1; --ms) {
        lines.push_back("/c " + kBaidu + " " + std::to_string(ms) + " -");
    }
    lines.push_back("/x " + kBaidu + " 1.5 7");
    return Import("cs-uri-stem cs(User-Agent) time-taken sc-bytes", lines);
}

TEST(TimingPageTest, CrawlersInTallyOrderWithNearestRankFigures) {
    const StatsTable page = Build(StatsPage::Timing, TimedVisits());
    EXPECT_EQ(Utf8(page.headers), (Texts{"所属蜘蛛", "访问次数", "平均耗时(毫秒)", "中位数(毫秒)",
                                         "95%耗时(毫秒)", "最长耗时(毫秒)", "发送字节"}));
    // Baidu's 25 times sorted: 1..9, 10, 10, 11..19, 20, 20, 25, 30, 40 (sum
    // 335, mean 13.4); rank 13 is 12, rank ceil(23.75) = 24 is 30.
    EXPECT_EQ(Rows(page), (TextRows{{Name(SpiderId::Baidu), "27", "13", "12", "30", "40", "5008"},
                                    {Name(SpiderId::Google), "2", "2", "1", "2", "2", "100"}}));
    EXPECT_TRUE(page.notice.empty());
}

TEST(TimingPageTest, OneCrawlersUrlsSlowestFirstAndUntimedLast) {
    const StatsTable page = Build(StatsPage::Timing, TimedVisits(), Only(SpiderId::Baidu));
    EXPECT_EQ(Utf8(page.headers), (Texts{"URL", "访问次数", "平均耗时(毫秒)", "中位数(毫秒)",
                                         "95%耗时(毫秒)", "最长耗时(毫秒)"}));
    // /a and /d share the mean 25: first sight decides. Of 20 times rank
    // 19 is the 95% one, of 4 rank 4.
    EXPECT_EQ(Rows(page), (TextRows{{"/a", "5", "25", "20", "40", "40"},
                                    {"/d", "1", "25", "25", "25", "25"},
                                    {"/c", "20", "11", "10", "19", "20"},
                                    {"/x", "1", "", "", "", ""}}));
}

TEST(TimingPageTest, ALogWithoutTimeTakenSaysSoAndShowsNoRows) {
    const LogImport log = Import("cs-uri-stem cs(User-Agent) sc-bytes", {"/a " + kBaidu + " 5"});
    for (const SpiderFilter& filter : {SpiderFilter{}, Only(SpiderId::Baidu)}) {
        const StatsTable page = Build(StatsPage::Timing, log, filter);
        EXPECT_FALSE(page.headers.empty());
        EXPECT_TRUE(page.rows.empty());
        EXPECT_NE(GbkToUtf8(page.notice).find("time-taken"), std::string::npos);
    }
    // Without the user-agent there is no crawler to count, and nothing to say.
    const StatsTable page = Build(StatsPage::Timing, Import("cs-uri-stem time-taken", {"/a 5"}));
    EXPECT_TRUE(page.rows.empty());
    EXPECT_TRUE(page.notice.empty());
}

// Directories at both depths, crawlers told apart, statuses by their first
// digit (a 1xx or "-" is in none of the four shares).
TEST(SectionsPageTest, DirectoriesPerCrawlerInFirstSeenOrderWithStatusShares) {
    const LogImport log = Import("cs-uri-stem sc-status cs(User-Agent)",
                                 {"/a/b/c.htm 200 " + kBaidu, "/c.htm 301 " + kBaidu,
                                  "/a/x.htm 404 " + kBaidu, "/a/b/d.htm 200 " + kGoogle,
                                  "/a/ 500 " + kBaidu, "/a/b/e/f 200 " + kBaidu,
                                  "/c.htm 100 " + kBaidu, "/a/b/ - " + kBaidu,
                                  "/a/b/c.htm 200 " + kBaidu});
    const std::string baidu = Name(SpiderId::Baidu);
    const std::string google = Name(SpiderId::Google);
    PageRequest depth1;
    EXPECT_EQ(Utf8(Build(StatsPage::Sections, log, depth1).headers),
              (Texts{"目录", "所属蜘蛛", "访问次数", "2xx占比", "3xx占比", "4xx占比", "5xx占比"}));
    EXPECT_EQ(Rows(Build(StatsPage::Sections, log, depth1)),
              (TextRows{{"/a/", baidu, "6", "50.00%", "0.00%", "16.67%", "16.67%"},
                        {"/", baidu, "2", "0.00%", "50.00%", "0.00%", "0.00%"},
                        {"/a/", google, "1", "100.00%", "0.00%", "0.00%", "0.00%"}}));
    PageRequest depth2(Only(SpiderId::Baidu));
    depth2.depth = 2;
    EXPECT_EQ(Rows(Build(StatsPage::Sections, log, depth2)),
              (TextRows{{"/a/b/", baidu, "4", "75.00%", "0.00%", "0.00%", "0.00%"},
                        {"/", baidu, "2", "0.00%", "50.00%", "0.00%", "0.00%"},
                        {"/a/", baidu, "2", "0.00%", "0.00%", "50.00%", "50.00%"}}));
}

// A status that comes back after another keeps its first place and its
// first date; the crawlers' visits of one URL are rows of their own.
TEST(FlappingPageTest, UrlsWithSeveralStatusesPerCrawlerWithTheirDates) {
    const LogImport log =
        Import("date cs-uri-stem sc-status cs(User-Agent)",
               {"2013-05-01 /a 200 " + kBaidu, "2013-05-01 /b 200 " + kBaidu,
                "2013-05-02 /a 404 " + kBaidu, "2013-05-02 /a 404 " + kGoogle,
                "2013-05-03 /a 200 " + kBaidu, "2013-05-03 /b 200 " + kBaidu,
                "2013-05-03 /c 301 " + kGoogle, " /c 200 " + kGoogle, "2013-05-04 /a 404 " + kBaidu,
                "2013-05-04 /a 200 " + kGoogle});
    const std::string baidu = Name(SpiderId::Baidu);
    const std::string google = Name(SpiderId::Google);
    const StatsTable page = Build(StatsPage::Flapping, log);
    EXPECT_EQ(Utf8(page.headers), (Texts{"URL", "所属蜘蛛", "访问次数", "状态码", "状态与日期"}));
    EXPECT_EQ(Rows(page),
              (TextRows{
                  {"/a", baidu, "4", "200,404", "200:2013-05-01~2013-05-03; 404:2013-05-02~2013-05-04"},
                  {"/a", google, "2", "404,200", "404:2013-05-02; 200:2013-05-04"},
                  {"/c", google, "2", "301,200", "301:2013-05-03; 200:-"}}));
    EXPECT_EQ(Rows(Build(StatsPage::Flapping, log, Only(SpiderId::Google))),
              (TextRows{{"/a", google, "2", "404,200", "404:2013-05-02; 200:2013-05-04"},
                        {"/c", google, "2", "301,200", "301:2013-05-03; 200:-"}}));
}

// A list of four pages, one of them with a query; the log reaches one of
// them spelt differently (escaped, with the query), one only with another
// query, and pages the list lacks.
TEST(CoveragePageTest, ListedFetchedNeverFetchedAndOutsidePerCrawler) {
    SiteUrlList list;
    for (const char* url : {"https://example.com/a.htm", "https://example.com/b.htm?id=1",
                            "https://example.com/c.htm", "https://example.com/"}) {
        list.urls.push_back({url, SplitSiteUrl(url)->key});
    }
    const LogImport log = Import("date cs-uri-stem cs-uri-query sc-status cs(User-Agent)",
                                 {"2013-05-01 /%61.htm - 200 " + kBaidu,
                                  "2013-05-01 /b.htm id=2 200 " + kBaidu,
                                  "2013-05-02 /x.htm - 404 " + kBaidu,
                                  "2013-05-02 / - 200 " + kGoogle,
                                  "2013-05-03 /a.htm - 304 " + kBaidu,
                                  "2013-05-03 /b.htm id=1 200 " + kBaidu});
    PageRequest all;
    all.siteUrls = &list;
    const StatsTable page = Build(StatsPage::Coverage, log, all);
    EXPECT_EQ(Utf8(page.headers), (Texts{"所属蜘蛛", "清单URL数", "已抓取", "已抓取占比", "未抓取",
                                         "清单外URL数", "清单外访问次数", "清单外访问占比"}));
    EXPECT_EQ(Rows(page),
              (TextRows{{Name(SpiderId::Baidu), "4", "2", "50.00%", "2", "2", "2", "40.00%"},
                        {Name(SpiderId::Google), "4", "1", "25.00%", "3", "0", "0", "0.00%"}}));

    PageRequest baidu(Only(SpiderId::Baidu));
    baidu.siteUrls = &list;
    const StatsTable urls = Build(StatsPage::Coverage, log, baidu);
    EXPECT_EQ(Utf8(urls.headers),
              (Texts{"URL", "类别", "访问次数", "首次日期", "末次日期", "末次状态"}));
    EXPECT_EQ(Rows(urls),
              (TextRows{{"https://example.com/a.htm", "已抓取", "2", "2013-05-01", "2013-05-03",
                         "304"},
                        {"https://example.com/b.htm?id=1", "已抓取", "1", "2013-05-03",
                         "2013-05-03", "200"},
                        {"https://example.com/c.htm", "未抓取", "0", "", "", ""},
                        {"https://example.com/", "未抓取", "0", "", "", ""},
                        {"/b.htm?id=2", "清单外", "1", "2013-05-01", "2013-05-01", "200"},
                        {"/x.htm", "清单外", "1", "2013-05-02", "2013-05-02", "404"}}));

    // Without a list every fetched URL is outside it.
    EXPECT_EQ(Rows(Build(StatsPage::Coverage, log))[1],
              (Texts{Name(SpiderId::Google), "0", "0", "0.00%", "0", "1", "1", "100.00%"}));
}

} // namespace
} // namespace logdesk
