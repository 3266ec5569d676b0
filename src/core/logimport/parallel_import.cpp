#include "parallel_import.h"

#include "line_splitter.h"
#include "ordered_feed.h"
#include "parallel_work.h"
#include "core/text/gbk_text.h"

#include <cstring>
#include <string_view>

namespace logdesk {

namespace {

// How the threaded import cuts a batch: about this many ranges per thread,
// none smaller than this.
constexpr std::size_t kRangesPerThread = 4;
constexpr std::size_t kMinRange = std::size_t{1} << 20;
constexpr std::size_t kFedRange = std::size_t{256} << 10;

// The last `c` in [begin, end), or null.
const char* LastByte(const char* begin, const char* end, char c) {
    while (end > begin) {
        if (*--end == c) {
            return end;
        }
    }
    return nullptr;
}

} // namespace

// Splits one range; headers were resolved beforehand.
class ParallelImport::RangeHandler {
public:
    RangeHandler(const RecordData& data, Range& range, PartBuilder& rows, std::uint32_t chunk,
                 const CancelToken& cancel)
        : data_(data), range_(range), rows_(rows), chunk_(chunk), cancel_(cancel),
          layout_(range.layout) {}

    std::size_t fieldsFor(bool directive) const {
        return directive ? 0 : static_cast<std::size_t>(data_.layouts_[layout_].fieldCount);
    }
    void line(std::size_t begin, std::size_t end, bool directive, const std::uint32_t* fieldStarts,
              std::size_t blanks) {
        if (directive) {
            if (next_ < range_.headers.size() && range_.headers[next_].at == begin) {
                layout_ = range_.headers[next_++].layout;
            }
            return;
        }
        rows_.appendRow(chunk_, begin, end, layout_, fieldStarts, blanks);
        if ((++lines_ & 0xFFF) == 0 && cancel_.cancelled()) {
            stopped_ = true;
        }
    }
    bool stopped() const { return stopped_; }

private:
    const RecordData& data_;
    Range& range_;
    PartBuilder& rows_;
    std::uint32_t chunk_;
    CancelToken cancel_;
    std::uint32_t layout_;
    std::size_t next_ = 0;
    std::uint64_t lines_ = 0;
    bool stopped_ = false;
};

bool ParallelImport::parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof,
                           const Alongside* alongside) {
    if (rejected_ || full()) {
        return false;
    }
    const bool bufferFull = filled == chunkCapacity(chunk);
    // Batches big enough to share out; the whole rest at the end.
    if (!eof && !bufferFull && filled - pos < batchBytes()) {
        return false;
    }
    std::size_t end = filled;
    if (!eof) {
        end = lastCut(chunkBytes(chunk), pos, filled);
        if (end == pos) {
            return false; // one line longer than what was read: the caller grows the buffer
        }
    }
    if (end > pos) {
        parseBatch(chunk, pos, end, eof, alongside);
    } else if (alongside != nullptr) {
        (*alongside)(end);
    }
    pos = end;
    searched_ = 0;
    return alongside != nullptr;
}

std::size_t ParallelImport::lastCut(const char* buf, std::size_t pos, std::size_t filled) {
    // A place where the next line starts afresh: after an LF; between two
    // bytes of a NUL/0x1A run (starting inside a run gives what going on
    // through it gives); after a run, before a byte that is neither CR nor
    // LF (which the run's line end would have taken). Only what was not
    // looked at before is searched, so a long line costs one pass.
    const std::size_t from = pos + (searched_ > 0 ? searched_ - 1 : 0);
    searched_ = filled - pos;
    if (const char* lf = LastByte(buf + from, buf + filled, '\n')) {
        return static_cast<std::size_t>(lf - buf) + 1;
    }
    std::size_t run = pos;
    for (const char c : {'\0', '\x1A'}) {
        if (const char* at = LastByte(buf + from, buf + filled, c)) {
            run = std::max(run, static_cast<std::size_t>(at - buf) + 1);
        }
    }
    if (run == pos) {
        return pos;
    }
    if (run < filled && buf[run] != '\r') {
        return run; // buf[run] is no run byte and no LF
    }
    return run - 1 > pos && IsRunByte(buf[run - 2]) ? run - 1 : pos;
}

