#include "log_importer.h"

#include "core/base/platform.h"
#include "core/base/text_hash.h"
#include "line_scan.h"
#include "parallel_work.h"
#include "record_consumer.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace logdesk {

namespace {

constexpr std::string_view kFieldsDirective = "#Fields:";
constexpr std::size_t kMinChunk = std::size_t{64} << 10;
constexpr std::size_t kReadStep = std::size_t{8} << 20;
// Largest buffer for input of unknown size (a pipe, a device), and for a
// streaming import, which reads into a second one beside the splitting.
constexpr std::uint64_t kStreamChunk = std::uint64_t{16} << 20;
// Bytes the threaded import collects before it shares them out, and how
// it cuts them: about this many ranges per thread, none smaller than this.
constexpr std::size_t kParallelBatch = std::size_t{64} << 20;
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

bool IsRunByte(char c) {
    return c == '\0' || c == '\x1A';
}

// Crawler identification costs up to 30 case-folding searches; a log repeats
// few distinct agents, so each distinct agent is identified once. The keys
// view into the import's buffers, which outlive the cache; an empty agent (a
// line that stops before the field) is a key like any other.
class UserAgentCache {
public:
    // With `ownKeys` the cache keeps copies of the agents it stores, for an
    // import whose buffers are reused as soon as their lines are taken.
    explicit UserAgentCache(bool ownKeys = false, Crawlers crawlers = Crawlers::Classic)
        : slots_(kFirstSlots), ownKeys_(ownKeys), crawlers_(crawlers) {}

    SpiderId identify(std::string_view agent) {
        const std::uint64_t h = HashShortText(agent);
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        for (;;) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                const SpiderId id = IdentifySpider(agent, crawlers_);
                ++identifications_;
                if (used_ < kMostSlots / 2) {
                    const char* key = agent.data();
                    if (ownKeys_ && !agent.empty()) {
                        kept_.push_back(std::make_unique_for_overwrite<char[]>(agent.size()));
                        std::memcpy(kept_.back().get(), agent.data(), agent.size());
                        key = kept_.back().get();
                    }
                    slot = {key, agent.size(), h, id, true};
                    if (++used_ >= slots_.size() / 2 && slots_.size() < kMostSlots) {
                        grow();
                    }
                }
                return id;
            }
            if (slot.hash == h && slot.size == agent.size() &&
                (agent.empty() || std::memcmp(slot.data, agent.data(), agent.size()) == 0)) {
                return slot.id;
            }
            i = (i + 1) & mask;
        }
    }

    std::uint64_t identifications() const { return identifications_; }

private:
    // The table starts small (a log repeats few distinct agents, and every
    // thread of an import has a cache) and doubles while half full, up to
    // kMostSlots; past half of that, agents are identified without a slot.
    static constexpr std::size_t kFirstSlots = std::size_t{1} << 10;
    static constexpr std::size_t kMostSlots = std::size_t{1} << 16;
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t hash = 0;
        SpiderId id = SpiderId::Unknown;
        bool used = false;
    };
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.used) {
                std::size_t i = slot.hash & mask;
                while (slots_[i].used) {
                    i = (i + 1) & mask;
                }
                slots_[i] = slot;
            }
        }
    }

    std::vector<Slot> slots_;
    bool ownKeys_;
    Crawlers crawlers_;
    std::vector<std::unique_ptr<char[]>> kept_;
    std::size_t used_ = 0;
    std::uint64_t identifications_ = 0;
};

const std::string& RecordNumberTitle() {
    static const std::string title = Gbk("序号(ID)");
    return title;
}

} // namespace

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

