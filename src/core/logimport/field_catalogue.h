// The known log field names, their column captions, and the mapping of a
// "#Fields:" header onto table columns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

// Kinds of field, in slot order. `Other` collects names the catalogue lacks.
enum class FieldSlot : int {
    Date,
    Time,
    SiteName,
    ServerIp,
    Method,
    UriStem,
    UriQuery,
    ServerPort,
    UserName,
    UserAgent,
    ClientIp,
    Status,
    SubStatus,
    Win32Status,
    ScBytes,
    Version,
    Referer,
    Other,
    LogFilename,
    RecordNumber,
    BytesReceived,
    BytesSent,
    TimeTaken,
    SiteId,
};
inline constexpr int kFieldSlotCount = 24;

// One slot per kind of field: the 1-based table column of that field in the
// last mapped header, or 0 when the header lacks it.
struct FieldMap {
    std::array<std::int32_t, kFieldSlotCount> values{};

    std::int32_t operator[](FieldSlot slot) const { return values[static_cast<std::size_t>(slot)]; }
    std::int32_t& operator[](FieldSlot slot) { return values[static_cast<std::size_t>(slot)]; }
    bool operator==(const FieldMap&) const = default;
};

struct CatalogueEntry {
    std::string_view name; // as written in a header, matched case-sensitively
    FieldSlot slot;
    std::string caption; // GBK
};

// The 35 known names. Program-wide constant, built on first use.
const std::vector<CatalogueEntry>& FieldCatalogue();

// The entry of a field name, or nullptr when the catalogue lacks it.
const CatalogueEntry* LookupField(std::string_view name);

// The caption given to names the catalogue lacks ("其他字段").
const std::string& OtherFieldCaption();

// What a mapped header leaves behind: `fieldHeaders` are the captions of table
// columns 1..fieldCount() ("日期(date)"), `fieldNames` the names as written.
struct HeaderLayout {
    std::vector<std::string> fieldNames;
    std::vector<std::string> fieldHeaders;
    FieldMap fieldMap;

    std::int32_t fieldCount() const { return static_cast<std::int32_t>(fieldNames.size()); }
    bool operator==(const HeaderLayout&) const = default;
};

// Maps a whole header line (one that contains "#Fields:"): "DateTime" becomes
// "date time", "#Fields:" is removed, blanks are trimmed and the rest is split
// on single blanks into field names.
HeaderLayout MapHeader(std::string_view line);

} // namespace logdesk
