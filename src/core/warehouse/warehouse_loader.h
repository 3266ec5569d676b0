// Loading logs into the records table, every record exactly once.
//
// Each input source (a file, a .gz file, an archive member) is read as
// ImportLogFile reads one file, with the header the source before it ended
// with, and its records go to the server in batches. What was loaded is in
// the ledger (the loads table of docs/clickhouse.sql):
//
// - A load is one segment of one source's records. Its 'loading' row goes in
//   first; then its records, in batches, each with the load's id; then,
//   once the server has acknowledged every batch and counts exactly the
//   segment's rows under the id, its 'done' row. Queries count the rows of
//   done loads only (CountedLoads), so a load cut short by a crash, a killed
//   process or a lost server is never counted, however many of its rows
//   arrived; the next run loads the segment again under a new id.
// - A batch whose insert failed in a way that may or may not have stored it
//   (the connection cut, the server killed) is looked up by the load's row
//   count before it is sent again: stored whole, it is not sent again; not
//   at all, it is; in part (a batch across partitions), the load is given
//   up and the segment started again under a new id.
// - A source is known by the hash of its first bytes (up to 64 KiB of its
//   text) and the catalogue. One whose done loads cover it is skipped (a
//   plain file without being read again when its size is what was loaded;
//   a compressed one when its file's size is); one that grew, with the same
//   first bytes, gets a segment for the records after the loaded ones.
// - A last line without its line end (IIS still writing it) is loaded as a
//   segment of its own, marked tail; once the file has grown past it, the
//   next run drops that load ('dropped', never counted again) and loads the
//   records from that line on.
// - Nothing is ever deleted: rows of loads that never finished stay in the
//   table uncounted. Two loads of the same logs must not run at once: each
//   would load what the other had not finished.
#pragma once

#include "core/base/result.h"
#include "core/input/log_inputs.h"
#include "core/logimport/spider_catalogue.h"
#include "core/warehouse/clickhouse_client.h"
#include "core/warehouse/record_rows.h"
#include "core/warehouse/warehouse_schema.h"

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace logdesk {

struct LoadOptions {
    WarehouseTables tables;
    Crawlers crawlers = Crawlers::Classic;
    RowFormat format = RowFormat::RowBinary;
    // A batch ends at whichever comes first. Batches stay below the
    // server's max_insert_block_size (1,048,576 rows), so that one batch is
    // one block.
    std::size_t batchRows = 200000;
    std::size_t batchBytes = std::size_t{32} << 20;
    // Threads of each source's import (0: one per hardware thread).
    unsigned threads = 0;
    // How often a segment is started again after a batch stored in part or
    // a count that does not match.
    int segmentRestarts = 3;
    // Called after each batch the server acknowledged, with its rows (tests
    // stop the server here).
    std::function<void(std::uint64_t rows)> afterBatch;
};

// What happened to one source.
struct SourceLoad {
    std::string source;        // as SourceName::display() gives it
    std::uint64_t records = 0; // the source's records
    std::uint64_t loaded = 0;  // rows this run stored and counted
    bool skipped = false;      // every record was loaded before
    std::string problem;       // why it was not loaded (UTF-8); empty when it was
};

struct LoadSummary {
    std::vector<SourceLoad> sources;
    std::uint64_t rows = 0; // rows this run loaded, over every source
    bool problems = false;  // some source could not be loaded
};

// The WHERE condition for rows of counted loads: done and not dropped.
std::string CountedLoads(const WarehouseTables& tables);

// Creates the tables that are missing.
Result<void> CreateTables(ClickHouseClient& client, const WarehouseTables& tables);

// Loads every source of `inputs` (not started yet). Fails, with what the
// server said, when the server cannot be used (the tables cannot be created,
// a batch fails for good); what was loaded by then stays loaded. Sources
// that cannot be read, or only in part, are listed with their problem and
// not loaded; the others are.
Result<LoadSummary> LoadLogs(ClickHouseClient& client, LogInputs& inputs,
                             const LoadOptions& options);

// The name-order key of a source (see core/input/name_order.h): its bytes
// sort as LogDesk reads sources, the members of an archive within it.
std::string SourceKey(const std::string& path, const std::string& member);

} // namespace logdesk