std::vector<ParallelImport::Range> ParallelImport::cutRanges(const char* buf, std::size_t begin,
                                                             std::size_t end) const {
    // Ranges whose records one thread counts in order are small: their
    // records wait in vectors that are reused while still in the cache, and
    // the counting starts as soon as the first is split. Ranges counted on
    // their own are large, since each join repeats their distinct keys.
    const std::size_t wanted =
        options_.rangeBytes > 0 ? options_.rangeBytes
        : whole_                ? kFedRange
                                : std::max(kMinRange, (end - begin) /
                                                          (std::size_t{threads_} * kRangesPerThread));
    std::vector<Range> ranges;
    for (std::size_t at = begin; at < end;) {
        std::size_t stop = end;
        if (end - at > wanted) {
            const void* lf = std::memchr(buf + at + wanted, '\n', end - at - wanted);
            if (lf != nullptr) {
                stop = static_cast<std::size_t>(static_cast<const char*>(lf) - buf) + 1;
            }
        }
        Range& range = ranges.emplace_back();
        range.begin = at;
        range.end = stop;
        at = stop;
    }
    return ranges;
}

void ParallelImport::findHeaders(const char* buf, Range& range) const {
    // A '#' starts a directive where it starts a line: after an LF, or after
    // a NUL/0x1A run (the LF or CR LF after a run belongs to the run).
    for (std::size_t at = range.begin; at < range.end;) {
        const void* hash = std::memchr(buf + at, '#', range.end - at);
        if (hash == nullptr) {
            break;
        }
        const auto p = static_cast<std::size_t>(static_cast<const char*>(hash) - buf);
        at = p + 1;
        if (p != range.begin && buf[p - 1] != '\n' && !IsRunByte(buf[p - 1])) {
            continue;
        }
        const LineScan found = scan_(buf + p, buf + range.end, nullptr, 0);
        auto stop = static_cast<std::size_t>(found.stop - buf);
        std::size_t lineEnd = stop;
        if (stop < range.end && buf[stop] == '\n' && stop > p && buf[stop - 1] == '\r') {
            lineEnd = stop - 1;
        }
        const std::string_view text(buf + p, lineEnd - p);
        if (FindText(text, kFieldsDirective) != kNotFound) {
            range.headers.push_back({p, MapHeader(text), 0});
        }
        at = std::max(at, stop);
    }
}

template <typename Work> void ParallelImport::runOnThreads(std::size_t count, Work&& work) {
    RunPieces(count, threads_, std::forward<Work>(work));
}

