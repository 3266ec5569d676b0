// Imports one log file and times each statistics page built from it, one line
// per page: the four pages over all traffic, then the URL and status pages of
// Baidu's visits alone, the crawler traffic by date, and that page turned
// into the chart window's lines per crawler. The import itself is
// not timed. Each line gives the page's own user and system seconds and
// minor page faults (getrusage before and after), the kernel's share.
#include "core/logimport/log_importer.h"
#include "core/stats/crawler_day_series.h"
#include "core/stats/page_builds.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <sys/resource.h>

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

void Time(const char* name, const std::function<logdesk::StatsTable()>& build) {
    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const logdesk::StatsTable page = build();
    const auto stop = std::chrono::steady_clock::now();
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    std::printf("page=%s seconds=%.4f rows=%zu user=%.4f sys=%.4f faults=%ld\n", name,
                std::chrono::duration<double>(stop - start).count(), page.rows.size(),
                Seconds(after.ru_utime) - Seconds(before.ru_utime),
                Seconds(after.ru_stime) - Seconds(before.ru_stime),
                after.ru_minflt - before.ru_minflt);
}

} // namespace

int main(int argc, char** argv) {
    using namespace logdesk;
    if (argc != 2 && !(argc == 4 && std::string_view(argv[2]) == "--threads")) {
        std::fprintf(stderr, "usage: logdesk-stats-bench LOGFILE [--threads N]\n");
        return 2;
    }
    const Parallelism parallel{argc == 4 ? static_cast<unsigned>(std::atoi(argv[3])) : 0u, 0};
    const Result<LogImport> imported = ImportLogFile(argv[1]);
    if (!imported || imported->rejected) {
        std::fprintf(stderr, "import failed: %s\n",
                     imported ? "not an IIS log" : imported.error().line().c_str());
        return 1;
    }
    const LogImport& log = *imported;
    const RecordTable& table = log.table;
    const FieldMap& fields = log.header.fieldMap;
    auto build = [&](StatsPage page, const SpiderFilter& filter) {
        return BuildStatsPage(page, table, fields, log.tally, filter, {}, parallel);
    };
    Time("spiders", [&] { return build(StatsPage::SpiderTraffic, {}); });
    Time("urls", [&] { return build(StatsPage::Url, {}); });
    Time("ips", [&] { return build(StatsPage::Ip, {}); });
    Time("status", [&] { return build(StatsPage::Status, {}); });
    const SpiderFilter baidu{SpiderDisplayName(SpiderId::Baidu)};
    Time("urls-baidu", [&] { return build(StatsPage::Url, baidu); });
    Time("status-baidu", [&] { return build(StatsPage::Status, baidu); });
    Time("spider-days", [&] { return build(StatsPage::SpiderDays, {}); });
    // The lines' rows are the crawlers.
    Time("spider-day-lines", [&] {
        const CrawlerDaySeries series =
            BuildCrawlerDaySeries(table, fields, log.tally, {}, parallel);
        StatsTable lines;
        lines.rows.resize(series.lines.size());
        return lines;
    });
    return 0;
}