void PartBuilder::appendRow(std::uint32_t chunk, std::size_t begin, std::size_t end,
                            std::uint32_t layoutIndex, const std::uint32_t* fieldStarts,
                            std::size_t blanks) {
    const RecordData::Layout& layout = data_.layouts_[layoutIndex];
    const char* line = data_.chunks_[chunk].bytes.data() + begin;
    const auto length = static_cast<std::uint32_t>(end - begin);
    const auto fields = static_cast<std::size_t>(layout.fieldCount);

    // Boundary 0 is the line start; boundary i (i >= 1) the start of field i,
    // one byte after the blank that ended the one before. A line with fewer
    // fields gets one end marker after its last: the last field started runs
    // to the end of the line, unless it starts there (empty line, blank at
    // the end); the fields after it are not stored and read as empty.
    std::size_t count = 1 + blanks;
    std::uint32_t terminal = 0;
    const bool marked = count <= fields;
    if (marked) {
        const std::uint32_t last = blanks > 0 ? fieldStarts[blanks - 1] : 0;
        terminal = last == length ? length : length + 1;
        ++count;
    }
    auto boundaryAt = [&](std::size_t i) -> std::uint32_t {
        if (i == 0) {
            return 0;
        }
        return i <= blanks ? fieldStarts[i - 1] : terminal;
    };

    auto cellAt = [&](std::int32_t f) -> std::string_view {
        const auto i = static_cast<std::size_t>(f);
        if (f < 0 || i + 1 >= count) {
            return {};
        }
        const std::uint32_t b = boundaryAt(i);
        const std::uint32_t next = boundaryAt(i + 1);
        return next > b ? std::string_view(line + b, next - 1 - b) : std::string_view();
    };
    SpiderId spider = SpiderId::Unknown;
    if (layout.userAgentField >= 0) {
        spider = agents_.identify(cellAt(layout.userAgentField));
        if (visits_[static_cast<std::size_t>(spider)]++ == 0) {
            firstSeen_.push_back(spider);
        }
    }
    if (layoutRows_.size() <= layoutIndex) {
        layoutRows_.resize(std::size_t{layoutIndex} + 1, 0);
    }
    ++layoutRows_[layoutIndex];

    if (consumers_ != nullptr && consumers_->empty() && records_ == nullptr) {
        ++streamed_; // counted in the tally alone
        return;
    }
    if (consumers_ != nullptr || records_ != nullptr) {
        // The cells the pages read, as a table would give them: the crawler's
        // name in the user-agent field.
        PageRecord& record = batch_[batched_++];
        for (std::size_t i = 0; i < kPageFieldCount; ++i) {
            const std::int32_t f = layout.pageFields[i];
            record.*kPageRecordFields[i].cell = f >= 0 && f == layout.userAgentField
                                                    ? std::string_view(SpiderDisplayName(spider))
                                                    : cellAt(f);
        }
        record.spider = spider;
        record.loggedAgent = cellAt(layout.userAgentField);
        ++streamed_;
        if (batched_ == batch_.size()) {
            flushStream();
        }
        return;
    }

    RecordData::RowRef row{};
    row.lineStart = static_cast<std::uint32_t>(begin);
    row.layout = layoutIndex;
    if (length <= RecordData::kNarrowLine && count <= RecordData::kMostNarrowBoundaries) {
        const std::uint64_t first = part_.boundaries.size();
        part_.boundaries.append(fieldStarts, blanks);
        if (marked) {
            part_.boundaries.push_back(static_cast<std::uint16_t>(terminal));
        }
        row.boundaryLow = static_cast<std::uint32_t>(first);
        row.boundaryHigh = static_cast<std::uint16_t>(first >> 32);
        row.boundaries = static_cast<std::uint8_t>(count);
    } else {
        const std::uint64_t first = part_.wide.size();
        part_.wide.push_back(static_cast<std::uint32_t>(count));
        part_.wide.insert(part_.wide.end(), fieldStarts, fieldStarts + blanks);
        if (marked) {
            part_.wide.push_back(terminal);
        }
        row.boundaryLow = static_cast<std::uint32_t>(first);
        row.boundaryHigh = static_cast<std::uint16_t>(first >> 32);
        row.boundaries = RecordData::kWide;
    }
    row.spider = spider;
    const auto localRow = static_cast<std::uint32_t>(part_.rows.size());
    if (part_.chunks.empty() || part_.chunks.back().second != chunk) {
        part_.chunks.emplace_back(localRow, chunk);
    }
    part_.rows.push_back(row);
}

void PartBuilder::flushStream() {
    if (records_ != nullptr) {
        records_->insert(records_->end(), batch_.begin(), batch_.begin() + batched_);
        batched_ = 0;
    } else if (consumers_ != nullptr && batched_ > 0) {
        for (const std::unique_ptr<RecordConsumer>& consumer : *consumers_) {
            consumer->addBatch(batch_.data(), batched_);
        }
        batched_ = 0;
    }
}

// The field of `header` that stands under the column of `last`'s field of
// `slot` (-1 for none): fields meet in a column by name and by which
// occurrence of the name they are, as buildColumns() places them.
std::int32_t FieldUnder(const HeaderLayout& header, const HeaderLayout& last, FieldSlot slot) {
    const std::int32_t column = last.fieldMap[slot];
    if (column <= 0 || column >= kMaxTableColumns) {
        return -1;
    }
    const auto at = last.fieldNames.begin() + (column - 1);
    auto occurrence = std::count(last.fieldNames.begin(), at, *at);
    for (std::size_t f = 0; f < header.fieldNames.size(); ++f) {
        if (header.fieldNames[f] == *at && occurrence-- == 0) {
            return static_cast<std::int32_t>(f);
        }
    }
    return -1;
}

// The fields a streamed record's cells come from, in kPageRecordFields
// order, for a record of `header` in a log that ends with `last`.
std::array<std::int32_t, kPageFieldCount> PageFieldsUnder(const HeaderLayout& header,
                                                          const HeaderLayout& last) {
    std::array<std::int32_t, kPageFieldCount> fields{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = FieldUnder(header, last, kPageRecordFields[i].slot);
    }
    return fields;
}

// The distinct headers of one import, in the order they first appear, and
// the table's columns built from them at the end.
class LayoutSet {
public:
    // `streamHeader` (may be null) is ImportOptions::streamHeader.
    LayoutSet(RecordData& data, const HeaderLayout* streamHeader)
        : data_(data), streamHeader_(streamHeader) {}

    // The layout of a header, added on first sight.
    std::uint32_t layoutFor(const HeaderLayout& header);
    std::size_t size() const { return headers_.size(); }
    const HeaderLayout& header(std::uint32_t layout) const { return headers_[layout]; }

    // Makes the table's columns: the last layout's fields first, then the
    // fields only earlier layouts with rows had. Returns the fields left out.
    std::uint32_t buildColumns(std::uint32_t lastLayout, const std::vector<std::uint64_t>& rows);

    // Whether every layout with rows took its streamed cells from the fields
    // the table's columns give it with `lastLayout` last.
    bool streamedExactly(std::uint32_t lastLayout, const std::vector<std::uint64_t>& rows) const;

    // What every import does once its rows are in place: the columns, the
    // record numbers and their texts, and the tally in order of first sight.
    static void finishTable(RecordData& data, LayoutSet& layouts,
                            std::optional<std::uint32_t> lastLayout,
                            const std::vector<std::uint64_t>& layoutRows,
                            const std::array<std::int64_t, kSpiderCount>& visits,
                            const std::vector<SpiderId>& firstSeen, LogImport& result);

private:
    RecordData& data_;
    const HeaderLayout* streamHeader_;
    std::vector<HeaderLayout> headers_;
    // Field names joined by NUL (which no name holds) to their layout.
    std::unordered_map<std::string, std::uint32_t> index_;
};

