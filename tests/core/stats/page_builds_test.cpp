#include "core/logimport/log_importer.h"
#include "core/stats/page_builds.h"
#include "support/import_test_support.h"
#include "support/page_test_support.h"
#include "core/text/gbk_codec.h"

#include <gtest/gtest.h>
#include <map>

namespace logdesk {
namespace {

using Texts = std::vector<std::string>;
using TextRows = std::vector<Texts>;
using Cells = std::vector<CellPosition>;

using testing::Import;
using testing::kBaidu;
using testing::kGoogle;
using testing::Rows;
using testing::Utf8;

SpiderFilter Only(SpiderId spider) {
    return {SpiderDisplayName(spider)};
}

// (URL, IP) = (/a, .1), (/b, .2), (/a, .1), (/a, .3); Baidu makes the first
// two visits, Google the others.
LogImport FourVisits() {
    return Import("cs-uri-stem c-ip cs(User-Agent)",
                  {"/a 192.0.2.1 " + kBaidu, "/b 192.0.2.2 " + kBaidu, "/a 192.0.2.1 " + kGoogle,
                   "/a 192.0.2.3 " + kGoogle});
}

TEST(SpiderTrafficPageTest, HourBucketsInTallyOrder) {
    // Google comes first in the log, the tally still lists 百度 first.
    const LogImport log =
        Import("time cs(User-Agent)", {"00:15:30 " + kGoogle, "23:59:59 " + kBaidu, "- " + kBaidu,
                                       "7:05:00 " + kGoogle, " " + kGoogle, "99:00:00 " + kBaidu});
    const StatsTable page = BuildSpiderTrafficPage(log.table, log.header.fieldMap, log.tally);

    EXPECT_EQ(Utf8(page.headers), (Texts{"时间", "百度", "谷歌", "流量汇总"}));
    TextRows expected{{"全天", "3", "3", "6"}};
    for (int h = 1; h <= 24; ++h) {
        expected.push_back({std::to_string(h) + "时", "0", "0", "0"});
    }
    // "-", "", 00 and 99 count as hour 0; "7:" reads as 7.
    expected[1] = {"1时", "2", "2", "4"};
    expected[8] = {"8时", "0", "1", "1"};
    expected[24] = {"24时", "1", "0", "1"};
    EXPECT_EQ(Rows(page), expected);
    EXPECT_TRUE(page.summaryRow);
    EXPECT_EQ(page.summaryCells, (Cells{{0, 1}, {0, 2}, {0, 3}}));
}

TEST(SpiderTrafficPageTest, CountsOnlyTallyNamesAndKnownFields) {
    const LogImport log = Import("time cs(User-Agent)", {"01:00:00 " + kBaidu, "01:00 " + kGoogle});
    SpiderTally tally;
    tally.count(SpiderDisplayName(SpiderId::Baidu));
    tally.count("(x)y");
    const StatsTable page = BuildSpiderTrafficPage(log.table, log.header.fieldMap, tally);
    EXPECT_EQ(Utf8(page.headers), (Texts{"时间", "百度", "", "流量汇总"}));
    EXPECT_EQ(Rows(page)[0], (Texts{"全天", "1", "0", "1"}));
    EXPECT_EQ(Rows(page)[2], (Texts{"2时", "1", "0", "1"}));

    // No user-agent field (so an empty tally): every count 0, with or
    // without a time; nothing imported at all likewise.
    for (const LogImport& none : {Import("time c-ip", {"01:00:00 x"}), Import("c-ip", {"x"})}) {
        const StatsTable zero =
            BuildSpiderTrafficPage(none.table, none.header.fieldMap, none.tally);
        EXPECT_EQ(Utf8(zero.headers), (Texts{"时间", "流量汇总"}));
        ASSERT_EQ(zero.rows.size(), 25u);
        EXPECT_EQ(Rows(zero)[2], (Texts{"2时", "0"}));
        EXPECT_EQ(zero.summaryCells, (Cells{{0, 1}}));
    }
    EXPECT_EQ(BuildSpiderTrafficPage({}, {}, {}).rows.size(), 25u);
}

TEST(SpiderDaysPageTest, OneRowPerDateAscending) {
    // Dates out of order, one day of crawlers the tally has no column for,
    // and two short lines that end before their date.
    const LogImport log =
        Import("time cs(User-Agent) date",
               {"10:00:00 " + kGoogle + " 2013-05-03", "23:00:00 " + kBaidu + " 2013-05-01",
                "01:00:00 " + kBaidu + " 2013-05-10", "02:00:00 " + kGoogle + " 2013-05-01",
                "03:00:00 " + kBaidu, "04:00:00 Mozilla 2013-04-30",
                "05:00:00 " + kBaidu + " 2013-05-03", "06:00:00"});
    SpiderTally tally;
    tally.count(SpiderDisplayName(SpiderId::Baidu));
    tally.count(SpiderDisplayName(SpiderId::Google));
    const StatsTable page = BuildSpiderDaysPage(log.table, log.header.fieldMap, tally);

    EXPECT_EQ(Utf8(page.headers), (Texts{"时间", "百度", "谷歌", "流量汇总"}));
    // "-" sorts before the digits; byte order is date order for YYYY-MM-DD,
    // so 05-10 comes after 05-03 although it was seen before it.
    EXPECT_EQ(Rows(page), (TextRows{{"全部日期", "4", "2", "6"},
                                    {"-", "1", "0", "1"},
                                    {"2013-04-30", "0", "0", "0"},
                                    {"2013-05-01", "1", "1", "2"},
                                    {"2013-05-03", "1", "1", "2"},
                                    {"2013-05-10", "1", "0", "1"}}));
    EXPECT_TRUE(page.summaryRow);
    EXPECT_EQ(page.summaryCells, (Cells{{0, 1}, {0, 2}, {0, 3}}));

    // The summary is the hour page's "全天" under another name.
    Texts allDay = Rows(BuildSpiderTrafficPage(log.table, log.header.fieldMap, tally))[0];
    allDay[0] = "全部日期";
    EXPECT_EQ(Rows(page)[0], allDay);

    // A sorted list changes nothing: the rows are in date order anyway.
    RecordTable sorted = log.table;
    std::vector<RecordIndex> order;
    for (std::uint32_t r = log.table.rowCount(); r-- > 0;) {
        order.push_back(RecordIndex{r});
    }
    sorted.setRowOrder(order);
    EXPECT_EQ(Rows(BuildSpiderDaysPage(sorted, log.header.fieldMap, tally)), Rows(page));
}

TEST(SpiderDaysPageTest, MissingFields) {
    // No date field: nothing to count by.
    const LogImport noDate = Import("time cs(User-Agent)", {"01:00:00 " + kBaidu});
    const StatsTable none = BuildSpiderDaysPage(noDate.table, noDate.header.fieldMap, noDate.tally);
    EXPECT_EQ(Utf8(none.headers), (Texts{"时间", "百度", "流量汇总"}));
    EXPECT_TRUE(none.rows.empty());
    EXPECT_TRUE(none.summaryCells.empty());
    // No user-agent field: the dates are there, no crawler counts.
    const LogImport noAgent = Import("date c-ip", {"2013-05-02 x", "2013-05-01 y"});
    EXPECT_EQ(Rows(BuildSpiderDaysPage(noAgent.table, noAgent.header.fieldMap, noAgent.tally)),
              (TextRows{{"全部日期", "0"}, {"2013-05-01", "0"}, {"2013-05-02", "0"}}));
    EXPECT_EQ(Rows(BuildSpiderDaysPage({}, {}, {})), TextRows{});
}

TEST(UrlPageTest, VisitsAndDistinctIpsInFirstSeenOrder) {
    const LogImport log = FourVisits();
    const FieldMap& fields = log.header.fieldMap;
    const StatsTable page = BuildUrlPage(log.table, fields, {});
    EXPECT_EQ(Utf8(page.headers), (Texts{"URL", "访问次数", "独立IP数"}));
    EXPECT_EQ(Rows(page), (TextRows{{"全部URL", "4", "3"}, {"/a", "3", "2"}, {"/b", "1", "1"}}));
    EXPECT_TRUE(page.summaryRow);
    EXPECT_EQ(page.summaryCells, (Cells{{0, 1}, {0, 2}}));

    EXPECT_EQ(Rows(BuildUrlPage(log.table, fields, Only(SpiderId::Google))),
              (TextRows{{"全部URL", "2", "2"}, {"/a", "2", "2"}}));
    // No visits have no distinct IP.
    EXPECT_EQ(Rows(BuildUrlPage(log.table, fields, Only(SpiderId::Sogou))),
              (TextRows{{"全部URL", "0", "0"}}));

    RecordTable sorted = log.table;
    sorted.setRowOrder({RecordIndex{1}, RecordIndex{0}, RecordIndex{2}, RecordIndex{3}});
    EXPECT_EQ(Rows(BuildUrlPage(sorted, fields, {}))[1][0], "/b");
}

TEST(UrlPageTest, UrlsAndIpsCompareAsTheirCells) {
    // Case counts, the query string does not; an empty IP (short lines) is a
    // value like any other, wherever it comes among a URL's visits.
    const LogImport log =
        Import("cs-uri-stem c-ip cs-uri-query", {"/A 192.0.2.1 q=1", "/a 192.0.2.1 q=2", "/e", "/e",
                                                 "/m 192.0.2.1", "/m", "/n", "/n 192.0.2.1", "/n"});
    EXPECT_EQ(Rows(BuildUrlPage(log.table, log.header.fieldMap, {})),
              (TextRows{{"全部URL", "9", "2"},
                        {"/A", "1", "1"},
                        {"/a", "1", "1"},
                        {"/e", "2", "1"},
                        {"/m", "2", "2"},
                        {"/n", "3", "2"}}));
}

TEST(UrlPageTest, ManyLongUrls) {
    // Far more distinct texts than a first table holds, longer in all than a
    // block of kept copies, one longer than a block by itself.
    Texts lines;
    TextRows expected{{"全部URL", "601", "250"}};
    for (int i = 0; i < 300; ++i) {
        const std::string url = "/" + std::string(400, static_cast<char>('a' + i % 26)) +
                                std::to_string(i) + (i == 7 ? std::string(70000, 'z') : "");
        lines.push_back(url + " 192.0.2." + std::to_string(i % 250));
        expected.push_back({url, i == 7 ? "3" : "2", "1"});
    }
    for (int i = 0; i < 300; ++i) {
        lines.push_back(lines[static_cast<std::size_t>(i)]);
    }
    lines.push_back(lines[7] + "0"); // its IP is 192.0.2.70
    expected[8][2] = "2";
    const LogImport log = Import("cs-uri-stem c-ip", lines);
    EXPECT_EQ(Rows(BuildUrlPage(log.table, log.header.fieldMap, {})), expected);
}

TEST(IpPageTest, VisitsWithTheFirstCrawler) {
    const LogImport log = FourVisits();
    const StatsTable page = BuildIpPage(log.table, log.header.fieldMap, {});
    EXPECT_EQ(Utf8(page.headers), (Texts{"IP", "访问次数", "所属蜘蛛", "IP 所在地"}));
    EXPECT_EQ(Rows(page), (TextRows{{"192.0.2.1", "2", "百度(Baiduspider)", ""},
                                    {"192.0.2.2", "1", "百度(Baiduspider)", ""},
                                    {"192.0.2.3", "1", "谷歌(Googlebot)", ""}}));
    EXPECT_TRUE(page.clearMarks);
    EXPECT_TRUE(page.summaryCells.empty());
    EXPECT_FALSE(page.summaryRow);
    EXPECT_EQ(Rows(BuildIpPage(log.table, log.header.fieldMap, Only(SpiderId::Google))),
              (TextRows{{"192.0.2.1", "1", "谷歌(Googlebot)", ""},
                        {"192.0.2.3", "1", "谷歌(Googlebot)", ""}}));
}

TEST(PagesTest, MissingFieldsGiveColumnsWithoutRows) {
    struct Case {
        StatsPage page;
        std::string fields;
        SpiderFilter filter;
        std::size_t rows;
    };
    const Case cases[] = {
        {StatsPage::SpiderTraffic, "sc-status cs(User-Agent)", {}, 0}, // no hour to count by
        {StatsPage::Url, "cs-uri-stem date", {}, 0},
        {StatsPage::Url, "date c-ip", {}, 0},
        {StatsPage::Url, "cs-uri-stem c-ip", {}, 2}, // the user-agent only filters
        {StatsPage::Url, "cs-uri-stem c-ip", Only(SpiderId::Unknown), 0},
        {StatsPage::Ip, "cs-uri-stem c-ip", {}, 0},
        {StatsPage::Ip, "cs-uri-stem cs(User-Agent)", {}, 0},
        {StatsPage::Status, "sc-status cs-uri-stem", {}, 0},
        {StatsPage::Status, "sc-win32-status cs-uri-stem", {}, 0},
    };
    for (const Case& c : cases) {
        const LogImport log = Import(c.fields, {"200 /a"});
        const StatsTable page =
            BuildStatsPage(c.page, log.table, log.header.fieldMap, log.tally, c.filter);
        EXPECT_EQ(page.headers.size(), c.page == StatsPage::Ip ? 4u : 3u) << c.fields;
        EXPECT_EQ(page.rows.size(), c.rows) << c.fields;
        EXPECT_EQ(page.summaryRow, c.rows > 0) << c.fields;
        EXPECT_EQ(page.summaryCells.empty(), c.rows == 0) << c.fields;
    }
}

TEST(StatusPageTest, KeysInFirstSeenOrderAndTheirUrls) {
    const LogImport log =
        Import("sc-status sc-substatus sc-win32-status cs-uri-stem",
               {"200 0 0 /a", "404 0 2 /b", "200 5 0 /a", "200 0 1236 /d", "- 0 0 /e", "304 0",
                "2|0 0 5 /f", "2 0 0|5 /g", "20 0 0 /h", "200 0 00 /i", "200 0 0 /j"});
    const StatsTable page = BuildStatusPage(log.table, log.header.fieldMap);
    EXPECT_EQ(Utf8(page.headers), (Texts{"状态码", "出现次数", "状态描述"}));
    EXPECT_EQ(Rows(page),
              (TextRows{{"200|0", "3", "访问正常(OK)|完成"},
                        {"404|2", "1", "该文档已经不存在(Not Found)|系统找不到指定的文件"},
                        {"200|1236", "1", "访问正常(OK)|不明状态"},
                        {"-|0", "1", "不明状态|完成"},
                        {"304|", "1", "原来已缓冲的文档可继续使用(Not Modified)|不明状态"},
                        {"2|0|5", "2", "不明状态|不明状态"}, // keys are texts
                        {"20|0", "1", "不明状态|完成"},
                        {"200|00", "1", "访问正常(OK)|不明状态"}}));
    EXPECT_EQ(page.plainCells, (Cells{{0, 1}, {0, 2}}));
    EXPECT_TRUE(page.summaryCells.empty());

    const auto urls = [&](const RecordTable& table, std::string_view key) {
        return Utf8(StatusUrlLines(table, log.header.fieldMap, key));
    };
    EXPECT_EQ(urls(log.table, "200|0"), (Texts{"状态码：200|0", "/a", "/a", "/j"}));
    EXPECT_EQ(urls(log.table, "2|0|5"), (Texts{"状态码：2|0|5", "/f", "/g"}));
    EXPECT_EQ(urls(log.table, "304|"), (Texts{"状态码：304|", ""}));
    EXPECT_EQ(urls(log.table, "1"), (Texts{"状态码：1"}));
    RecordTable sorted = log.table;
    std::vector<RecordIndex> order;
    for (std::uint32_t r = log.table.rowCount(); r-- > 0;) {
        order.push_back(RecordIndex{r});
    }
    sorted.setRowOrder(order);
    EXPECT_EQ(urls(sorted, "200|0"), (Texts{"状态码：200|0", "/j", "/a", "/a"}));

    const LogImport noStatus = Import("sc-win32-status cs-uri-stem", {"0 /a"});
    EXPECT_EQ(Utf8(StatusUrlLines(noStatus.table, noStatus.header.fieldMap, "|0")),
              (Texts{"状态码：|0"}));
}

TEST(StatusPageTest, OneCrawlersStatusesAndTheirUrls) {
    const LogImport log = Import("sc-status sc-win32-status cs-uri-stem cs(User-Agent)",
                                 {"200 0 /a " + kBaidu, "404 2 /b " + kGoogle, "404 2 /c " + kBaidu,
                                  "500 0 /d " + kGoogle, "200 0 /e Mozilla", "404 2 /f " + kBaidu});
    const FieldMap& fields = log.header.fieldMap;
    EXPECT_EQ(Rows(BuildStatusPage(log.table, fields, {}, Only(SpiderId::Baidu))),
              (TextRows{{"200|0", "1", "访问正常(OK)|完成"},
                        {"404|2", "2", "该文档已经不存在(Not Found)|系统找不到指定的文件"}}));
    // First seen among the crawler's own records: 404 before 500 for Google.
    EXPECT_EQ(Rows(BuildStatusPage(log.table, fields, {}, Only(SpiderId::Google)))[0][0], "404|2");
    EXPECT_TRUE(BuildStatusPage(log.table, fields, {}, Only(SpiderId::Sogou)).rows.empty());

    // Every crawler tab together counts what all traffic does.
    std::map<std::string, long> perTab;
    for (int tab = 1; tab <= log.tally.length(); ++tab) {
        for (const Texts& row : BuildStatsPage(StatsPage::Status, log.table, fields, log.tally,
                                               SpiderFilterOfTab(log.tally, tab))
                                    .rows) {
            perTab[row[0]] += std::stol(row[1]);
        }
    }
    std::map<std::string, long> all;
    for (const Texts& row : BuildStatusPage(log.table, fields).rows) {
        all[row[0]] += std::stol(row[1]);
    }
    EXPECT_EQ(perTab, all);

    // A row's URLs are the records it counted.
    EXPECT_EQ(Utf8(StatusUrlLines(log.table, fields, "404|2", Only(SpiderId::Baidu))),
              (Texts{"状态码：404|2", "/c", "/f"}));
    EXPECT_EQ(Utf8(StatusUrlLines(log.table, fields, "404|2")),
              (Texts{"状态码：404|2", "/b", "/c", "/f"}));

    // Without a user-agent field a crawler has no records.
    const LogImport noAgent = Import("sc-status sc-win32-status cs-uri-stem", {"200 0 /a"});
    EXPECT_TRUE(BuildStatusPage(noAgent.table, noAgent.header.fieldMap, {}, Only(SpiderId::Baidu))
                    .rows.empty());
    EXPECT_EQ(Utf8(StatusUrlLines(noAgent.table, noAgent.header.fieldMap, "200|0",
                                  Only(SpiderId::Baidu))),
              (Texts{"状态码：200|0"}));
    EXPECT_EQ(BuildStatusPage(noAgent.table, noAgent.header.fieldMap).rows.size(), 1u);
}

TEST(SpiderFilterTest, TabsAndShortNames) {
    const SpiderTally tally = FourVisits().tally;
    EXPECT_EQ(Utf8(SpiderFilterCaptions(tally)), (Texts{"所有流量", "百度", "谷歌"}));
    EXPECT_EQ(Utf8(SpiderFilterCaptions({})), (Texts{"所有流量"}));
    EXPECT_TRUE(SpiderFilterOfTab(tally, 0).allTraffic());
    EXPECT_EQ(SpiderFilterOfTab(tally, 2).displayName, SpiderDisplayName(SpiderId::Google));
    EXPECT_TRUE(SpiderFilterOfTab(tally, 3).allTraffic());

    SpiderTally odd;
    for (const char* name : {"其他流量(unknown)", "a(b)(c)", "plain", "x("}) {
        odd.count(Utf8ToGbk(name));
    }
    EXPECT_EQ(Utf8(SpiderShortNames(odd)), (Texts{"其他流量", "a(b)", "plain", "x"}));
}

} // namespace
} // namespace logdesk
