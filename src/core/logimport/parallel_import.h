// The threaded import.
#pragma once

#include "chunk_store.h"
#include "field_catalogue.h"
#include "layout_set.h"
#include "line_scan.h"
#include "log_importer.h"
#include "part_builder.h"
#include "record_consumer.h"
#include "user_agent_cache.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace logdesk {

// Bytes the threaded import collects before it shares them out.
inline constexpr std::size_t kParallelBatch = std::size_t{64} << 20;

// The threaded import. The bytes read so far are cut at their last LF, and
// what lies before it is cut into ranges at LFs; after an LF the next line
// always starts afresh, so each range splits into lines by itself. A header
// changes the layout only for the lines after it, so one cheap pass over
// the ranges finds the headers, the layout in force at each range's start
// follows in file order, and then every range is split into cells on its
// own thread into a part of its own. Parts, layouts, counts and the order
// of first sight are joined in file order, which makes the table the same
// as the one-thread import's.
class ParallelImport : public ChunkStore {
public:
    ParallelImport(const HeaderLayout& previousHeader, const ImportOptions& options,
                   unsigned threads)
        : layouts_(*data_, options.streamHeader ? &*options.streamHeader : nullptr),
          header_(previousHeader), options_(options), threads_(threads), scan_(BestLineScanner()),
          streaming_(static_cast<bool>(options.makeConsumers)) {
        for (unsigned t = 0; t < threads; ++t) {
            agents_.emplace_back(streaming_, options.crawlers);
        }
        if (streaming_) {
            consumers_ = options.makeConsumers();
            whole_ = std::any_of(consumers_.begin(), consumers_.end(),
                                 [](const auto& consumer) { return !consumer->splits(); });
            if (options.streamFirstHeader) {
                assumed_ = layouts_.layoutFor(*options.streamFirstHeader);
                layout_ = *assumed_;
            }
        }
    }

    // Work run once beside the splitting of a batch, on one of its threads,
    // given where the batch ends: reading what comes after it, so that the
    // copy from the system overlaps the splitting.
    using Alongside = std::function<void(std::size_t cut)>;

    // Parses the complete lines of chunk bytes [pos, filled) once enough have
    // come (or the buffer is full, or the file ended) and moves pos past
    // them. With `alongside`, a batch that is parsed runs it once (beside
    // its splitting where it has ranges to split, after it otherwise);
    // returns whether it ran.
    bool parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof,
               const Alongside* alongside = nullptr);

    std::size_t batchBytes() const {
        return options_.batchBytes > 0 ? options_.batchBytes : kParallelBatch;
    }
    // Whether parse() would take a batch now, before the end of the file.
    bool batchDue(std::uint32_t chunk, std::size_t pos, std::size_t filled) const {
        return !rejected_ && !full() &&
               (filled == chunkCapacity(chunk) || filled - pos >= batchBytes());
    }

    bool rejected() const { return rejected_; }
    bool full() const { return rows_ + pending_.size() > options_.maxRecords; }
    // A new input starts on a line of its own. After a rejected input the
    // header in force before its nameless header applies again.
    void beginInput() {
        if (inputs_++ > 0) {
            takeBackRejection();
        }
        startInput();
    }
    LogImport finish();

private:
    struct Header {
        std::size_t at; // line start in the chunk
        HeaderLayout header;
        std::uint32_t layout = 0;
    };
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::vector<Header> headers;
        std::uint32_t layout = 0; // in force at the start
        bool beforeFirstHeader = false;
        bool last = false; // ends where the file ends
        RecordData::Part part;
        std::array<std::int64_t, kSpiderCount> visits{};
        std::vector<SpiderId> firstSeen;
        std::vector<std::uint64_t> layoutRows;
        std::vector<std::unique_ptr<RecordConsumer>> consumers; // streaming only
        std::vector<PageRecord> records; // streaming to consumers that do not split
        std::uint64_t streamed = 0;
    };
    class RangeHandler;
    class OrderedFeed;

    // Hands a range's collected records to consumers_ and keeps their
    // vector for a later range.
    void feedRecords(Range& range);

    void parseBatch(std::uint32_t chunk, std::size_t begin, std::size_t end, bool eof,
                    const Alongside* alongside);
    // The last place in [pos, filled) where a batch may end; pos for none.
    std::size_t lastCut(const char* buf, std::size_t pos, std::size_t filled);
    std::vector<Range> cutRanges(const char* buf, std::size_t begin, std::size_t end) const;
    void findHeaders(const char* buf, Range& range) const;
    void splitRange(std::uint32_t chunk, Range& range, UserAgentCache& agents) const;
    // Runs work(i, worker) for i in [0, count) on the threads.
    template <typename Work> void runOnThreads(std::size_t count, Work&& work);
    // Joins the ranges' rows and counts in file order; true when any came.
    bool takeRows(std::vector<Range>& ranges);
    void collectPending(std::uint32_t chunk, std::size_t begin, std::size_t end, bool eof);
    void flushPending(std::uint32_t layout);
    bool cancelled() const { return options_.cancel.cancelled(); }

    LayoutSet layouts_;
    HeaderLayout header_; // the header in force
    const ImportOptions& options_;
    unsigned threads_;
    LineScanner scan_;
    std::vector<UserAgentCache> agents_; // one per thread
    bool streaming_;
    std::vector<std::unique_ptr<RecordConsumer>> consumers_; // streaming: every range's, joined
    // Streaming to a consumer that does not split: the ranges collect their
    // records' cells, which consumers_ take in file order on this thread.
    bool whole_ = false;
    // Their vectors, kept from range to range with their room; the
    // splitting threads take them, the feeding one gives them back.
    mutable std::vector<std::vector<PageRecord>> recordPool_;
    mutable std::mutex recordPoolLock_;
    bool fileHasHeader_ = false;
    std::uint32_t layout_ = 0;
    bool rejected_ = false;
    std::uint64_t rows_ = 0;
    std::vector<PendingLine> pending_;
    std::uint64_t pendingBytes_ = 0;
    // As in the one-thread import: streaming, the layout of the lines before
    // the first header when they are not held for it.
    std::optional<std::uint32_t> assumed_;
    bool assumedWrongly_ = false;
    std::optional<HeaderLayout> firstHeader_;
    std::array<std::int64_t, kSpiderCount> visits_{};
    std::vector<SpiderId> firstSeen_;
    std::vector<std::uint64_t> layoutRows_;
    std::size_t searched_ = 0; // bytes after pos known to hold no place to cut
    std::pair<HeaderLayout, std::uint32_t> beforeRejection_; // header and layout
    unsigned inputs_ = 0;

    void startInput() { searched_ = 0; }
    void takeBackRejection() {
        if (rejected_) {
            std::tie(header_, layout_) = beforeRejection_;
            rejected_ = false;
        }
    }
};

} // namespace logdesk
