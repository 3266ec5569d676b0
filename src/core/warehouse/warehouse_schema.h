// The tables of docs/clickhouse.sql: their names for a --table, and the
// statements that create them, from the file's own text carried in the
// program.
#pragma once

#include "core/base/result.h"

#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// The text of docs/clickhouse.sql as it was when the program was built.
std::string_view SchemaText();

// The two tables a load writes: the records and the ledger of loads.
struct WarehouseTables {
    std::string records = "logdesk_records";
    std::string loads = "logdesk_loads";
};

inline constexpr std::string_view kDefaultRecordsTable = "logdesk_records";

// The tables for --table NAME: NAME and NAME_loads ("logs.iis" gives
// logs.iis and logs.iis_loads). Fails for a name that is not [DATABASE.]TABLE
// of letters, digits and underscores, starting with no digit.
Result<WarehouseTables> TablesNamed(std::string_view name);

// The CREATE TABLE IF NOT EXISTS statements of the schema, comments left
// out, with the tables renamed to `tables`.
std::vector<std::string> CreateStatements(const WarehouseTables& tables);

} // namespace logdesk
