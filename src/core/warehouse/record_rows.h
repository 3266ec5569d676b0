// Records as rows of the records table (docs/clickhouse.sql), encoded for an
// INSERT in TabSeparated or RowBinary.
//
// A cell of a typed column (date, time, numbers) is stored as its value when
// its text is exactly that value's text ("2024-03-01", "08:15:00", "200",
// "0"); any other text (empty, "-", "0200", "24:00:00", a number beyond the
// type) leaves the column at 0 and goes into odd_fields / odd_values, so
// that every cell reads back byte for byte. Text columns take any bytes.
#pragma once

#include "core/logimport/field_catalogue.h"
#include "core/logimport/spider_catalogue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace logdesk {

enum class CellType : std::uint8_t { Text, Date, Time, UInt16, UInt32, UInt64 };

// A column that holds one log field: the field the pages know by its slot
// (which also takes the Log Parser names of that kind), or one named outright.
struct CellColumn {
    std::string_view name; // the table's column
    CellType type;
    std::optional<FieldSlot> slot;
    std::string_view fieldName; // without a slot: the field's name in #Fields:
};

// The cell columns in the order of the table, after load_id .. crawler.
inline constexpr CellColumn kCellColumns[] = {
    {"date", CellType::Date, FieldSlot::Date, {}},
    {"time", CellType::Time, FieldSlot::Time, {}},
    {"s_sitename", CellType::Text, FieldSlot::SiteName, {}},
    {"s_computername", CellType::Text, std::nullopt, "s-computername"},
    {"s_ip", CellType::Text, FieldSlot::ServerIp, {}},
    {"cs_method", CellType::Text, FieldSlot::Method, {}},
    {"cs_uri_stem", CellType::Text, FieldSlot::UriStem, {}},
    {"cs_uri_query", CellType::Text, FieldSlot::UriQuery, {}},
    {"s_port", CellType::UInt16, FieldSlot::ServerPort, {}},
    {"cs_username", CellType::Text, FieldSlot::UserName, {}},
    {"c_ip", CellType::Text, FieldSlot::ClientIp, {}},
    {"cs_version", CellType::Text, FieldSlot::Version, {}},
    {"cs_user_agent", CellType::Text, FieldSlot::UserAgent, {}},
    {"cs_cookie", CellType::Text, std::nullopt, "cs(Cookie)"},
    {"cs_referer", CellType::Text, FieldSlot::Referer, {}},
    {"cs_host", CellType::Text, std::nullopt, "cs-host"},
    {"sc_status", CellType::UInt16, FieldSlot::Status, {}},
    {"sc_substatus", CellType::UInt16, FieldSlot::SubStatus, {}},
    {"sc_win32_status", CellType::UInt32, FieldSlot::Win32Status, {}},
    {"sc_bytes", CellType::UInt64, FieldSlot::ScBytes, {}},
    {"cs_bytes", CellType::UInt64, std::nullopt, "cs-bytes"},
    {"time_taken", CellType::UInt32, FieldSlot::TimeTaken, {}},
};
inline constexpr std::size_t kCellColumnCount = std::size(kCellColumns);

// Every column a load writes, in the order the encoders write them:
// "load_id, source, ..., other_values".
const std::string& RecordColumnList();

// One record as a row. Views stay valid while the row is encoded.
struct RecordRow {
    std::uint64_t loadId = 0;
    std::string_view source;
    std::string_view sourceKey;
    std::uint32_t record = 0;
    std::uint32_t line = 0;
    Crawlers crawlers = Crawlers::Classic;
    std::string_view crawler; // UTF-8
    // The cell of each cell column as logged; nullopt where the log has no
    // such field (the column keeps its default, and no odd entry is made).
    std::array<std::optional<std::string_view>, kCellColumnCount> cells{};
    // Fields outside the cell columns: name and cell.
    std::vector<std::pair<std::string_view, std::string_view>> others;
};

// The typed value of a cell when its text is exactly that value's text.
// Dates are days after 1970-01-01 (1970-01-02 to 2105-12-31: ClickHouse
// shows day 0 as 0000-00-00), times seconds after midnight.
std::optional<std::uint64_t> TypedValue(CellType type, std::string_view text);

enum class RowFormat { TabSeparated, RowBinary };

// The format's name in an INSERT statement.
std::string_view FormatName(RowFormat format);

// Appends one row to `out` in the format. TabSeparated escapes backslash,
// tab, LF, CR, NUL, BS, FF and (inside arrays' quoted texts) the quote, as
// ClickHouse itself writes them.
void EncodeRow(const RecordRow& row, RowFormat format, std::string& out);

// A text in TabSeparated, and texts as a TabSeparated array ['a','b'].
void AppendTsvText(std::string_view text, std::string& out);
void AppendTsvArray(const std::vector<std::string_view>& texts, std::string& out);

// A text cell of a TabSeparated answer back to its bytes (the escapes
// above, and \' and \\ in any place).
std::string UnescapeTabSeparated(std::string_view cell);

// The cells of one line of a TabSeparated answer, unescaped.
std::vector<std::string> SplitTabSeparatedLine(std::string_view line);

} // namespace logdesk
