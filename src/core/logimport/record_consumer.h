// What takes records one by one instead of a table: the statistics pages
// count them this way, on the threads of a table's build or while an import
// streams them past without keeping them.
#pragma once

#include "field_catalogue.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace logdesk {

// One record as the pages read it: the cells of the fields they count by
// ("" for a field the record's line lacks). The views stay valid during the
// call only: a consumer copies what it keeps.
// The kind of field each cell of a PageRecord holds, in member order.
inline constexpr std::array<FieldSlot, 7> kPageRecordSlots = {
    FieldSlot::UserAgent, FieldSlot::Date,   FieldSlot::Time,       FieldSlot::UriStem,
    FieldSlot::ClientIp,  FieldSlot::Status, FieldSlot::Win32Status};

struct PageRecord {
    std::string_view agent; // the user-agent cell: a crawler's display name
    std::string_view date;
    std::string_view time;
    std::string_view url;
    std::string_view ip;
    std::string_view status;
    std::string_view win32;
    // The user-agent as logged, where the producer has it (a streaming
    // import does; pages built from a table leave it empty).
    std::string_view loggedAgent{};
};

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
