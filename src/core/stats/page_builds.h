// The pages of the detailed statistics window, computed from an import.
//
// Every build reads the table row by row in its current order (first-seen
// order follows it), the columns through the FieldMap and the crawlers
// through the tally; none changes them. Builds are pure: they may run on any
// thread over a table the caller keeps alive and unchanged meanwhile. Cost is
// one pass over the rows with hashed look-ups (on the URL page a (URL, IP)
// pair's too).
//
// Every build takes an optional cancel token, polled every few thousand rows
// (and within the URL page's sort): once it is cancelled the build stops and
// what it returns is no page.
//
// A page whose fields the log lacks shows its columns and no rows, except
// where the missing field cannot change the figures:
// - crawler traffic: without a user-agent field no record belongs to a tally
//   entry, so every count is 0 (the tally of such a log is empty anyway);
//   without a time field there is no hour to count by: no rows. By date
//   likewise, with the date field in place of the time.
// - URLs: needs cs-uri-stem and c-ip; the user-agent only with a filter.
// - IPs: needs c-ip and the user-agent.
// - status: needs sc-status and sc-win32-status; the user-agent only with a
//   filter.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/field_catalogue.h"
#include "core/logimport/parallel_work.h"
#include "core/logimport/record_consumer.h"
#include "core/logimport/record_table.h"
#include "core/logimport/spider_catalogue.h"
#include "stats_table.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace logdesk {

struct SiteUrlList;

// Counts what one page shows over records given in order. Accumulators of
// consecutive runs of records join into the one of all of them, in the
// order of first sight the records give: so a page can be counted in
// pieces on several threads, or while the records stream past.
class PageAccumulator : public RecordConsumer {
public:
    // splits() (record_consumer.h) is false on the URL page, where nearly
    // every record adds a distinct pair, and on the IP page, where a piece
    // of a log holds most of its addresses.
    // Whether records change the page of a log with these fields (a page
    // missing a field it counts by shows none).
    virtual bool needsRecords(const PageFields& fields) const = 0;
    // The page, once every record was added. `tally` names the crawler
    // columns of the traffic page.
    virtual StatsTable finish(const PageFields& fields, const SpiderTally& tally) const = 0;
};

// The records the URL, IP and status pages count.
struct SpiderFilter {
    // GBK display name the record's user-agent cell must equal byte for
    // byte; none counts every record.
    std::optional<std::string> displayName;

    bool allTraffic() const { return !displayName.has_value(); }
};

// What a page is asked to count beyond the records: the crawler filter
// (on the pages whose entry says crawlerFilter), the directory depth of the
// sections page and the site's URL list of the coverage page. A filter
// alone is a request, so the pages that know no more take one.
struct PageRequest {
    PageRequest(SpiderFilter spiderFilter = {}) : filter(std::move(spiderFilter)) {}

    SpiderFilter filter;
    // Path segments a directory of the sections page keeps: 1 or 2.
    int depth = 1;
    // The coverage page's list, owned by the caller and alive while the
    // page's accumulators are; none counts as an empty list.
    const SiteUrlList* siteUrls = nullptr;
};

// An empty accumulator of `page` for the request.
std::unique_ptr<PageAccumulator> MakePageAccumulator(StatsPage page, const PageRequest& request);

// What a double click on a row of a page's list does in the statistics
// window (the row's first cell is the key).
enum class RowAction {
    None,
    ListStatusUrls, // the URLs of the records the status row counted
    LocateIp,       // the row's IP looked up
    OpenUrl,        // the URL opened behind the window's HTTP prefix
};

// What a page's column holds. Counts are plain decimal numbers; a key is the
// row's own name (an hour, a date, a URL, an IP, a status); text is any other
// text. How a list sorts a column goes by its caption (StatsSortKind), not
// by this.
enum class ColumnKind {
    Key,
    Count,
    Text,
    CrawlerCounts, // one Count column per tally entry, captioned with its short name
};

struct PageColumn {
    std::string_view caption; // UTF-8; empty for CrawlerCounts
    ColumnKind kind;
};