bool LayoutSet::streamedExactly(std::uint32_t lastLayout,
                                const std::vector<std::uint64_t>& rows) const {
    for (std::size_t l = 0; l < headers_.size() && l < rows.size(); ++l) {
        if (rows[l] > 0 &&
            PageFieldsUnder(headers_[l], headers_[lastLayout]) != data_.layouts_[l].pageFields) {
            return false;
        }
    }
    return true;
}

std::uint32_t LayoutSet::layoutFor(const HeaderLayout& header) {
    std::string key;
    for (const std::string& name : header.fieldNames) {
        key += name;
        key += '\0';
    }
    const auto [it, added] =
        index_.try_emplace(std::move(key), static_cast<std::uint32_t>(headers_.size()));
    if (!added) {
        return it->second;
    }
    RecordData::Layout layout;
    layout.fieldCount = header.fieldCount();
    layout.userAgentField = header.fieldMap[FieldSlot::UserAgent] - 1;
    layout.pageFields = PageFieldsUnder(header, streamHeader_ != nullptr ? *streamHeader_ : header);
    data_.layouts_.push_back(std::move(layout));
    headers_.push_back(header);
    return it->second;
}

// Calls the handler for each complete line of bytes [pos, filled) of a
// buffer and moves pos past them; with `eof` the unterminated rest is a line
// too. Lines end at LF, one CR before it dropped; a run of NUL or 0x1A ends a
// line too, and the run with one LF or CR LF after it is that one line end.
// The handler gives the field count to find blanks for (0 for a line it only
// needs the end of) and takes each line:
//   std::size_t fieldsFor(bool directive);
//   void line(std::size_t begin, std::size_t end, bool directive,
//             const std::uint32_t* fieldStarts, std::size_t blanks);
//   bool stopped();
class LineSplitter {
public:
    explicit LineSplitter(LineScanner scan) : scan_(scan) {}

    template <typename Handler>
    void split(const char* buf, std::size_t& pos, std::size_t filled, bool eof, Handler& handler);
    // Forgets a NUL run that ended the last line: the next bytes start a line.
    void reset() { afterRun_ = false; }

private:
    LineScanner scan_;
    bool afterRun_ = false; // a NUL/0x1A run just ended a line
    std::vector<std::uint32_t> starts_;
};

template <typename Handler>
void LineSplitter::split(const char* buf, std::size_t& pos, std::size_t filled, bool eof,
                         Handler& handler) {
    while (pos < filled && !handler.stopped()) {
        if (afterRun_) {
            if (buf[pos] == '\r' && pos + 1 == filled && !eof) {
                return; // need the next byte to know whether this is CR LF
            }
            if (buf[pos] == '\n') {
                pos += 1;
            } else if (buf[pos] == '\r' && pos + 1 < filled && buf[pos + 1] == '\n') {
                pos += 2;
            }
            afterRun_ = false;
            continue;
        }
        const bool directive = buf[pos] == '#';
        const std::size_t fields = handler.fieldsFor(directive);
        if (starts_.size() < fields) {
            starts_.resize(fields);
        }
        const LineScan found = scan_(buf + pos, buf + filled, starts_.data(), fields);
        const auto stop = static_cast<std::size_t>(found.stop - buf);
        if (stop == filled) {
            if (eof) {
                handler.line(pos, filled, directive, starts_.data(), found.blanks);
                pos = filled;
            }
            return;
        }
        if (buf[stop] == '\n') {
            const std::size_t end = stop > pos && buf[stop - 1] == '\r' ? stop - 1 : stop;
            handler.line(pos, end, directive, starts_.data(), found.blanks);
            pos = stop + 1;
            continue;
        }
        if (stop > pos) {
            handler.line(pos, stop, directive, starts_.data(), found.blanks);
        }
        std::size_t next = stop;
        while (next < filled && IsRunByte(buf[next])) {
            ++next;
        }
        pos = next;
        afterRun_ = true;
    }
}

// The buffers an import reads the log into, and which of them rows point into.
class ChunkStore {
public:
    ChunkStore() : data_(std::make_shared<RecordData>()) {}

    // A new buffer for the file's bytes; returns its index.
    std::uint32_t addChunk(std::size_t capacity) {
        BigBuffer bytes = BigBuffer::allocate(capacity + kScanSlack);
        if (!bytes) {
            throw std::bad_alloc();
        }
        data_->chunks_.push_back({std::move(bytes), capacity});
        return static_cast<std::uint32_t>(data_->chunks_.size() - 1);
    }
    // Gives a buffer a new capacity, keeping its bytes up to the smaller of
    // the two; large buffers are remapped instead of copied. Offsets into it
    // stay valid, pointers do not.
    void resizeChunk(std::uint32_t chunk, std::size_t capacity) {
        RecordData::Chunk& c = data_->chunks_[chunk];
        if (!c.bytes.resize(capacity + kScanSlack)) {
            throw std::bad_alloc();
        }
        c.capacity = capacity;
    }
    char* chunkBytes(std::uint32_t chunk) { return data_->chunks_[chunk].bytes.data(); }
    std::size_t chunkCapacity(std::uint32_t chunk) const { return data_->chunks_[chunk].capacity; }
    // Whether a row, or a line waiting for the file's first header, points
    // into the buffer; one that holds none can be reused or resized.
    bool chunkReferenced(std::uint32_t chunk) const {
        return highestReferenced_ >= static_cast<std::int64_t>(chunk);
    }
    // Releases what the last buffer holds beyond `filled` once reading ended.
    void trimChunk(std::uint32_t chunk, std::size_t filled) {
        if (!chunkReferenced(chunk)) {
            // No row reads it (a streaming import's buffer): back to the
            // pool whole, for the next import to fill without faults.
            data_->chunks_[chunk].bytes.release();
            data_->chunks_[chunk].capacity = 0;
            return;
        }
        if (chunkCapacity(chunk) - filled >= kMinChunk) {
            resizeChunk(chunk, std::max<std::size_t>(filled, 1));
        }
    }

protected:
    void reference(std::uint32_t chunk) {
        highestReferenced_ = std::max<std::int64_t>(highestReferenced_, chunk);
    }

