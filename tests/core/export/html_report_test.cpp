// The HTML report as a browser's parser reads it: what becomes markup and
// what stays text, that nothing reaches outside the file, and that its
// tables and charts are the pages' cells, on logs whose answers are known
// by construction.
#include "core/export/html_report.h"
#include "core/logimport/spider_catalogue.h"
#include "core/stats/page_builds.h"
#include "core/stats/stats_sort.h"
#include "core/text/gbk_codec.h"
#include "support/html_test_support.h"
#include "support/page_test_support.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace logdesk {
namespace {

using testing::Import;
using testing::kBaidu;
using testing::kGoogle;
using testing::ParsedHtml;
using Texts = std::vector<std::string>;
using TextRows = std::vector<Texts>;

// A page of these captions and rows (UTF-8).
StatsTable Page(const Texts& headers, const TextRows& rows) {
    StatsTable page;
    for (const std::string& caption : headers) {
        page.headers.push_back(Gbk(caption));
    }
    for (const Texts& row : rows) {
        page.rows.emplace_back();
        for (const std::string& cell : row) {
            page.rows.back().push_back(Gbk(cell));
        }
    }
    return page;
}

// The report's pages of a log as logdesk-report assembles them: the tally,
// each entry's status page and its URL page sorted by visits, descending,
// cut after the first kHtmlTopUrls URLs.
HtmlReportPages PagesOf(const LogImport& log) {
    const auto build = [&](StatsPage page, const PageRequest& request) {
        return BuildStatsPage(page, log.table, log.header.fieldMap, log.tally, request);
    };
    HtmlReportPages pages;
    pages.title = Gbk("ex240301.log");
    pages.generated = "2024-03-04 00:00:00 UTC";
    pages.spiders.headers = {Gbk("蜘蛛"), Gbk("访问次数")};
    const std::vector<std::string> shortNames = SpiderShortNames(log.tally);
    for (int k = 1; k <= log.tally.length(); ++k) {
        const SpiderTally::Entry& entry = log.tally.entry(k);
        pages.spiders.rows.push_back({entry.name, std::to_string(entry.count)});
        HtmlCrawler crawler;
        crawler.shortName = shortNames[static_cast<std::size_t>(k - 1)];
        const SpiderInfo* spider = FindSpiderByDisplayName(entry.name);
        crawler.rgb = spider->rgb;
        crawler.crawler = spider->id != SpiderId::Unknown;
        crawler.status = build(StatsPage::Status, SpiderFilter{entry.name});
        StatsTable urls = build(StatsPage::Url, SpiderFilter{entry.name});
        crawler.urlCount = urls.rows.size() - 1;
        SortStatsPage(urls, 1, true, -1);
        SortStatsPage(urls, 1, false, -1);
        urls.rows.resize(std::min(urls.rows.size(), kHtmlTopUrls + 1));
        crawler.topUrls = std::move(urls);
        pages.crawlers.push_back(std::move(crawler));
    }
    pages.spiderDays = build(StatsPage::SpiderDays, {});
    pages.status = build(StatsPage::Status, {});
    pages.timing = build(StatsPage::Timing, {});
    return pages;
}

std::string Html(const HtmlReportPages& pages) {
    StringSink sink;
    const Result<void> written = WriteHtmlReport(pages, sink);
    EXPECT_TRUE(written) << (written ? "" : written.error().line());
    return sink.text();
}

// The page's captions and rows as the report's table shows them.
TextRows Shown(const StatsTable& page) {
    TextRows rows{testing::Utf8(page.headers)};
    for (const Texts& row : testing::Rows(page)) {
        rows.push_back(row);
    }
    return rows;
}

TextRows TableCells(const ParsedHtml& html, std::string_view page, std::string_view spider = {}) {
    const auto tables = html.tables(page, spider);
    EXPECT_EQ(tables.size(), 1u) << page << " " << spider;
    return tables.empty() ? TextRows{} : ParsedHtml::Cells(tables.front());
}

const char* const kHostileUrl = "/x<script>alert(1)</script>";
const char* const kQuotedUrl = "/q\"a\"&b='c'<img/src=x>";
const char* const kChineseUrl = "/新闻/页面.htm";

// Baidu fetches /b/N N times (N = 1..25) from 10.0.0.(N % 4), on the day
// (visit % 3) + 1; /b/N gives 200 for odd N, 301 for N % 4 == 2, 404
// otherwise. Google fetches /g/N N times (N = 1..3) on day 2, /g/3 a 404.
// People fetch the hostile and the Chinese URLs once each on day 1.
struct KnownLog {
    LogImport log;
    std::map<std::string, int> spiderVisits;                    // display name (UTF-8)
    std::map<std::string, std::map<std::string, int>> perDay;   // short name -> date -> visits
    std::map<std::string, std::map<std::string, int>> statuses; // short name -> key -> visits
};

KnownLog MakeKnownLog() {
    KnownLog known;
    Texts lines;
    const auto visit = [&](int day, const std::string& url, const std::string& ip,
                           const std::string& agent, const std::string& name,
                           const std::string& shortName, const std::string& status) {
        const std::string date = "2024-03-0" + std::to_string(day);
        lines.push_back(date + " 08:00:00 " + url + " " + ip + " " + agent + " " + status + " 0 " +
                        std::to_string(day * 10));
        ++known.spiderVisits[name];
        ++known.perDay[shortName][date];
        ++known.statuses[shortName][status + "|0"];
    };
    int baiduVisits = 0;
    for (int n = 1; n <= 25; ++n) {
        const std::string status = n % 2 == 1 ? "200" : n % 4 == 2 ? "301" : "404";
        for (int i = 0; i < n; ++i) {
            visit(baiduVisits++ % 3 + 1, "/b/" + std::to_string(n),
                  "10.0.0." + std::to_string(i % 4), kBaidu, "百度(Baiduspider)", "百度", status);
        }
    }
    for (int n = 1; n <= 3; ++n) {
        for (int i = 0; i < n; ++i) {
            visit(2, "/g/" + std::to_string(n), "66.249.66.1", kGoogle, "谷歌(Googlebot)", "谷歌",
                  n == 3 ? "404" : "200");
        }
    }
    for (const char* url : {kHostileUrl, kQuotedUrl, kChineseUrl}) {
        visit(1, url, "192.0.2.7", "Mozilla/5.0", "其他流量(unknown)", "其他流量", "200");
    }
    known.log = Import("date time cs-uri-stem c-ip cs(User-Agent) sc-status sc-win32-status "
                       "time-taken",
                       lines);
    return known;
}

// The figures are the pages' cells, and those are what the log holds.
TEST(HtmlReportTest, TablesAreThePagesAndThePagesAreTheLog) {
    const KnownLog known = MakeKnownLog();
    const HtmlReportPages pages = PagesOf(known.log);
    const ParsedHtml html(Html(pages));
    EXPECT_EQ(html.errors(), 0u);

    // The crawler tally, in tally order (Baidu, Google, the rest).
    const TextRows spiders = TableCells(html, "spiders");
    EXPECT_EQ(spiders, Shown(pages.spiders));
    EXPECT_EQ(spiders, (TextRows{{"蜘蛛", "访问次数"},
                                 {"百度(Baiduspider)", "325"},
                                 {"谷歌(Googlebot)", "6"},
                                 {"其他流量(unknown)", "3"}}));
    for (const auto& [name, visits] : known.spiderVisits) {
        EXPECT_NE(std::find(spiders.begin(), spiders.end(), Texts{name, std::to_string(visits)}),
                  spiders.end())
            << name;
    }

    // Days: every crawler's visits per date, summed on the first row.
    const TextRows days = TableCells(html, "spider-days");
    EXPECT_EQ(days, Shown(pages.spiderDays));
    ASSERT_EQ(days.size(), 5u);
    EXPECT_EQ(days[0], (Texts{"时间", "百度", "谷歌", "其他流量", "流量汇总"}));
    EXPECT_EQ(days[1], (Texts{"全部日期", "325", "6", "3", "334"}));
    for (std::size_t d = 2; d < days.size(); ++d) {
        const std::string& date = days[d][0];
        const auto visits = [&](const char* spider) {
            const auto& perDay = known.perDay.at(spider);
            const auto it = perDay.find(date);
            return std::to_string(it == perDay.end() ? 0 : it->second);
        };
        EXPECT_EQ(days[d][1], visits("百度")) << date;
        EXPECT_EQ(days[d][2], visits("谷歌")) << date;
        EXPECT_EQ(days[d][3], visits("其他流量")) << date;
    }

    // Each crawler's statuses, and its most visited URLs, most first.
    for (const HtmlCrawler& crawler : pages.crawlers) {
        const std::string name = GbkToUtf8(crawler.shortName);
        const TextRows status = TableCells(html, "status", name);
        EXPECT_EQ(status, Shown(crawler.status)) << name;
        std::map<std::string, int> counted;
        for (std::size_t r = 1; r < status.size(); ++r) {
            counted[status[r][0]] = std::stoi(status[r][1]);
        }
        EXPECT_EQ(counted, known.statuses.at(name)) << name;
        EXPECT_EQ(TableCells(html, "urls", name), Shown(crawler.topUrls)) << name;
    }
    const TextRows baiduUrls = TableCells(html, "urls", "百度");
    ASSERT_EQ(baiduUrls.size(), 2 + kHtmlTopUrls);
    EXPECT_EQ(baiduUrls[1], (Texts{"全部URL", "325", "4"}));
    for (std::size_t r = 2; r < baiduUrls.size(); ++r) {
        const int n = 25 - static_cast<int>(r - 2);
        EXPECT_EQ(baiduUrls[r], (Texts{"/b/" + std::to_string(n), std::to_string(n),
                                       std::to_string(std::min(n, 4))}));
    }
    EXPECT_EQ(TableCells(html, "status"), Shown(pages.status));
    EXPECT_EQ(TableCells(html, "timing"), Shown(pages.timing));
    // The count of the URLs left out is the page's.
    EXPECT_NE(html.root().text().find("（前 20 个，共 25 个）"), std::string::npos);
}

// The pie has a slice per crawler with visits, in its chart colour; the
// trend a line per crawler, the people's 其他流量 left out.
TEST(HtmlReportTest, ChartsDrawTheCrawlersInTheirColours) {
    const KnownLog known = MakeKnownLog();
    const ParsedHtml html(Html(PagesOf(known.log)));
    const auto svgs = html.all("svg");
    const auto pie = std::find_if(svgs.begin(), svgs.end(), [](const auto& svg) {
        return std::string(svg.attribute("class")) == "pie";
    });
    ASSERT_NE(pie, svgs.end());
    std::vector<std::string> slices;
    for (const auto& path : pie->all("path")) {
        slices.push_back(path.attribute("fill"));
    }
    EXPECT_EQ(slices, (Texts{"#2932e1", "#b90925", "#ffffff"}));
    // Baidu's 325 of 334 visits take more than half the circle.
    EXPECT_NE(std::string(pie->all("path").front().attribute("d")).find(" 0 1,1 "),
              std::string::npos);

    const auto lines = std::find_if(svgs.begin(), svgs.end(), [](const auto& svg) {
        return std::string(svg.attribute("class")) == "lines";
    });
    ASSERT_NE(lines, svgs.end());
    std::vector<std::string> strokes;
    for (const auto& line : lines->all("polyline")) {
        strokes.push_back(line.attribute("stroke"));
    }
    EXPECT_EQ(strokes, (Texts{"#2932e1", "#b90925"}));
    // Three dates, a point each.
    const std::string points = lines->all("polyline").front().attribute("points");
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), 3);

    // The status bars: a part per class of status, in class order. Google's
    // 3 visits of 200 and 3 of a 404 are half and half; Baidu's 325 are 169
    // of 200 (odd N), 2 + 6 + ... + 22 = 72 of 301 and 4 + 8 + ... + 24 = 84
    // of 404, of the bar's 940 units.
    std::vector<Texts> bars;
    for (const auto& svg : html.all("svg")) {
        if (std::string(svg.attribute("class")) == "bar") {
            Texts parts;
            for (const auto& rect : svg.all("rect")) {
                parts.push_back(rect.all("title").front().text() + " " + rect.attribute("width"));
            }
            bars.push_back(parts);
        }
    }
    ASSERT_EQ(bars.size(), 4u); // every visit, then each crawler's
    EXPECT_EQ(bars[1],
              (Texts{"2xx 成功 169 488.80", "3xx 跳转 72 208.25", "4xx 客户端错误 84 242.95"}));
    EXPECT_EQ(bars[2], (Texts{"2xx 成功 3 470.00", "4xx 客户端错误 3 470.00"}));
}

