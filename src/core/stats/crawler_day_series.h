// Each crawler's visits per day, as the lines of a chart: the by-date crawler
// traffic page read column by column, so that a chart shows the very figures
// that page lists. Texts are GBK.
#pragma once

#include "core/base/cancel_token.h"
#include "core/logimport/field_catalogue.h"
#include "core/logimport/parallel_work.h"
#include "core/logimport/record_table.h"
#include "core/logimport/spider_catalogue.h"
#include "stats_table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace logdesk {

struct CrawlerDaySeries {
    struct Line {
        std::string displayName; // the tally entry's
        // One per day, in the order of `days`; 0 on a day the crawler has no
        // visit.
        std::vector<std::int64_t> visits;
        bool operator==(const Line&) const = default;
    };
    // The page's date rows in its order (ascending; "-" for records without
    // a date), its summary left out.
    std::vector<std::string> days;
    // One per tally entry, in tally order.
    std::vector<Line> lines;
    bool operator==(const CrawlerDaySeries&) const = default;
};

// The lines of a page of BuildSpiderDaysPage built with `tally`. A page whose
// crawler columns are not the tally's (built with another tally, or no page
// at all, as a cancelled build gives) has no lines and no days. A cell that
// reads as no number counts 0.
CrawlerDaySeries CrawlerDaySeriesOf(const StatsTable& spiderDays, const SpiderTally& tally);

// The by-date page of the table, built as BuildStatsPage builds it, turned
// into lines. Once `cancel` is cancelled it stops and gives no lines. Pure:
// runs on any thread over a table the caller keeps alive and unchanged.
CrawlerDaySeries BuildCrawlerDaySeries(const RecordTable& table, const FieldMap& fields,
                                       const SpiderTally& tally, const CancelToken& cancel = {},
                                       const Parallelism& parallel = {});

} // namespace logdesk