    std::shared_ptr<RecordData> data_;

private:
    std::int64_t highestReferenced_ = -1;
};

// The one-thread import: lines in file order, headers taken as they come.
class RecordDataBuilder : public ChunkStore {
public:
    RecordDataBuilder(const HeaderLayout& previousHeader, const ImportOptions& options)
        : agents_(static_cast<bool>(options.makeConsumers), options.crawlers),
          layouts_(*data_, options.streamHeader ? &*options.streamHeader : nullptr),
          header_(previousHeader), maxRecords_(options.maxRecords),
          mostPending_(options.maxStreamedPending), splitter_(BestLineScanner()) {
        data_->parts_.emplace_back();
        if (options.makeConsumers) {
            consumers_ = options.makeConsumers();
            streaming_ = true;
        }
        rows_.emplace(*data_, data_->parts_.front(), agents_, streaming_ ? &consumers_ : nullptr);
        if (streaming_ && options.streamFirstHeader) {
            assumed_ = layouts_.layoutFor(*options.streamFirstHeader);
        }
    }

    // Takes the complete lines of chunk bytes [pos, filled) and moves pos past
    // them; at the end of the file the unterminated rest is a line too.
    void parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof) {
        chunk_ = chunk;
        splitter_.split(chunkBytes(chunk), pos, filled, eof, *this);
        // The buffer may move or be reused after this: no streamed record
        // may still point into it.
        rows_->flushStream();
    }

    bool rejected() const { return rejected_; }
    bool full() const { return full_; }
    // A new input starts on a line of its own. After a rejected input the
    // header in force before its nameless header applies again.
    void beginInput() {
        if (inputs_++ > 0) {
            takeBackRejection();
        }
        startInput();
    }

    LogImport finish();

    // The splitter's handler.
    std::size_t fieldsFor(bool directive) const {
        if (directive || (!fileHasHeader_ && !assumed_)) {
            return 0;
        }
        return static_cast<std::size_t>(
            data_->layouts_[fileHasHeader_ ? layout_ : *assumed_].fieldCount);
    }
    void line(std::size_t begin, std::size_t end, bool directive, const std::uint32_t* fieldStarts,
              std::size_t blanks);
    bool stopped() const { return rejected_ || full_; }

private:
    void takeHeader(HeaderLayout header);
    void flushPending(std::uint32_t layout);

    UserAgentCache agents_;
    LayoutSet layouts_;
    std::vector<std::unique_ptr<RecordConsumer>> consumers_; // streaming only
    bool streaming_ = false;
    std::optional<PartBuilder> rows_;
    HeaderLayout header_; // the header in force
    bool fileHasHeader_ = false;
    std::uint32_t layout_ = 0;
    std::vector<PendingLine> pending_; // data lines before the file's first header
    std::uint64_t pendingBytes_ = 0;
    // Streaming: the layout lines before the first header are read with
    // instead of waiting (see ImportOptions::maxStreamedPending), and whether
    // the first header then turned out to be another one.
    std::optional<std::uint32_t> assumed_;
    bool assumedWrongly_ = false;
    std::optional<HeaderLayout> firstHeader_;
    bool rejected_ = false;
    bool full_ = false; // maxRecords reached
    std::uint32_t maxRecords_;
    std::uint64_t mostPending_;
    std::uint32_t chunk_ = 0;
    LineSplitter splitter_;
    std::pair<HeaderLayout, std::uint32_t> beforeRejection_; // header and layout
    unsigned inputs_ = 0;

    void startInput() { splitter_.reset(); }
    void takeBackRejection() {
        if (rejected_) {
            std::tie(header_, layout_) = beforeRejection_;
            rejected_ = false;
        }
    }
};

