// Imports one log file and times each statistics page built from it, one line
// per page: the four pages over all traffic, then the URL page of Baidu's
// visits alone. The import itself is not timed.
#include "logimport/log_importer.h"
#include "stats/page_builds.h"

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

void Time(const char* name, const std::function<logdesk::StatsTable()>& build) {
    const auto start = std::chrono::steady_clock::now();
    const logdesk::StatsTable page = build();
    const auto stop = std::chrono::steady_clock::now();
    std::printf("page=%s seconds=%.4f rows=%zu\n", name,
                std::chrono::duration<double>(stop - start).count(), page.rows.size());
}

} // namespace

int main(int argc, char** argv) {
    using namespace logdesk;
    if (argc != 2) {
        std::fprintf(stderr, "usage: logdesk-stats-bench LOGFILE\n");
        return 2;
    }
    const Result<LogImport> imported = ImportLogFile(argv[1]);
    if (!imported || imported->rejected) {
        std::fprintf(stderr, "import failed: %s\n",
                     imported ? "not an IIS log" : imported.error().line().c_str());
        return 1;
    }
    const LogImport& log = *imported;
    const RecordTable& table = log.table;
    const FieldMap& fields = log.header.fieldMap;
    Time("spiders", [&] { return BuildSpiderTrafficPage(table, fields, log.tally); });
    Time("urls", [&] { return BuildUrlPage(table, fields, {}); });
    Time("ips", [&] { return BuildIpPage(table, fields, {}); });
    Time("status", [&] { return BuildStatusPage(table, fields); });
    const SpiderFilter baidu{SpiderDisplayName(SpiderId::Baidu)};
    Time("urls-baidu", [&] { return BuildUrlPage(table, fields, baidu); });
    return 0;
}
