#include "crawler_day_series.h"

#include "page_builds.h"

#include <charconv>

namespace logdesk {

namespace {

std::int64_t Visits(const std::string& cell) {
    std::int64_t visits = 0;
    const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), visits);
    return error == std::errc() && end == cell.data() + cell.size() ? visits : 0;
}

} // namespace

CrawlerDaySeries CrawlerDaySeriesOf(const StatsTable& spiderDays, const SpiderTally& tally) {
    CrawlerDaySeries series;
    // The page's columns: the key, one per tally entry, the sum.
    const std::vector<std::string> headers =
        PageHeaders(StatsPageEntryOf(StatsPage::SpiderDays), tally);
    if (spiderDays.headers != headers) {
        return series;
    }
    const std::size_t first = spiderDays.summaryRow ? 1 : 0;
    for (std::size_t r = first; r < spiderDays.rows.size(); ++r) {
        series.days.push_back(spiderDays.rows[r].front());
    }
    series.lines.reserve(tally.entries().size());
    for (std::size_t i = 0; i < tally.entries().size(); ++i) {
        CrawlerDaySeries::Line line{tally.entries()[i].name, {}};
        line.visits.reserve(series.days.size());
        for (std::size_t r = first; r < spiderDays.rows.size(); ++r) {
            line.visits.push_back(Visits(spiderDays.rows[r][i + 1]));
        }
        series.lines.push_back(std::move(line));
    }
    return series;
}

CrawlerDaySeries BuildCrawlerDaySeries(const RecordTable& table, const FieldMap& fields,
                                       const SpiderTally& tally, const CancelToken& cancel,
                                       const Parallelism& parallel) {
    const StatsTable page =
        BuildStatsPage(StatsPage::SpiderDays, table, fields, tally, {}, cancel, parallel);
    if (cancel.cancelled()) {
        return {};
    }
    return CrawlerDaySeriesOf(page, tally);
}

} // namespace logdesk