void RecordDataBuilder::line(std::size_t begin, std::size_t end, bool directive,
                             const std::uint32_t* fieldStarts, std::size_t blanks) {
    const char* buf = chunkBytes(chunk_);
    if (directive) {
        const std::string_view text(buf + begin, end - begin);
        if (FindText(text, kFieldsDirective) != kNotFound) {
            takeHeader(MapHeader(text));
        }
        return;
    }
    if (rows_->rows() + pending_.size() >= maxRecords_) {
        full_ = true;
        return;
    }
    if (!fileHasHeader_ && !assumed_) {
        if (streaming_ && pendingBytes_ > mostPending_) {
            assumed_ = layouts_.layoutFor(header_);
            flushPending(*assumed_);
            // The splitter found no blanks for this line: read it as the
            // waiting ones were.
            pending_.push_back(
                {chunk_, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
            flushPending(*assumed_);
            return;
        }
        reference(chunk_);
        pending_.push_back(
            {chunk_, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
        pendingBytes_ += end - begin + 1;
        return;
    }
    if (!streaming_) {
        reference(chunk_); // streamed rows are gone once the batch is handed over
    }
    rows_->appendRow(chunk_, begin, end, fileHasHeader_ ? layout_ : *assumed_, fieldStarts, blanks);
}

void RecordDataBuilder::takeHeader(HeaderLayout header) {
    if (header.fieldCount() == 0) {
        beforeRejection_ = {header_, layout_};
    }
    header_ = std::move(header);
    layout_ = layouts_.layoutFor(header_);
    if (!fileHasHeader_) {
        fileHasHeader_ = true;
        firstHeader_ = header_;
        assumedWrongly_ = assumed_ && *assumed_ != layout_;
        flushPending(layout_);
    }
    if (header_.fieldCount() == 0) {
        rejected_ = true;
    }
}

void PartBuilder::appendPending(const std::vector<PendingLine>& lines, std::uint32_t layout) {
    const auto fields = static_cast<std::size_t>(data_.layouts_[layout].fieldCount);
    std::vector<std::uint32_t> starts(fields);
    const LineScanner scan = BestLineScanner();
    for (const PendingLine& line : lines) {
        const char* buf = data_.chunks_[line.chunk].bytes.data();
        const LineScan found = scan(buf + line.begin, buf + line.end, starts.data(), fields);
        appendRow(line.chunk, line.begin, line.end, layout, starts.data(), found.blanks);
    }
}

void RecordDataBuilder::flushPending(std::uint32_t layout) {
    rows_->appendPending(pending_, layout);
    rows_->flushStream();
    pending_.clear();
    pending_.shrink_to_fit();
    pendingBytes_ = 0;
}

std::uint32_t LayoutSet::buildColumns(std::uint32_t lastLayout,
                                      const std::vector<std::uint64_t>& rows) {
    // A field is known by its name and by which occurrence of that name it is.
    struct FieldKey {
        std::string_view name;
        int occurrence;
        bool operator==(const FieldKey&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const FieldKey& k) const {
            return std::hash<std::string_view>()(k.name) * 31 +
                   static_cast<std::size_t>(k.occurrence);
        }
    };
    auto keysOf = [](const HeaderLayout& header) {
        std::vector<FieldKey> keys;
        keys.reserve(header.fieldNames.size());
        std::unordered_map<std::string_view, int> seen;
        for (const std::string& name : header.fieldNames) {
            keys.push_back({name, seen[name]++});
        }
        return keys;
    };

    std::unordered_map<FieldKey, std::int32_t, KeyHash> columnOf;
    std::vector<std::string>& titles = data_.columnTitles_;
    titles.clear();
    titles.push_back(RecordNumberTitle());
    std::uint32_t dropped = 0;
    auto addColumn = [&](const FieldKey& key, const std::string& title) {
        if (columnOf.count(key) != 0) {
            return;
        }
        if (titles.size() >= static_cast<std::size_t>(kMaxTableColumns)) {
            columnOf.emplace(key, -1);
            ++dropped;
            return;
        }
        columnOf.emplace(key, static_cast<std::int32_t>(titles.size()));
        titles.push_back(title);
    };
    // The last header's fields first, then the fields only earlier headers
    // (with rows) had, in the order they appear.
    const HeaderLayout& last = headers_[lastLayout];
    {
        const std::vector<FieldKey> keys = keysOf(last);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], last.fieldHeaders[f]);
        }
    }
    for (std::size_t l = 0; l < headers_.size(); ++l) {
        if (l == lastLayout || l >= rows.size() || rows[l] == 0) {
            continue;
        }
        const std::vector<FieldKey> keys = keysOf(headers_[l]);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], headers_[l].fieldHeaders[f]);
        }
    }

    // Dense column maps cost layouts x columns; thousands of distinct
    // headers get sorted pairs instead.
    const bool dense = headers_.size() * titles.size() <= (std::size_t{1} << 22);
    for (std::size_t l = 0; l < headers_.size(); ++l) {
        RecordData::Layout& layout = data_.layouts_[l];
        const std::vector<FieldKey> keys = keysOf(headers_[l]);
        layout.fieldToColumn.assign(keys.size(), -1);
        layout.columnToField.clear();
        layout.sparseColumns.clear();
        if (dense) {
            layout.columnToField.assign(titles.size(), -1);
        }
        for (std::size_t f = 0; f < keys.size(); ++f) {
            const auto it = columnOf.find(keys[f]);
            const std::int32_t column = it == columnOf.end() ? -1 : it->second;
            layout.fieldToColumn[f] = column;
            if (column < 0) {
                continue;
            }
            if (dense) {
                layout.columnToField[static_cast<std::size_t>(column)] =
                    static_cast<std::int32_t>(f);
            } else {
                layout.sparseColumns.emplace_back(column, static_cast<std::int32_t>(f));
            }
        }
        std::sort(layout.sparseColumns.begin(), layout.sparseColumns.end());
    }
    return dropped;
}

void LayoutSet::finishTable(RecordData& data, LayoutSet& layouts,
                            std::optional<std::uint32_t> lastLayout,
                            const std::vector<std::uint64_t>& layoutRows,
                            const std::array<std::int64_t, kSpiderCount>& visits,
                            const std::vector<SpiderId>& firstSeen, LogImport& result) {
    if (lastLayout) {
        result.droppedFields = layouts.buildColumns(*lastLayout, layoutRows);
    }
    std::uint64_t records = 0;
    data.partFirst_.clear();
    for (RecordData::Part& part : data.parts_) {
        part.firstRecord = static_cast<std::uint32_t>(records);
        data.partFirst_.push_back(part.firstRecord);
        records += part.rows.size();
    }
    data.recordCount_ = static_cast<std::uint32_t>(records);

    std::string& digits = data.numberDigits_;
    digits.clear();
    char buf[16];
    for (std::uint64_t n = 1; n <= records; ++n) {
        const auto r = std::to_chars(buf, buf + sizeof buf, n);
        digits.append(buf, r.ptr);
    }
    for (SpiderId id : firstSeen) {
        result.tally.count(SpiderDisplayName(id),
                           static_cast<std::int32_t>(visits[static_cast<std::size_t>(id)]));
    }
    if (!result.rejected) {
        result.tally.finish();
    }
}