// A logged text stays text: no element, attribute or reference comes of it.
TEST(HtmlReportTest, LoggedTextNeverBecomesMarkup) {
    const KnownLog known = MakeKnownLog();
    const std::string bytes = Html(PagesOf(known.log));
    const ParsedHtml html(bytes);
    EXPECT_EQ(html.errors(), 0u);
    EXPECT_TRUE(html.all("script").empty());
    EXPECT_TRUE(html.all("img").empty());
    const TextRows people = TableCells(html, "urls", "其他流量");
    Texts urls;
    for (std::size_t r = 2; r < people.size(); ++r) {
        urls.push_back(people[r][0]);
    }
    std::sort(urls.begin(), urls.end());
    Texts expected{kHostileUrl, kQuotedUrl, kChineseUrl};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(urls, expected);
    EXPECT_EQ(bytes.find("<script"), std::string::npos);
    EXPECT_NE(bytes.find("/x&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);

    // Escapes, controls and bytes that are no GBK.
    EXPECT_EQ(HtmlText("<a href=\"x\">'&amp;'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(HtmlText(Gbk("百度\t蜘蛛\r\n")), "百度\t蜘蛛\r\n");
    EXPECT_EQ(HtmlText(std::string("a\0b\x1b[31m\x7f", 9)), "a\xEF\xBF\xBD"
                                                            "b\xEF\xBF\xBD[31m\xEF\xBF\xBD");
    EXPECT_EQ(HtmlText("\x81"), "\xEF\xBF\xBD");

    // A crawler's name goes into an attribute: quoted, and escaped.
    HtmlReportPages pages = PagesOf(known.log);
    pages.crawlers[0].shortName = "\"><script>x</script>";
    pages.title = "</title><script>y</script>";
    const ParsedHtml renamed(Html(pages));
    EXPECT_TRUE(renamed.all("script").empty());
    EXPECT_EQ(renamed.tables("status", "\"><script>x</script>").size(), 1u);
    EXPECT_EQ(renamed.all("title").front().text(), "蜘蛛访问报告 - </title><script>y</script>");
}

// Nothing is fetched: no script, no source, no link but to the file's own
// anchors, no CSS url(); UTF-8 said first; a policy that forbids loading.
TEST(HtmlReportTest, TheFileNeedsNothingOutsideIt) {
    HtmlReportPages pages = PagesOf(MakeKnownLog().log);
    pages.coverage = Page({"所属蜘蛛"}, {{"百度"}});
    HtmlVerification verification;
    verification.shares = Page({"蜘蛛"}, {{"百度"}});
    pages.verification = verification;
    const ParsedHtml html(Html(pages));
    EXPECT_EQ(html.errors(), 0u);

    std::set<std::string> ids;
    for (const auto& element : html.all()) {
        if (const char* id = element.attribute("id")) {
            ids.insert(id);
        }
    }
    for (const auto& element : html.all()) {
        for (const auto& [name, value] : element.attributes()) {
            EXPECT_TRUE(name != "src" && name != "srcset" && name != "action" &&
                        name != "formaction" && name != "poster" && name != "data" &&
                        name != "xlink:href" && name != "background")
                << element.tag() << " " << name << "=" << value;
            if (name == "href") {
                EXPECT_TRUE(value.size() > 1 && value[0] == '#' && ids.count(value.substr(1)))
                    << value;
            }
            if (name == "style") {
                EXPECT_EQ(value.find("url("), std::string::npos) << value;
            }
        }
        const std::string tag = element.tag();
        EXPECT_TRUE(tag != "script" && tag != "link" && tag != "iframe" && tag != "object" &&
                    tag != "embed" && tag != "img" && tag != "base" && tag != "image" &&
                    tag != "use" && tag != "foreignobject")
            << tag;
    }
    const auto styles = html.all("style");
    ASSERT_EQ(styles.size(), 1u);
    EXPECT_EQ(styles.front().text().find("url("), std::string::npos);
    EXPECT_EQ(styles.front().text().find("@import"), std::string::npos);

    const auto head = html.all("head");
    ASSERT_EQ(head.size(), 1u);
    const auto metas = head.front().children("meta");
    ASSERT_GE(metas.size(), 2u);
    EXPECT_STREQ(metas[0].attribute("charset"), "utf-8");
    EXPECT_EQ(head.front().all({}).front().tag(), "meta");
    EXPECT_STREQ(metas[1].attribute("http-equiv"), "Content-Security-Policy");
    EXPECT_EQ(std::string(metas[1].attribute("content")).rfind("default-src 'none';", 0), 0u);
    EXPECT_EQ(std::string(metas[1].attribute("content")).find("script-src"), std::string::npos);
}

// The time-taken field missing: the timing page's notice in place of
// figures. The coverage and verification sections only when given; the
// verification table shows its first rows and says how many there are.
TEST(HtmlReportTest, NoticesAndTheSectionsOnlyWhenAsked) {
    const LogImport log = Import("date cs-uri-stem c-ip cs(User-Agent) sc-status sc-win32-status",
                                 {"2024-03-01 /a 10.0.0.1 " + kBaidu + " 200 0"});
    HtmlReportPages pages = PagesOf(log);
    ASSERT_FALSE(pages.timing.notice.empty());
    {
        const ParsedHtml html(Html(pages));
        bool noticed = false;
        for (const auto& p : html.all("p")) {
            noticed = noticed ||
                      (std::string(p.attribute("class") ? p.attribute("class") : "") == "notice" &&
                       p.text() == GbkToUtf8(pages.timing.notice));
        }
        EXPECT_TRUE(noticed);
        EXPECT_EQ(TableCells(html, "timing").size(), 1u); // the captions alone
        EXPECT_TRUE(html.tables("coverage").empty());
        EXPECT_TRUE(html.tables("verify").empty());
        for (const auto& a : html.all("a")) {
            EXPECT_STRNE(a.attribute("href"), "#coverage");
            EXPECT_STRNE(a.attribute("href"), "#verify");
        }
        // One crawler has every visit: the pie is a whole circle (and its rim).
        const auto svgs = html.all("svg");
        ASSERT_FALSE(svgs.empty());
        EXPECT_TRUE(svgs.front().all("path").empty());
        ASSERT_EQ(svgs.front().all("circle").size(), 2u);
        EXPECT_STREQ(svgs.front().all("circle").front().attribute("fill"), "#2932e1");
    }

    pages.coverage = Page({"所属蜘蛛", "清单URL数"}, {{"百度", "3"}});
    HtmlVerification verification;
    verification.problem = Gbk("DNS服务器不回答反查");
    verification.addresses.headers = {"IP"};
    for (int i = 0; i < 150; ++i) {
        verification.addresses.rows.push_back({"10.0.0." + std::to_string(i)});
    }
    verification.addressCount = 150;
    pages.verification = verification;
    const ParsedHtml html(Html(pages));
    EXPECT_EQ(TableCells(html, "coverage"), (TextRows{{"所属蜘蛛", "清单URL数"}, {"百度", "3"}}));
    const TextRows addresses = TableCells(html, "verify");
    ASSERT_EQ(addresses.size(), 1 + kHtmlVerifyRows);
    EXPECT_EQ(addresses.back(), Texts{"10.0.0.99"});
    const std::string text = html.root().text();
    EXPECT_NE(text.find("（前 100 行，共 150 行）"), std::string::npos);
    EXPECT_NE(text.find("DNS服务器不回答反查"), std::string::npos);
}

// Refuses every write, as a full disk does.
class FullSink final : public LineSink {
public:
    bool write(std::string_view) override { return false; }
    Result<void> status() const override { return SystemError(ENOSPC, "write"); }
};

TEST(HtmlReportTest, ASinkFailureIsTheResult) {
    FullSink sink;
    const Result<void> written = WriteHtmlReport(PagesOf(MakeKnownLog().log), sink);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ENOSPC);
}

} // namespace
} // namespace logdesk
