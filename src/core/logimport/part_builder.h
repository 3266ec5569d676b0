// The rows one worker of an import appends, or streams to consumers.
#pragma once

#include "record_consumer.h"
#include "record_table.h"
#include "spider_catalogue.h"
#include "user_agent_cache.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace logdesk {

// A data line met before the file's first header, split once that header
// says how many fields it has.
struct PendingLine {
    std::uint32_t chunk;
    std::uint32_t begin;
    std::uint32_t end;
};

// Appends the rows of one worker to one part of the storage: their cell
// boundaries, their crawlers and the crawler counts.
class PartBuilder {
public:
    // With `consumers`, rows are not kept: each goes to every consumer; with
    // `records` instead, their cells are collected there for consumers that
    // take them on another thread (the views point into the buffers).
    PartBuilder(RecordData& data, RecordData::Part& part, UserAgentCache& agents,
                std::vector<std::unique_ptr<RecordConsumer>>* consumers = nullptr,
                std::vector<PageRecord>* records = nullptr)
        : data_(data), part_(part), agents_(agents), consumers_(consumers), records_(records) {
        part_.rows.useArena(&data_.blockArena_);
        part_.boundaries.useArena(&data_.blockArena_);
    }
    ~PartBuilder() { flushStream(); }
    PartBuilder(const PartBuilder&) = delete;
    PartBuilder& operator=(const PartBuilder&) = delete;

    // A data line [begin, end) of a buffer; `fieldStarts` are the offsets
    // after its first `blanks` blanks, `blanks` at most the layout's field
    // count.
    void appendRow(std::uint32_t chunk, std::size_t begin, std::size_t end, std::uint32_t layout,
                   const std::uint32_t* fieldStarts, std::size_t blanks);
    // Appends lines as rows of `layout`, finding their blanks now.
    void appendPending(const std::vector<PendingLine>& lines, std::uint32_t layout);

    std::uint64_t rows() const { return part_.rows.size() + streamed_; }
    std::uint64_t streamed() const { return streamed_; }
    // Hands the records waiting in a batch to the consumers.
    void flushStream();
    const std::array<std::int64_t, kSpiderCount>& visits() const { return visits_; }
    const std::vector<SpiderId>& firstSeen() const { return firstSeen_; }
    // Rows per layout index; shorter than the layouts where the last have none.
    const std::vector<std::uint64_t>& layoutRows() const { return layoutRows_; }

private:
    RecordData& data_;
    RecordData::Part& part_;
    UserAgentCache& agents_;
    std::vector<std::unique_ptr<RecordConsumer>>* consumers_;
    std::vector<PageRecord>* records_;
    // Streamed records waiting for their batch; their views point into the
    // buffer, which stays as it is until the batch is handed over.
    std::array<PageRecord, RecordConsumer::kBatch> batch_;
    std::size_t batched_ = 0;
    std::uint64_t streamed_ = 0;
    std::array<std::int64_t, kSpiderCount> visits_{};
    std::vector<SpiderId> firstSeen_;
    std::vector<std::uint64_t> layoutRows_;
};

} // namespace logdesk