LogImport RecordDataBuilder::finish() {
    if (inputs_ > 1) {
        takeBackRejection();
    }
    LogImport result;
    result.rejected = rejected_;
    result.agentIdentifications = agents_.identifications();
    if (!fileHasHeader_ && !pending_.empty()) {
        flushPending(layouts_.layoutFor(header_));
    }
    std::optional<std::uint32_t> last;
    if (layouts_.size() > 0) {
        last = fileHasHeader_ ? layout_ : layouts_.layoutFor(header_);
    }
    rows_->flushStream();
    LayoutSet::finishTable(*data_, layouts_, last, rows_->layoutRows(), rows_->visits(),
                           rows_->firstSeen(), result);
    if (streaming_) {
        result.streamedRecords = rows_->streamed();
        result.streamExact =
            !assumedWrongly_ && (!last || layouts_.streamedExactly(*last, rows_->layoutRows()));
        result.firstHeader = firstHeader_;
    }
    result.header = header_;
    rows_.reset();
    result.consumers = std::move(consumers_);
    result.table = RecordTable(std::move(data_));
    return result;
}

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
    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

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

// Splits one range; headers were resolved beforehand.
class ParallelImport::RangeHandler {
public:
    RangeHandler(const RecordData& data, Range& range, PartBuilder& rows, std::uint32_t chunk,
                 const std::atomic<bool>* cancel)
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
        if ((++lines_ & 0xFFF) == 0 && cancel_ != nullptr &&
            cancel_->load(std::memory_order_relaxed)) {
            stopped_ = true;
        }
    }
    bool stopped() const { return stopped_; }

private:
    const RecordData& data_;
    Range& range_;
    PartBuilder& rows_;
    std::uint32_t chunk_;
    const std::atomic<bool>* cancel_;
    std::uint32_t layout_;
    std::size_t next_ = 0;
    std::uint64_t lines_ = 0;
    bool stopped_ = false;
};

// Streaming to consumers that do not split: a range's records go to them as
// soon as it and every range before it are split, on whichever thread finds
// them ready, so that the counting overlaps the splitting of later ranges.
// One thread feeds at a time; a range finished meanwhile is taken by the
// feeder, which looks again after it lets go.
class ParallelImport::OrderedFeed {
public:
    OrderedFeed(ParallelImport& import, std::vector<Range>& ranges)
        : import_(import), ranges_(ranges), done_(ranges.size()) {}

