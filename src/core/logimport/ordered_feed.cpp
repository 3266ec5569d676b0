#include "ordered_feed.h"

#include <algorithm>
#include <mutex>

namespace logdesk {

void ParallelImport::feedRecords(Range& range) {
    const std::vector<PageRecord>& records = range.records;
    for (std::size_t r = 0; r < records.size(); r += RecordConsumer::kBatch) {
        const std::size_t n = std::min(RecordConsumer::kBatch, records.size() - r);
        for (const std::unique_ptr<RecordConsumer>& consumer : consumers_) {
            consumer->addBatch(records.data() + r, n);
        }
    }
    if (range.records.capacity() > 0) {
        range.records.clear();
        const std::lock_guard lock(recordPoolLock_);
        recordPool_.push_back(std::move(range.records));
    }
    range.records = {};
}

} // namespace logdesk
