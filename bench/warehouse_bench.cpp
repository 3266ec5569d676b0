// logdesk-warehouse-bench LOGFILE: the log into a ClickHouse server of its
// own (Debian's clickhouse-server on 127.0.0.1, as the tests start it), once
// in each batch format, and every page the server writes, timed over ten
// copies of the log's rows.
//
// Prints one line per figure:
//   load format=RowBinary rows=1000000 seconds=... rows_per_second=...
//   page name=urls rows=10000000 seconds=...
#include "core/input/log_inputs.h"
#include "core/stats/page_builds.h"
#include "core/warehouse/warehouse_loader.h"
#include "core/warehouse/warehouse_pages.h"
#include "support/clickhouse_server.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    using namespace logdesk;
    if (argc != 2) {
        std::fprintf(stderr, "usage: logdesk-warehouse-bench LOGFILE\n");
        return 2;
    }
    if (!testing::ClickHouseTestServer::Available()) {
        std::fprintf(stderr, "logdesk-warehouse-bench: clickhouse-server is not installed\n");
        return 1;
    }
    testing::ClickHouseTestServer server;
    if (!server.start()) {
        std::fprintf(stderr, "logdesk-warehouse-bench: the server did not start\n");
        return 1;
    }
    ClickHouseServer where;
    where.url = server.url();
    ClickHouseClient client(where);
    const auto fail = [](const Error& error) {
        std::fprintf(stderr, "logdesk-warehouse-bench: %s\n", error.line().c_str());
        return 1;
    };

    WarehouseTables kept;
    for (const RowFormat format : {RowFormat::TabSeparated, RowFormat::RowBinary}) {
        LoadOptions options;
        options.tables = *TablesNamed(std::string("bench_") + std::string(FormatName(format)));
        options.format = format;
        LogInputs inputs({argv[1]});
        const auto start = Clock::now();
        const Result<LoadSummary> loaded = LoadLogs(client, inputs, options);
        const double seconds = Since(start);
        if (!loaded) {
            return fail(loaded.error());
        }
        std::printf("load format=%s rows=%llu seconds=%.3f rows_per_second=%.0f\n",
                    std::string(FormatName(format)).c_str(),
                    static_cast<unsigned long long>(loaded->rows), seconds,
                    static_cast<double>(loaded->rows) / seconds);
        kept = options.tables;
    }
    // Ten times the rows: nine more copies under the same loads.
    for (int copy = 0; copy < 9; ++copy) { // each copies the first million rows
        const Result<std::string> copied = client.query(
            "INSERT INTO " + kept.records + " SELECT * FROM " + kept.records + " LIMIT 1000000");
        if (!copied) {
            return fail(copied.error());
        }
    }
    const Result<std::string> count = client.query("SELECT count() FROM " + kept.records);
    if (!count) {
        return fail(count.error());
    }
    const unsigned long long rows = std::stoull(*count);
    ServerRecords records;
    records.tables = kept;
    auto start = Clock::now();
    const Result<SpiderTally> tally = ServerTally(client, records);
    if (!tally) {
        return fail(tally.error());
    }
    std::printf("page name=spiders rows=%llu seconds=%.3f\n", rows, Since(start));
    const Result<FieldMap> fields = ServerFields(client, records);
    if (!fields) {
        return fail(fields.error());
    }
    for (const StatsPageEntry& entry : StatsPages()) {
        if (entry.warehouseQuery.empty()) {
            continue;
        }
        start = Clock::now();
        const Result<StatsTable> page = ServerPage(client, entry, {}, records, *fields, *tally);
        if (!page) {
            return fail(page.error());
        }
        std::printf("page name=%s rows=%llu seconds=%.3f page_rows=%zu\n",
                    std::string(entry.cliName).c_str(), rows, Since(start), page->rows.size());
    }
    return 0;
}
