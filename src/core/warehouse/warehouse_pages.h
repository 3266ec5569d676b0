// The statistics pages asked of the server: the crawler tally and every page
// whose registry entry has a warehouseQuery (core/stats/page_builds.h).
//
// The server groups the counted records; each row of its answer stands for
// `v` records with the same cells, in the order of their first record, and
// is handed that many times to the page's own accumulator, whose finish
// writes the page. So the page from the server is the page of the same
// records read from the files, byte for byte, as long as the server holds
// exactly those records.
#pragma once

#include "core/base/result.h"
#include "core/logimport/field_catalogue.h"
#include "core/logimport/spider_catalogue.h"
#include "core/stats/page_builds.h"
#include "core/warehouse/clickhouse_client.h"
#include "core/warehouse/warehouse_schema.h"

#include <optional>
#include <string>

namespace logdesk {

// Which records the pages count: the counted loads of one catalogue, and
// of those the records dated from `since` to `until` (YYYY-MM-DD, both
// included; a record whose date cell is no date then does not count).
struct ServerRecords {
    WarehouseTables tables;
    Crawlers crawlers = Crawlers::Classic;
    std::optional<std::string> since;
    std::optional<std::string> until;
};

// The crawler tally of the records, finished (in tally order).
Result<SpiderTally> ServerTally(ClickHouseClient& client, const ServerRecords& records);

// The fields of the last #Fields: line of the loaded files, in reading
// order: the log's last header, whose fields say which pages have rows.
Result<FieldMap> ServerFields(ClickHouseClient& client, const ServerRecords& records);

// The statement the entry's warehouseQuery is for these records and filter.
std::string ServerPageQuery(const StatsPageEntry& entry, const ServerRecords& records,
                            const SpiderFilter& filter);

// The page, as FinishStreamedPage gives it for the same records.
Result<StatsTable> ServerPage(ClickHouseClient& client, const StatsPageEntry& entry,
                              const PageRequest& request, const ServerRecords& records,
                              const FieldMap& fields, const SpiderTally& tally);

} // namespace logdesk