    // Range i is split (on the calling thread).
    void finished(std::size_t i) {
        // Sequentially consistent throughout: a thread that finds the feeder
        // busy stored its range's flag before the feeder's last look.
        done_[i].store(true);
        while (!feeding_.exchange(true)) {
            std::size_t next = next_.load();
            try {
                while (next < ranges_.size() && done_[next].load()) {
                    import_.feedRecords(ranges_[next]);
                    next_.store(++next);
                }
            } catch (...) {
                feeding_.store(false);
                throw;
            }
            feeding_.store(false);
            // Look again for a range finished while this thread fed.
            if (next >= ranges_.size() || !done_[next].load()) {
                return;
            }
        }
    }

private:
    ParallelImport& import_;
    std::vector<Range>& ranges_;
    std::vector<std::atomic<bool>> done_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> feeding_{false};
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

namespace {

// A failure of the import, which keeps nothing of what it read.
Error Failed(int code, std::string cause = {}) {
    Error error = SystemError(code);
    if (!cause.empty()) {
        error.cause = std::move(cause);
    }
    return error;
}

} // namespace

// What every import keeps between the inputs it reads: the buffer being
// filled and how far its lines were taken.
class InputState {
public:
    virtual ~InputState() = default;
    virtual Result<InputRead> read(const LogImporter::Reader& read, std::uint64_t total,
                                   bool reportProgress) = 0;
    virtual LogImport finish() = 0;
};

namespace {

// Reads inputs through a builder (one-thread or threaded).
template <typename Builder> class InputLoop final : public InputState {
public:
    InputLoop(const HeaderLayout& previousHeader, const ImportOptions& options, unsigned threads)
        : builder_(MakeBuilder(previousHeader, options, threads)), options_(options),
          // A streamed log needs no buffer larger than a batch of lines.
          maxChunk_(std::clamp<std::size_t>(
              options.makeConsumers ? std::min<std::size_t>(options.maxChunkBytes, kStreamChunk)
                                    : options.maxChunkBytes,
              16, std::size_t{1} << 31)),
          minChunk_(std::min(kMinChunk, maxChunk_)),
          maxLine_(std::min(options.maxLineBytes, ImportOptions::kMaxLineBytes)),
          readBeside_(std::is_same_v<Builder, ParallelImport>) {}

    Result<InputRead> read(const LogImporter::Reader& read, std::uint64_t total,
                           bool reportProgress) override;
    LogImport finish() override {
        if (started_) {
            builder_.trimChunk(chunk_, filled_);
        }
        if (spare_) {
            builder_.trimChunk(*spare_, 0);
        }
        LogImport result = builder_.finish();
        result.bytesRead = bytesRead_;
        return result;
    }

private:
    static Builder MakeBuilder(const HeaderLayout& previousHeader, const ImportOptions& options,
                               unsigned threads) {
        if constexpr (std::is_same_v<Builder, ParallelImport>) {
            return Builder(previousHeader, options, threads);
        } else {
            (void)threads;
            return Builder(previousHeader, options);
        }
    }

    // What was read beside the splitting of the last batch: `got` bytes in
    // place at filled_, and how the reading that stopped there ended.
    struct ReadBeside {
        std::size_t got = 0;
        bool ended = false; // a read gave 0 bytes
        std::optional<Error> failure;
    };
    // Reads up to `want` bytes to `to`, read by read, until the input ends.
    static ReadBeside ReadUpTo(const LogImporter::Reader& read, char* to, std::size_t want);
    // The threaded import parses as builder_.parse() does, reading the next
    // bytes meanwhile where that can go beside the batch: into the buffer
    // after the bytes read (an import that keeps its rows), or after the
    // carried-over line into a second buffer that takes the first's place
    // (a streaming one). Nothing, when no batch is due or it cannot.
    std::optional<ReadBeside> parseReadingAhead(const LogImporter::Reader& read);

    Builder builder_;
    const ImportOptions& options_;
    const std::size_t maxChunk_;
    const std::size_t minChunk_;
    const std::size_t maxLine_;
    // Reading beside the splitting: the reader then runs on a worker thread
    // while this one splits, one read at a time as before.
    const bool readBeside_;
    bool started_ = false;
    std::uint32_t chunk_ = 0;
    std::size_t filled_ = 0;
    std::size_t pos_ = 0;
    std::optional<std::uint32_t> spare_; // streaming: the buffer read into beside a batch
    std::uint64_t bytesRead_ = 0;        // of every input
};

template <typename Builder>
typename InputLoop<Builder>::ReadBeside
InputLoop<Builder>::ReadUpTo(const LogImporter::Reader& read, char* to, std::size_t want) {
    ReadBeside outcome;
    while (outcome.got < want) {
        const Result<std::size_t> block =
            read(to + outcome.got, std::min(want - outcome.got, kReadStep));
        if (!block) {
            outcome.failure = block.error();
            break;
        }
        if (*block == 0) {
            outcome.ended = true;
            break;
        }
        outcome.got += *block;
    }
    return outcome;
}

template <typename Builder>
auto InputLoop<Builder>::parseReadingAhead(const LogImporter::Reader& read)
    -> std::optional<ReadBeside> {
    if constexpr (!std::is_same_v<Builder, ParallelImport>) {
        (void)read;
        return std::nullopt;
    } else {
        if (!builder_.batchDue(chunk_, pos_, filled_)) {
            builder_.parse(chunk_, pos_, filled_, false);
            return std::nullopt;
        }
        const bool streaming = static_cast<bool>(options_.makeConsumers);
        const std::size_t capacity = builder_.chunkCapacity(chunk_);
        if (streaming && !spare_) {
            spare_ = builder_.addChunk(capacity);
        }
        std::optional<ReadBeside> beside;
        bool swapped = false;
        const std::uint32_t spare = spare_.value_or(chunk_);
        const bool spareFree = streaming && !builder_.chunkReferenced(spare) &&
                               builder_.chunkCapacity(spare) == capacity;
        const typename ParallelImport::Alongside readNext = [&](std::size_t cut) {
            const std::size_t carried = filled_ - cut;
            if (spareFree && carried * 2 <= capacity) {
                // The splitting reads only the first buffer.
                char* to = builder_.chunkBytes(spare);
                std::memcpy(to, builder_.chunkBytes(chunk_) + cut, carried);
                beside = ReadUpTo(read, to + carried, capacity - carried);
                swapped = true;
            } else if (!streaming && carried >= kScanSlack && filled_ < capacity) {
                // The scans read up to kScanSlack bytes past the batch, all
                // of them read already; the new bytes go after them.
                beside = ReadUpTo(read, builder_.chunkBytes(chunk_) + filled_,
                                  std::min(capacity - filled_, builder_.batchBytes()));
            }
        };
        builder_.parse(chunk_, pos_, filled_, false, &readNext);
        if (swapped) {
            spare_ = chunk_;
            chunk_ = spare;
            filled_ -= pos_;
            pos_ = 0;
        }
        return beside;
    }
}

template <typename Builder>
Result<InputRead> InputLoop<Builder>::read(const LogImporter::Reader& read, std::uint64_t total,
                                           bool reportProgress) {
    std::uint64_t inputRead = 0;
    auto chunkSizeFor = [&](std::uint64_t remaining, std::size_t carried) {
        // Room for the whole rest of the input where its size is known; for
        // a stream, buffers grow with what was read so far. A line longer
        // than a buffer gets one twice its size, up to what offsets can
        // address.
        const std::uint64_t wanted =
            total > 0 ? remaining + carried + minChunk_
                      : std::clamp<std::uint64_t>(inputRead / 4, minChunk_, kStreamChunk) + carried;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, maxChunk_));
        return std::min(std::max({size, minChunk_, carried * 2}), maxLine_ + 1);
    };
    if (!started_) {
        chunk_ = builder_.addChunk(chunkSizeFor(total, 0));
        started_ = true;
    }
    builder_.beginInput();
    InputRead outcome;
    std::uint64_t reported = 0;
    std::optional<ReadBeside> ahead;
    for (;;) {
        if (options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed)) {
            return Failed(ECANCELED);
        }
        std::size_t got = 0;
        if (ahead) {
            // Read beside the last batch: first its bytes, then how it ended.
            got = ahead->got;
            ahead->got = 0;
            if (got == 0) {
                outcome.failure = std::move(ahead->failure);
            }
            if (got == 0 || (!ahead->ended && !ahead->failure)) {
                ahead.reset();
            }
        } else {
            if (filled_ == builder_.chunkCapacity(chunk_)) {
                const std::size_t carried = filled_ - pos_;
                if (carried >= maxLine_) {
                    return Failed(EFBIG, "a line at byte " + std::to_string(inputRead - carried) +
                                             " is longer than " + std::to_string(maxLine_) +
                                             " bytes");
                }
                const std::uint64_t remaining = total > inputRead ? total - inputRead : 0;
                const std::size_t capacity = chunkSizeFor(remaining, carried);
                if (!builder_.chunkReferenced(chunk_)) {
                    // No row points into this buffer (a long line, a NUL run):
                    // reuse it for the unfinished line instead of keeping it.
                    std::memmove(builder_.chunkBytes(chunk_), builder_.chunkBytes(chunk_) + pos_,
                                 carried);
                    if (capacity > builder_.chunkCapacity(chunk_)) {
                        builder_.resizeChunk(chunk_, capacity);
                    }
                } else {
                    // Carry the unfinished line over into a fresh buffer; the old
                    // one stays, since earlier rows point into it.
                    const std::uint32_t next = builder_.addChunk(capacity);
                    std::memcpy(builder_.chunkBytes(next), builder_.chunkBytes(chunk_) + pos_,
                                carried);
                    chunk_ = next;
                }
                filled_ = carried;
                pos_ = 0;
            }
            const std::size_t want =
                std::min({builder_.chunkCapacity(chunk_) - filled_, kReadStep, maxChunk_});
            const Result<std::size_t> block = read(builder_.chunkBytes(chunk_) + filled_, want);
            if (!block) {
                // What came before stays: the input ends here.
                outcome.failure = block.error();
            } else {
                got = *block;
            }
        }
        if (got == 0) {
            builder_.parse(chunk_, pos_, filled_, true);
            break;
        }
        filled_ += got;
        inputRead += got;
        bytesRead_ += got;
        if (readBeside_) {
            ahead = parseReadingAhead(read);
        } else {
            builder_.parse(chunk_, pos_, filled_, false);
        }
        if (builder_.rejected() || builder_.full()) {
            // The rest of a rejected input is not read; its unread lines
            // are dropped from the buffer, and so is what was read beside.
            pos_ = filled_;
            break;
        }
        if (reportProgress && options_.progress && inputRead - reported >= kReadStep) {
            reported = inputRead;
            options_.progress(inputRead, std::max(total, inputRead));
        }
    }
    if (builder_.full()) {
        return Failed(EFBIG,
                      "the log has more than " + std::to_string(options_.maxRecords) + " records");
    }
    outcome.bytes = inputRead;
    outcome.rejected = builder_.rejected();
    if (reportProgress && options_.progress) {
        options_.progress(inputRead, std::max(total, inputRead));
    }
    return outcome;
}

