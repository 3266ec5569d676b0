// The shareable report: one HTML file that opens in a browser from a mail
// attachment, holding the crawler pages of one log.
//
// The file is whole in itself: UTF-8, CSS in a <style> element, the charts as
// inline SVG, no script, and no link, image, font or frame that reaches
// outside it (in-page anchors "#id" only). A Content-Security-Policy meta
// element forbids loading anything at all, so that not even a later edit of
// the file by hand can make it fetch.
//
// The writer only lays out. Every figure it shows is a cell of a page table
// the caller built with the page code (page_builds.h) exactly as
// logdesk-report's CSV pages are built, cell for cell; the charts draw those
// cells too. Texts come in GBK, as the pages hold them, and go out as
// UTF-8, each HTML-escaped: a logged URL is text, never markup.
//
// Every table carries data-page="NAME", the logdesk-report --page it is
// from, and data-spider="SHORTNAME" when that page was filtered by a
// crawler, so that a script can hold the report against the CSV pages.
#pragma once

#include "core/base/result.h"
#include "core/logimport/crawler_registry.h"
#include "core/stats/stats_table.h"
#include "line_sink.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// How many URLs a crawler's section lists, most visited first.
inline constexpr std::size_t kHtmlTopUrls = 20;
// How many rows of the verification table the report shows.
inline constexpr std::size_t kHtmlVerifyRows = 100;

// One tally entry's own pages.
struct HtmlCrawler {
    std::string shortName; // GBK, as --spider takes it
    // 0xRRGGBB, the chart colour of the registry; kNoColour draws grey.
    std::int32_t rgb = kNoColour;
    // False for the fallback 其他流量, which the daily trend leaves out: its
    // visitors are people, and their counts would flatten every crawler's line.
    bool crawler = true;
    StatsTable status; // --page status --spider shortName
    // --page urls --spider shortName --sort 1 --desc: the summary row and at
    // most kHtmlTopUrls rows after it.
    StatsTable topUrls;
    std::size_t urlCount = 0; // URL rows of the whole page, the summary not counted
};

struct HtmlVerification {
    // GBK: why the run judged nobody 假 (the DNS server does not answer
    // reverse lookups); empty when it could judge.
    std::string problem;
    StatsTable shares; // each crawler's claimed and genuine visits (ShareTableRows)
    // --page verify: its first kHtmlVerifyRows rows.
    StatsTable addresses;
    std::size_t addressCount = 0; // rows of the whole page
};

struct HtmlReportPages {
    std::string title;     // GBK: what was read, the logs' names
    std::string generated; // GBK: when the report was made, as the caller words it
    StatsTable spiders;    // --page spiders: 蜘蛛, 访问次数, in tally order
    // One per spiders row, in the same order; the crawler columns of
    // spiderDays are the same entries in the same order.
    std::vector<HtmlCrawler> crawlers;
    StatsTable spiderDays;                        // --page spider-days
    StatsTable status;                            // --page status: every visit
    StatsTable timing;                            // --page timing: rows, or its notice
    std::optional<StatsTable> coverage;           // --page coverage, when a URL list was given
    std::optional<HtmlVerification> verification; // when verification was asked for
};

// Writes the report to the sink in UTF-8; the sink's failure, if any.
Result<void> WriteHtmlReport(const HtmlReportPages& pages, LineSink& sink);

// GBK text as UTF-8 fit for an HTML text node and a quoted attribute value:
// & < > " ' as character references, control characters other than tab,
// LF and CR (which HTML does not allow) as U+FFFD, bytes that are no GBK
// as U+FFFD (gbk_codec.h).
std::string HtmlText(std::string_view gbk);

} // namespace logdesk