// One entry per page: what the front ends know of it. logdesk-report's page
// names and usage, the statistics window's tabs and its crawler filter strip
// are made from these; a new page is an entry, its accumulator and its tests.
struct StatsPageEntry {
    StatsPage page;
    std::string_view cliName; // logdesk-report --page NAME
    // The statistics window's tab (from 0) with its caption (UTF-8) and
    // icon (a resource path). A page shown in another page's tab instead of
    // it, by date where that one counts by hour, has that tab and no
    // caption of its own. A page the window has no tab for has tab kNoTab,
    // its caption and no icon.
    int tab;
    std::string_view tabCaption;
    std::string_view tabIcon;
    bool byDate;
    // Counts one crawler's records when a crawler filter tab (or --spider)
    // asks; the other pages count every record.
    bool crawlerFilter;
    RowAction doubleClick;
    // logdesk-report counts it while it reads, keeping no records, unless
    // the run needs the table for something else.
    bool streams;
    // Its columns in order; CrawlerCounts stands for as many as the tally
    // has entries.
    std::span<const PageColumn> columns;
    std::unique_ptr<PageAccumulator> (*makeAccumulator)(const PageRequest& request);
    // Its columns when one crawler is counted, where they are other ones
    // (its rows then are that crawler's URLs); empty: `columns`.
    std::span<const PageColumn> filteredColumns = {};
    // How logdesk-report --from clickhouse asks the server for it (empty: it
    // cannot): one SELECT over the counted records whose rows are records
    // for the page's own accumulator. Its columns are, in order, v (how many
    // records the row stands for), a (the crawler's display name), d, t, u,
    // i, s, w (the date, time, cs-uri-stem, c-ip, sc-status and
    // sc-win32-status cells; only the first two bytes of a time count), and
    // its rows come in the order of the records they stand for. The
    // warehouse fills in {records} (the table), {where} (counted rows of the
    // run's catalogue, dates and crawler filter), {date}, {hour}, {status},
    // {win32} (the cells as logged) and {first} (the row's first record in
    // reading order); see core/warehouse/warehouse_pages.h.
    std::string_view warehouseQuery = {};
    // The tab (from 0) of the window 抓取分析 that shows the page, under its
    // tabCaption; kNoTab for a page it does not show.
    int crawlAnalysisTab = -1;
};
inline constexpr int kNoTab = -1;

// The page's column captions (GBK) for a tally, CrawlerCounts expanded, and
// the kind of each.
std::vector<std::string> PageHeaders(const StatsPageEntry& entry, const SpiderTally& tally);
// The captions the page has for this filter: its filteredColumns' when it
// has them and the filter counts one crawler.
std::vector<std::string> PageHeaders(const StatsPageEntry& entry, const SpiderTally& tally,
                                     const SpiderFilter& filter);
std::vector<ColumnKind> PageColumnKinds(const StatsPageEntry& entry, const SpiderTally& tally);

// Every page, in the order logdesk-report's usage lists them.
std::span<const StatsPageEntry> StatsPages();
const StatsPageEntry& StatsPageEntryOf(StatsPage page);
// nullptr for a name no page has.
const StatsPageEntry* StatsPageNamed(std::string_view cliName);
// The page window tab `tab` shows: its by-date page with `byDate` where it
// has one. nullptr for a tab no page has.
const StatsPageEntry* StatsPageOfTab(int tab, bool byDate);
// The pages that have a tab of their own, in tab order (none of kNoTab).
std::vector<const StatsPageEntry*> StatsPageTabs();

// The page of the records `counted` took as they streamed past (made by
// MakePageAccumulator(page, request)): what BuildStatsPage gives for a table
// of the same records in the same order, whose last header has `fields`.
StatsTable FinishStreamedPage(const PageAccumulator& counted, StatsPage page,
                              const PageRequest& request, const FieldMap& fields,
                              const SpiderTally& tally);

// The catalogue's short name of each tally entry, in tally order; a name
// outside the catalogue is cut up to its last "(" ("a(b)(c)" gives "a(b)"), and
// one without "(" stays whole.
std::vector<std::string> SpiderShortNames(const SpiderTally& tally);

// The captions of the spider filter tabs: "所有流量", then the short name of
// each tally entry.
std::vector<std::string> SpiderFilterCaptions(const SpiderTally& tally);