// Memory running out is reported like any other failure, never thrown at the
// caller: what was read is released before the result returns.
template <typename Import> auto GuardMemory(Import&& import) -> decltype(import()) {
    try {
        return import();
    } catch (const std::bad_alloc&) {
        return Failed(ENOMEM);
    } catch (const std::length_error&) {
        return Failed(ENOMEM);
    }
}

} // namespace

LogImporter::LogImporter(const HeaderLayout& previousHeader, const ImportOptions& options)
    : options_(options) {
    const unsigned threads = WorkThreads(options_.threads);
    if (threads == 1) {
        state_ = std::make_unique<InputLoop<RecordDataBuilder>>(previousHeader, options_, threads);
    } else {
        state_ = std::make_unique<InputLoop<ParallelImport>>(previousHeader, options_, threads);
    }
}

LogImporter::~LogImporter() = default;

Result<InputRead> LogImporter::add(const Reader& read, std::uint64_t expectedSize) {
    if (failure_) {
        return *failure_;
    }
    Result<InputRead> outcome =
        GuardMemory([&] { return state_->read(read, expectedSize, progressOfInputs_); });
    if (!outcome) {
        failure_ = outcome.error();
        state_.reset(); // nothing of a failed import is kept
    }
    return outcome;
}

Result<LogImport> LogImporter::finish() {
    if (failure_) {
        return *failure_;
    }
    Result<LogImport> imported =
        GuardMemory([&]() -> Result<LogImport> { return state_->finish(); });
    state_.reset();
    return imported;
}

namespace {

// One input read as the whole log: a failure part-way fails the import.
Result<LogImport> ImportOne(const LogImporter::Reader& read, std::uint64_t total,
                            const HeaderLayout& previousHeader, const ImportOptions& options) {
    LogImporter importer(previousHeader, options);
    importer.reportProgress(true);
    const Result<InputRead> outcome = importer.add(read, total);
    if (!outcome) {
        return outcome.error();
    }
    if (outcome->failure) {
        return Failed(outcome->failure->code);
    }
    return importer.finish();
}

} // namespace

Result<LogImport> ImportLogBytes(std::string_view bytes, const HeaderLayout& previousHeader,
                                 const ImportOptions& options) {
    std::size_t at = 0;
    auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
        const std::size_t n = std::min(size, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return n;
    };
    return ImportOne(read, bytes.size(), previousHeader, options);
}

Result<LogImport> ImportLogFile(const std::string& path, const HeaderLayout& previousHeader,
                                const ImportOptions& options) {
    // Read-only: IIS keeps today's log open for writing, and reading must not
    // disturb it.
    Result<LogImport> imported = [&]() -> Result<LogImport> {
        const Result<FileDescriptor> file = OpenForReading(path);
        if (!file) {
            return Failed(file.error().code);
        }
        const std::uint64_t total = RegularFileSize(file->get()).value_or(0);
        auto read = [&](char* buffer, std::size_t size) {
            return ReadSome(file->get(), buffer, size);
        };
        return ImportOne(read, total, previousHeader, options);
    }();
    if (!imported) {
        Error error = imported.error();
        error.path = path;
        return error;
    }
    return imported;
}

} // namespace logdesk