void ParallelImport::parseBatch(std::uint32_t chunk, std::size_t begin, std::size_t end, bool eof,
                                const Alongside* alongside) {
    // Whatever way the batch goes, the work beside it runs once.
    auto runAlongside = [&] {
        if (alongside != nullptr) {
            (*alongside)(end);
        }
    };
    const char* buf = chunkBytes(chunk);
    std::vector<Range> ranges = cutRanges(buf, begin, end);
    ranges.back().last = eof;
    runOnThreads(ranges.size(), [&](std::size_t i, unsigned) { findHeaders(buf, ranges[i]); });

    // Headers in file order: the layout at each range's start, where a
    // header without names ends the file, and the first header, which the
    // lines before it use.
    std::optional<std::uint32_t> firstLayout;
    std::size_t cutoff = end;
    for (Range& range : ranges) {
        range.layout = layout_;
        range.beforeFirstHeader = !fileHasHeader_;
        for (std::size_t h = 0; h < range.headers.size(); ++h) {
            Header& header = range.headers[h];
            if (header.header.fieldCount() == 0) {
                beforeRejection_ = {header_, layout_};
            }
            header_ = header.header;
            header.layout = layouts_.layoutFor(header_);
            layout_ = header.layout;
            if (!fileHasHeader_) {
                fileHasHeader_ = true;
                firstHeader_ = header_;
                if (assumed_) {
                    // The lines before went out with the assumed layout.
                    assumedWrongly_ = *assumed_ != layout_;
                } else {
                    firstLayout = layout_;
                }
            }
            if (header_.fieldCount() == 0) {
                rejected_ = true;
                cutoff = header.at;
                range.headers.resize(h + 1);
                break;
            }
        }
        if (rejected_) {
            break;
        }
    }
    if (streaming_ && !fileHasHeader_ && !assumed_ &&
        pendingBytes_ + (end - begin) > options_.maxStreamedPending) {
        // No header in this batch either, and too much to hold: read what
        // waits, and what follows until the first header, with the header
        // in force. (Asked before the batch's headers were looked for, this
        // would read a log's first lines with another header than their
        // own whenever a batch outgrows the limit, and so read it twice.)
        assumed_ = layouts_.layoutFor(header_);
        layout_ = *assumed_;
        flushPending(*assumed_);
        for (Range& range : ranges) {
            range.layout = *assumed_;
        }
    }
    if (!fileHasHeader_ && !assumed_) {
        // No header yet: these lines wait for the file's first one.
        collectPending(chunk, begin, end, eof);
        pendingBytes_ += end - begin;
        runAlongside();
        return;
    }
    if (firstLayout) {
        // Lines before the file's first header are read with it.
        flushPending(*firstLayout);
        for (Range& range : ranges) {
            if (range.beforeFirstHeader) {
                range.layout = *firstLayout;
            }
        }
    }
    std::erase_if(ranges, [&](const Range& range) { return range.begin >= cutoff; });
    for (Range& range : ranges) {
        range.end = std::min(range.end, cutoff);
    }

    if (streaming_ && !whole_) {
        for (Range& range : ranges) {
            range.consumers = options_.makeConsumers();
        }
    }
    OrderedFeed feed(*this, ranges);
    // Piece 0 is the work beside the splitting, taken first; the ranges follow.
    const std::size_t first = alongside != nullptr ? 1 : 0;
    runOnThreads(ranges.size() + first, [&](std::size_t i, unsigned worker) {
        if (i < first) {
            runAlongside();
        } else if (!cancelled()) {
            splitRange(chunk, ranges[i - first], agents_[worker]);
            if (whole_) {
                feed.finished(i - first);
            }
        }
    });
    if (takeRows(ranges) && !streaming_) {
        reference(chunk);
    }
}

void ParallelImport::splitRange(std::uint32_t chunk, Range& range, UserAgentCache& agents) const {
    if (whole_) {
        // A vector the feed gave back, taken only now: the ranges in flight
        // hold one each, not every range of the batch.
        const std::lock_guard lock(recordPoolLock_);
        if (!recordPool_.empty()) {
            range.records = std::move(recordPool_.back());
            recordPool_.pop_back();
        }
    }
    PartBuilder rows(*data_, range.part, agents, streaming_ && !whole_ ? &range.consumers : nullptr,
                     whole_ ? &range.records : nullptr);
    const char* buf = data_->chunks_[chunk].bytes.data();
    RangeHandler handler(*data_, range, rows, chunk, options_.cancel);
    LineSplitter splitter(scan_);
    std::size_t pos = range.begin;
    splitter.split(buf, pos, range.end, range.last, handler);
    rows.flushStream();
    range.streamed = rows.streamed();
    range.visits = rows.visits();
    range.firstSeen = rows.firstSeen();
    range.layoutRows = rows.layoutRows();
}