// The filter of tab `tab`: tab k >= 1 is the display name of tally entry k;
// tab 0, and a tab the tally has no entry for, count every record.
SpiderFilter SpiderFilterOfTab(const SpiderTally& tally, int tab);

// Columns "时间", one short name per tally entry, "流量汇总"; rows "全天"
// (the summary) and "1时" to "24时", where hour row i counts the records
// whose time cell's first two characters read as the number i - 1. A time
// that reads as no hour of the day (empty, "-", "99:...") counts as hour 0.
// A record whose user-agent cell names no tally entry is not counted.
StatsTable BuildSpiderTrafficPage(const RecordTable& table, const FieldMap& fields,
                                  const SpiderTally& tally, const CancelToken& cancel = {});

// The columns of BuildSpiderTrafficPage; rows "全部日期" (the summary, marked
// as "全天" is), then one per distinct date cell in ascending byte order
// (IIS writes YYYY-MM-DD, so that is date order), whatever order the
// records come in. A record whose line ends before its date (an empty cell)
// counts under "-", as IIS writes an empty field. Every date a record
// carries has its row, one whose records name no tally entry all zeros.
StatsTable BuildSpiderDaysPage(const RecordTable& table, const FieldMap& fields,
                               const SpiderTally& tally, const CancelToken& cancel = {});

// Columns "URL", "访问次数", "独立IP数": the summary "全部URL" (all visits,
// distinct IPs over all visits), then one row per distinct cs-uri-stem in
// first-seen order. A URL counts the distinct c-ip texts of its visits, an
// empty one among them; no visits at all count 0.
StatsTable BuildUrlPage(const RecordTable& table, const FieldMap& fields,
                        const SpiderFilter& filter, const CancelToken& cancel = {});

// Columns "IP", "访问次数", "所属蜘蛛", "IP 所在地": one row per distinct
// c-ip in first-seen order, with the user-agent cell of its first record and
// an empty location for the lookup to fill.
StatsTable BuildIpPage(const RecordTable& table, const FieldMap& fields, const SpiderFilter& filter,
                       const CancelToken& cancel = {});

// Columns "状态码", "出现次数", "状态描述": one row per distinct status key
// (sc-status cell "|" sc-win32-status cell, taken as they are) in first-seen
// order, described by DescribeStatusKey. With a filter, of that crawler's
// records only.
StatsTable BuildStatusPage(const RecordTable& table, const FieldMap& fields,
                           const CancelToken& cancel = {}, const SpiderFilter& filter = {});

// How far a build got: `done` of `total` records counted. A build calls it
// on its own (the calling) thread only, every few thousand records that
// thread counted with what all threads counted so far, and last with done ==
// total once every record was counted (not when it was cancelled); so a
// caller that shows it needs no lock of its own.
using PageProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The build of `page` for the request (the filter matters on the pages
// whose entry says crawlerFilter). The
// records are counted in pieces on the threads `parallel` gives and the
// pieces joined in row order, which gives what one pass in row order gives
// (one thread makes that one pass). Once `cancel` is cancelled (polled every
// few thousand rows) the build stops and returns no page. With a
// clientIpColumn (1-based, 0 for none) every page reads a record's address
// as ClientAddress(that column's cell, its c-ip cell): the client behind a
// proxy. `progress`, when given, hears how far the counting got.
StatsTable BuildStatsPage(StatsPage page, const RecordTable& table, const FieldMap& fields,
                          const SpiderTally& tally, const PageRequest& request,
                          const CancelToken& cancel = {}, const Parallelism& parallel = {},
                          std::int32_t clientIpColumn = 0, const PageProgress& progress = {});

// For each column of a page, the row of one of its longest cells (by
// bytes), the first such row; -1 for a column whose cells are all empty.
std::vector<int> LongestCells(const StatsTable& page);

// What the status page's URL list shows for a status key: "状态码：" + key,
// then the cs-uri-stem of every record, in row order and repeats included,
// whose status key equals it and that the filter counts (the status page's
// own filter, so that the lines are the records its row counted). Only the
// first line when the log lacks one of the three fields, or the user-agent
// with a filter.
std::vector<std::string> StatusUrlLines(const RecordTable& table, const FieldMap& fields,
                                        std::string_view statusKey,
                                        const SpiderFilter& filter = {});

} // namespace logdesk
