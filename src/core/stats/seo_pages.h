// The pages of the questions site owners ask of crawler logs: response
// times, directories, URLs whose status changes, and coverage of the site's
// URL list. Their entries are in page_builds.cpp with the others; the
// window has no tab for them.
#pragma once

#include "page_builds.h"

#include <memory>

namespace logdesk {

// Columns "所属蜘蛛", "访问次数", "平均耗时(毫秒)", "中位数(毫秒)",
// "95%耗时(毫秒)", "最长耗时(毫秒)", "发送字节": one row per crawler with
// visits, in tally order. With a filter, "URL", "访问次数" and the four
// timing columns instead: one row per cs-uri-stem of that crawler, slowest
// mean first, equal means in first-seen order. The mean is rounded half up
// to whole milliseconds; median and 95% are nearest-rank (the value at rank
// ceil(p * n) of the sorted times). A time-taken cell that is not a decimal
// number counts as a visit and no time; a row without any time has empty
// timing cells and sorts last. Bytes sum the sc-bytes cells that are decimal
// numbers. A log without time-taken has the notice and no rows.
inline constexpr PageColumn kTimingColumns[] = {
    {"所属蜘蛛", ColumnKind::Key},         {"访问次数", ColumnKind::Count},
    {"平均耗时(毫秒)", ColumnKind::Count}, {"中位数(毫秒)", ColumnKind::Count},
    {"95%耗时(毫秒)", ColumnKind::Count},  {"最长耗时(毫秒)", ColumnKind::Count},
    {"发送字节", ColumnKind::Count}};
inline constexpr PageColumn kTimingUrlColumns[] = {{"URL", ColumnKind::Key},
                                                   {"访问次数", ColumnKind::Count},
                                                   {"平均耗时(毫秒)", ColumnKind::Count},
                                                   {"中位数(毫秒)", ColumnKind::Count},
                                                   {"95%耗时(毫秒)", ColumnKind::Count},
                                                   {"最长耗时(毫秒)", ColumnKind::Count}};
std::unique_ptr<PageAccumulator> MakeTimingAccumulator(const PageRequest& request);

// Columns "目录", "所属蜘蛛", "访问次数", "2xx占比" to "5xx占比": one row per
// (directory of the cs-uri-stem at the request's depth, crawler) in
// first-seen order; each share, as "12.50%", of the row's visits whose
// sc-status starts with that digit.
inline constexpr PageColumn kSectionsColumns[] = {
    {"目录", ColumnKind::Key},     {"所属蜘蛛", ColumnKind::Text}, {"访问次数", ColumnKind::Count},
    {"2xx占比", ColumnKind::Text}, {"3xx占比", ColumnKind::Text},  {"4xx占比", ColumnKind::Text},
    {"5xx占比", ColumnKind::Text}};
std::unique_ptr<PageAccumulator> MakeSectionsAccumulator(const PageRequest& request);

// Columns "URL", "所属蜘蛛", "访问次数", "状态码", "状态与日期": one row per
// (cs-uri-stem, crawler) that gave two or more distinct sc-status cells, in
// first-seen order. The statuses in first-seen order joined by ","; for
// each, "status:first date~last date" of its records in record order
// ("status:date" when they are one), joined by "; ". An empty date is "-".
inline constexpr PageColumn kFlappingColumns[] = {{"URL", ColumnKind::Key},
                                                  {"所属蜘蛛", ColumnKind::Text},
                                                  {"访问次数", ColumnKind::Count},
                                                  {"状态码", ColumnKind::Text},
                                                  {"状态与日期", ColumnKind::Text}};
std::unique_ptr<PageAccumulator> MakeFlappingAccumulator(const PageRequest& request);

// How a crawler covered the site's URL list (PageRequest::siteUrls), a log
// request and a listed URL meeting when their match keys (url_key.h) are
// equal. Columns "所属蜘蛛", "清单URL数", "已抓取", "已抓取占比", "未抓取",
// "清单外URL数", "清单外访问次数", "清单外访问占比": one row per crawler
// with visits, in tally order; the shares are of the list's URLs and of the
// crawler's visits. With a filter, "URL", "类别", "访问次数", "首次日期",
// "末次日期", "末次状态": the listed URLs it fetched (类别 已抓取) and those
// it never did (未抓取), both in list order and as the list gives them, then
// the keys of what it fetched outside the list (清单外) in first-seen order.
inline constexpr PageColumn kCoverageColumns[] = {
    {"所属蜘蛛", ColumnKind::Key},       {"清单URL数", ColumnKind::Count},
    {"已抓取", ColumnKind::Count},       {"已抓取占比", ColumnKind::Text},
    {"未抓取", ColumnKind::Count},       {"清单外URL数", ColumnKind::Count},
    {"清单外访问次数", ColumnKind::Count}, {"清单外访问占比", ColumnKind::Text}};
inline constexpr PageColumn kCoverageUrlColumns[] = {
    {"URL", ColumnKind::Key},      {"类别", ColumnKind::Text},     {"访问次数", ColumnKind::Count},
    {"首次日期", ColumnKind::Text}, {"末次日期", ColumnKind::Text}, {"末次状态", ColumnKind::Text}};
std::unique_ptr<PageAccumulator> MakeCoverageAccumulator(const PageRequest& request);

} // namespace logdesk
