// What takes records one by one instead of a table: the statistics pages
// count them this way, on the threads of a table's build or while an import
// streams them past without keeping them.
#pragma once

#include "crawler_registry.h"
#include "spider_catalogue.h"
#include "field_catalogue.h"

#include <array>
#include <cstddef>
#include <iterator>
#include <optional>
#include <string_view>

namespace logdesk {

// One record as the pages read it: the cells of the fields they count by
// ("" for a field the record's line lacks). The views stay valid during the
// call only: a consumer copies what it keeps.
struct PageRecord {
    std::string_view agent; // the user-agent cell: a crawler's display name
    // The crawler the record was identified as. The user-agent cell is its
    // display name when the record's header has the user-agent field where
    // the last header has it; a record of another header may hold any other
    // text there (or nothing). Read the cell's crawler through crawler().
    SpiderId spider = SpiderId::Unknown;
    std::string_view date;
    std::string_view time;
    std::string_view url;
    std::string_view ip;
    std::string_view status;
    std::string_view win32;
    std::string_view query;     // cs-uri-query
    std::string_view timeTaken; // time-taken: milliseconds, as logged
    std::string_view bytes;     // sc-bytes
    // The user-agent as logged, where the producer has it (a streaming
    // import does; pages built from a table leave it empty).
    std::string_view loggedAgent{};

    // The catalogue crawler the user-agent cell names: `spider` when the cell
    // is its display name (the usual case, told by the catalogue's own
    // bytes, so without a comparison), else the crawler whose display name
    // the cell's text is; none for an empty cell or any other text.
    std::optional<SpiderId> crawler() const {
        if (agent.empty()) {
            return std::nullopt;
        }
        if (agent.data() == SpiderDisplayName(spider).data()) {
            return spider;
        }
        if (const SpiderInfo* named = FindSpiderByDisplayName(agent)) {
            return named->id;
        }
        return std::nullopt;
    }
};

// Which of those fields a log's last header has: a page whose fields are
// missing shows its columns and no rows.
struct PageFields {
    bool agent = false;
    bool date = false;
    bool time = false;
    bool url = false;
    bool ip = false;
    bool status = false;
    bool win32 = false;
    bool query = false;
    bool timeTaken = false;
    bool bytes = false;

    static PageFields Of(const FieldMap& fields);
};

// One entry per field the pages count by: its kind of field, its cell in a
// PageRecord and its flag in PageFields. The importer and the table's page
// builds fill records from these, so a field more is an entry here and a
// member of each of the two.
struct PageRecordField {
    FieldSlot slot;
    std::string_view PageRecord::*cell;
    bool PageFields::*present;
};
inline constexpr PageRecordField kPageRecordFields[] = {
    {FieldSlot::UserAgent, &PageRecord::agent, &PageFields::agent},
    {FieldSlot::Date, &PageRecord::date, &PageFields::date},
    {FieldSlot::Time, &PageRecord::time, &PageFields::time},
    {FieldSlot::UriStem, &PageRecord::url, &PageFields::url},
    {FieldSlot::ClientIp, &PageRecord::ip, &PageFields::ip},
    {FieldSlot::Status, &PageRecord::status, &PageFields::status},
    {FieldSlot::Win32Status, &PageRecord::win32, &PageFields::win32},
    {FieldSlot::UriQuery, &PageRecord::query, &PageFields::query},
    {FieldSlot::TimeTaken, &PageRecord::timeTaken, &PageFields::timeTaken},
    {FieldSlot::ScBytes, &PageRecord::bytes, &PageFields::bytes},
};
inline constexpr std::size_t kPageFieldCount = std::size(kPageRecordFields);

inline PageFields PageFields::Of(const FieldMap& fields) {
    PageFields present;
    for (const PageRecordField& field : kPageRecordFields) {
        present.*field.present = fields[field.slot] > 0;
    }
    return present;
}

// Consumers of consecutive runs of records join into the one of all of
// them, in record order: so records can be taken in pieces on several
// threads. A consumer is used by one thread at a time.
class RecordConsumer {
public:
    virtual ~RecordConsumer() = default;
    virtual void add(const PageRecord& record) = 0;
    // At most kBatch records in order, as add() one by one would take them.
    virtual void addBatch(const PageRecord* records, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            add(records[i]);
        }
    }
    static constexpr std::size_t kBatch = 16;
    // Whether taking records in pieces on several threads and joining them
    // pays: not where nearly every record adds something distinct, whose
    // join would repeat most of the counting. Such a consumer takes every
    // record on one thread.
    virtual bool splits() const { return true; }
    // Takes in what a consumer of the same kind took from the records that
    // come right after this one's.
    virtual void join(RecordConsumer& later) = 0;
};

} // namespace logdesk