bool ParallelImport::takeRows(std::vector<Range>& ranges) {
    const std::uint64_t before = rows_;
    for (Range& range : ranges) {
        for (std::size_t s = 0; s < kSpiderCount; ++s) {
            visits_[s] += range.visits[s];
        }
        for (SpiderId id : range.firstSeen) {
            if (std::find(firstSeen_.begin(), firstSeen_.end(), id) == firstSeen_.end()) {
                firstSeen_.push_back(id);
            }
        }
        if (layoutRows_.size() < range.layoutRows.size()) {
            layoutRows_.resize(range.layoutRows.size(), 0);
        }
        for (std::size_t l = 0; l < range.layoutRows.size(); ++l) {
            layoutRows_[l] += range.layoutRows[l];
        }
        rows_ += range.part.rows.size() + range.streamed;
        for (std::size_t c = 0; c < range.consumers.size(); ++c) {
            consumers_[c]->join(*range.consumers[c]);
        }
        range.consumers.clear();
        feedRecords(range);
        if (!range.part.rows.empty()) {
            data_->parts_.push_back(std::move(range.part));
        }
    }
    return rows_ > before;
}

// Holds the lines of a batch met before any header, as the one-thread
// import does, until the file's first header (or its end) says their layout.
void ParallelImport::collectPending(std::uint32_t chunk, std::size_t begin, std::size_t end,
                                    bool eof) {
    struct Collector {
        std::vector<PendingLine>& pending;
        std::uint32_t chunk;
        std::size_t fieldsFor(bool) const { return 0; }
        void line(std::size_t b, std::size_t e, bool directive, const std::uint32_t*, std::size_t) {
            if (!directive) {
                pending.push_back(
                    {chunk, static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(e)});
            }
        }
        bool stopped() const { return false; }
    } collector{pending_, chunk};
    LineSplitter splitter(scan_);
    std::size_t pos = begin;
    const std::size_t before = pending_.size();
    splitter.split(chunkBytes(chunk), pos, end, eof, collector);
    if (pending_.size() > before) {
        reference(chunk);
    }
}

void ParallelImport::flushPending(std::uint32_t layout) {
    if (pending_.empty()) {
        return;
    }
    Range range;
    if (streaming_ && !whole_) {
        range.consumers = options_.makeConsumers();
    }
    {
        PartBuilder rows(*data_, range.part, agents_.front(),
                         streaming_ && !whole_ ? &range.consumers : nullptr,
                         whole_ ? &range.records : nullptr);
        rows.appendPending(pending_, layout);
        rows.flushStream();
        range.streamed = rows.streamed();
        range.visits = rows.visits();
        range.firstSeen = rows.firstSeen();
        range.layoutRows = rows.layoutRows();
    }
    std::vector<Range> one;
    one.push_back(std::move(range));
    takeRows(one);
    pending_.clear();
    pending_.shrink_to_fit();
    pendingBytes_ = 0;
}

LogImport ParallelImport::finish() {
    if (inputs_ > 1) {
        takeBackRejection();
    }
    LogImport result;
    result.rejected = rejected_;
    for (const UserAgentCache& cache : agents_) {
        result.agentIdentifications += cache.identifications();
    }
    if (!fileHasHeader_ && !pending_.empty()) {
        flushPending(layouts_.layoutFor(header_));
    }
    std::optional<std::uint32_t> last;
    if (layouts_.size() > 0) {
        last = fileHasHeader_ ? layout_ : layouts_.layoutFor(header_);
    }
    if (data_->parts_.empty()) {
        data_->parts_.emplace_back();
    }
    LayoutSet::finishTable(*data_, layouts_, last, layoutRows_, visits_, firstSeen_, result);
    if (streaming_) {
        result.streamedRecords = rows_;
        result.streamExact =
            !assumedWrongly_ && (!last || layouts_.streamedExactly(*last, layoutRows_));
        result.firstHeader = firstHeader_;
        result.consumers = std::move(consumers_);
    }
    result.header = header_;
    result.table = RecordTable(std::move(data_));
    return result;
}

} // namespace logdesk
