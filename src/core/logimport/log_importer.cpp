#include "log_importer.h"

#include "base/platform.h"
#include "text/gbk_codec.h"
#include "text/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace logdesk {

namespace {

constexpr std::string_view kFieldsDirective = "#Fields:";
constexpr std::size_t kMinChunk = std::size_t{64} << 10;
constexpr std::size_t kReadStep = std::size_t{8} << 20;
// Largest buffer for input of unknown size (a pipe, a device).
constexpr std::uint64_t kStreamChunk = std::uint64_t{64} << 20;

bool IsRunByte(char c) {
    return c == '\0' || c == '\x1A';
}

std::uint64_t HashBytes(std::string_view s) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    std::uint64_t tail = 0;
    if (i < s.size()) {
        std::memcpy(&tail, s.data() + i, s.size() - i);
    }
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
}

// Crawler identification costs up to 21 case-folding searches; a log repeats
// few distinct agents, so each distinct agent is identified once. The keys
// view into the import's buffers, which outlive the cache; an empty agent (a
// line that stops before the field) is a key like any other.
class UserAgentCache {
public:
    UserAgentCache() : slots_(kSlots) {}

    SpiderId identify(std::string_view agent) {
        const std::uint64_t h = HashBytes(agent);
        std::size_t i = h & (kSlots - 1);
        for (;;) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                const SpiderId id = IdentifySpider(agent);
                ++identifications_;
                if (used_ < kSlots / 2) {
                    slot = {agent.data(), agent.size(), h, id, true};
                    ++used_;
                }
                return id;
            }
            if (slot.hash == h && slot.size == agent.size() &&
                (agent.empty() || std::memcmp(slot.data, agent.data(), agent.size()) == 0)) {
                return slot.id;
            }
            i = (i + 1) & (kSlots - 1);
        }
    }

    std::uint64_t identifications() const { return identifications_; }

private:
    static constexpr std::size_t kSlots = std::size_t{1} << 16;
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t hash = 0;
        SpiderId id = SpiderId::Unknown;
        bool used = false;
    };
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    std::uint64_t identifications_ = 0;
};

const std::string& RecordNumberTitle() {
    static const std::string title = Gbk("序号(ID)");
    return title;
}

} // namespace

// Builds a RecordData from the bytes of one log, line by line.
class RecordDataBuilder {
public:
    RecordDataBuilder(const HeaderLayout& previousHeader, const ImportOptions& options)
        : data_(std::make_shared<RecordData>()), header_(previousHeader),
          maxRecords_(options.maxRecords) {}

    // A new buffer for the file's bytes; returns its index.
    std::uint32_t addChunk(std::size_t capacity) {
        auto* bytes = static_cast<char*>(std::malloc(capacity));
        if (bytes == nullptr) {
            throw std::bad_alloc();
        }
        data_->chunks_.push_back({std::unique_ptr<char, RecordData::FreeBytes>(bytes), capacity});
        return static_cast<std::uint32_t>(data_->chunks_.size() - 1);
    }
    // Gives a buffer a new capacity, keeping its bytes up to the smaller of
    // the two; large buffers are remapped instead of copied. Offsets into it
    // stay valid, pointers do not.
    void resizeChunk(std::uint32_t chunk, std::size_t capacity) {
        RecordData::Chunk& c = data_->chunks_[chunk];
        auto* bytes = static_cast<char*>(std::realloc(c.bytes.get(), capacity));
        if (bytes == nullptr) {
            throw std::bad_alloc();
        }
        (void)c.bytes.release();
        c.bytes.reset(bytes);
        c.capacity = capacity;
    }
    char* chunkBytes(std::uint32_t chunk) { return data_->chunks_[chunk].bytes.get(); }
    std::size_t chunkCapacity(std::uint32_t chunk) const { return data_->chunks_[chunk].capacity; }
    // Whether a row, or a line waiting for the file's first header, points
    // into the buffer; one that holds none can be reused or resized.
    bool chunkReferenced(std::uint32_t chunk) const {
        return highestReferenced_ >= static_cast<std::int64_t>(chunk);
    }

    // Takes the complete lines of chunk bytes [pos, filled) and moves pos past
    // them; at the end of the file the unterminated rest is a line too.
    void parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof);

    bool rejected() const { return rejected_; }
    bool full() const { return full_; }
    // Releases what the last buffer holds beyond `filled` once reading ended.
    void trimChunk(std::uint32_t chunk, std::size_t filled);

    LogImport finish();

private:
    void processLine(std::uint32_t chunk, std::size_t begin, std::size_t end);
    void takeHeader(HeaderLayout header);
    void appendRow(std::uint32_t chunk, std::size_t begin, std::size_t end, std::uint32_t layout);
    std::uint32_t layoutFor(const HeaderLayout& header);
    void flushPending(std::uint32_t layout);
    void buildColumns(std::uint32_t lastLayout, LogImport& result);
    void reference(std::uint32_t chunk) {
        highestReferenced_ = std::max<std::int64_t>(highestReferenced_, chunk);
    }

    struct PendingLine {
        std::uint32_t chunk;
        std::uint32_t begin;
        std::uint32_t end;
    };

    std::shared_ptr<RecordData> data_;
    HeaderLayout header_;                     // the header in force
    std::vector<HeaderLayout> layoutHeaders_; // per layout
    std::vector<std::uint64_t> layoutRows_;   // rows per layout
    // Field names joined by NUL (which no name holds) to their layout.
    std::unordered_map<std::string, std::uint32_t> layoutIndex_;
    bool fileHasHeader_ = false;
    std::uint32_t layout_ = 0;
    std::vector<PendingLine> pending_; // data lines before the file's first header
    bool afterRun_ = false;            // a NUL/0x1A run just ended a line
    bool rejected_ = false;
    bool full_ = false; // maxRecords reached
    std::uint32_t maxRecords_;
    std::int64_t highestReferenced_ = -1;
    UserAgentCache agents_;
    std::array<std::int64_t, kSpiderCount> visits_{};
    std::vector<SpiderId> firstSeen_;
};

void RecordDataBuilder::parse(std::uint32_t chunk, std::size_t& pos, std::size_t filled, bool eof) {
    const char* buf = chunkBytes(chunk);
    auto findRun = [&](std::size_t from) {
        const void* nul = std::memchr(buf + from, '\0', filled - from);
        const void* sub = std::memchr(buf + from, '\x1A', filled - from);
        std::size_t at = filled;
        if (nul != nullptr) {
            at = static_cast<std::size_t>(static_cast<const char*>(nul) - buf);
        }
        if (sub != nullptr) {
            at = std::min(at, static_cast<std::size_t>(static_cast<const char*>(sub) - buf));
        }
        return at;
    };
    std::size_t run = findRun(pos);
    while (pos < filled && !rejected_ && !full_) {
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
        if (run < pos) {
            run = findRun(pos);
        }
        const void* nl = std::memchr(buf + pos, '\n', filled - pos);
        const std::size_t lineEnd =
            nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - buf) : filled;
        if (run < lineEnd) {
            if (run > pos) {
                processLine(chunk, pos, run);
            }
            std::size_t next = run;
            while (next < filled && IsRunByte(buf[next])) {
                ++next;
            }
            pos = next;
            afterRun_ = true;
            continue;
        }
        if (nl == nullptr) {
            if (eof) {
                processLine(chunk, pos, filled);
                pos = filled;
            }
            return;
        }
        std::size_t contentEnd = lineEnd;
        if (contentEnd > pos && buf[contentEnd - 1] == '\r') {
            --contentEnd;
        }
        processLine(chunk, pos, contentEnd);
        pos = lineEnd + 1;
    }
}

void RecordDataBuilder::processLine(std::uint32_t chunk, std::size_t begin, std::size_t end) {
    const char* buf = chunkBytes(chunk);
    if (end > begin && buf[begin] == '#') {
        const std::string_view line(buf + begin, end - begin);
        if (FindText(line, kFieldsDirective) != kNotFound) {
            takeHeader(MapHeader(line));
        }
        return;
    }
    if (data_->rows_.size() + pending_.size() >= maxRecords_) {
        full_ = true;
        return;
    }
    if (!fileHasHeader_) {
        reference(chunk);
        pending_.push_back(
            {chunk, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
        return;
    }
    appendRow(chunk, begin, end, layout_);
}

std::uint32_t RecordDataBuilder::layoutFor(const HeaderLayout& header) {
    std::string key;
    for (const std::string& name : header.fieldNames) {
        key += name;
        key += '\0';
    }
    const auto [it, added] =
        layoutIndex_.try_emplace(std::move(key), static_cast<std::uint32_t>(layoutHeaders_.size()));
    if (!added) {
        return it->second;
    }
    RecordData::Layout layout;
    layout.fieldCount = header.fieldCount();
    layout.userAgentField = header.fieldMap[FieldSlot::UserAgent] - 1;
    data_->layouts_.push_back(std::move(layout));
    layoutHeaders_.push_back(header);
    layoutRows_.push_back(0);
    return it->second;
}

void RecordDataBuilder::takeHeader(HeaderLayout header) {
    header_ = std::move(header);
    layout_ = layoutFor(header_);
    if (!fileHasHeader_) {
        fileHasHeader_ = true;
        flushPending(layout_);
    }
    if (header_.fieldCount() == 0) {
        rejected_ = true;
    }
}

void RecordDataBuilder::flushPending(std::uint32_t layout) {
    for (const PendingLine& line : pending_) {
        appendRow(line.chunk, line.begin, line.end, layout);
    }
    pending_.clear();
    pending_.shrink_to_fit();
}

void RecordDataBuilder::appendRow(std::uint32_t chunk, std::size_t begin, std::size_t end,
                                  std::uint32_t layoutIndex) {
    const RecordData::Layout& layout = data_->layouts_[layoutIndex];
    const char* buf = chunkBytes(chunk);
    auto& bounds = data_->boundaries_;
    const std::size_t first = bounds.size();
    const auto fields = static_cast<std::size_t>(layout.fieldCount);

    // Boundaries 0..fields: each field starts after the blank that ended the
    // one before; fields beyond the header's count are not needed.
    bounds.push_back(static_cast<std::uint32_t>(begin));
    std::size_t count = 1;
    std::size_t p = begin;
    while (count <= fields) {
        const void* blank = std::memchr(buf + p, ' ', end - p);
        if (blank == nullptr) {
            break;
        }
        p = static_cast<std::size_t>(static_cast<const char*>(blank) - buf) + 1;
        bounds.push_back(static_cast<std::uint32_t>(p));
        ++count;
    }
    if (count <= fields) {
        // The line has fewer fields. The last one started runs to the end of
        // the line, unless it starts there (empty line, blank at the end);
        // the fields after it are not stored and read as empty.
        const std::uint32_t last = bounds[first + count - 1];
        bounds.push_back(static_cast<std::uint32_t>(last == end ? end : end + 1));
        ++count;
    }

    SpiderId spider = SpiderId::Unknown;
    if (layout.userAgentField >= 0) {
        const auto f = static_cast<std::size_t>(layout.userAgentField);
        std::string_view agent;
        if (f + 1 < count) {
            const std::uint32_t b = bounds[first + f];
            const std::uint32_t next = bounds[first + f + 1];
            if (next > b) {
                agent = std::string_view(buf + b, next - 1 - b);
            }
        }
        spider = agents_.identify(agent);
        if (visits_[static_cast<std::size_t>(spider)]++ == 0) {
            firstSeen_.push_back(spider);
        }
    }
    RecordData::RowRef row{};
    row.boundaryLow = static_cast<std::uint32_t>(first);
    row.boundaryHigh = static_cast<std::uint16_t>(std::uint64_t{first} >> 32);
    row.spider = spider;
    row.storedBoundaries =
        static_cast<std::uint8_t>(std::min<std::size_t>(count, RecordData::kManyBoundaries));
    row.chunk = chunk;
    row.layout = layoutIndex;
    data_->rows_.push_back(row);
    reference(chunk);
    ++layoutRows_[layoutIndex];
}

void RecordDataBuilder::buildColumns(std::uint32_t lastLayout, LogImport& result) {
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
    std::vector<std::string>& titles = data_->columnTitles_;
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
    const HeaderLayout& last = layoutHeaders_[lastLayout];
    {
        const std::vector<FieldKey> keys = keysOf(last);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], last.fieldHeaders[f]);
        }
    }
    for (std::size_t l = 0; l < layoutHeaders_.size(); ++l) {
        if (l == lastLayout || layoutRows_[l] == 0) {
            continue;
        }
        const std::vector<FieldKey> keys = keysOf(layoutHeaders_[l]);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            addColumn(keys[f], layoutHeaders_[l].fieldHeaders[f]);
        }
    }
    result.droppedFields = dropped;

    // Dense column maps cost layouts x columns; thousands of distinct
    // headers get sorted pairs instead.
    const bool dense = layoutHeaders_.size() * titles.size() <= (std::size_t{1} << 22);
    for (std::size_t l = 0; l < layoutHeaders_.size(); ++l) {
        RecordData::Layout& layout = data_->layouts_[l];
        const std::vector<FieldKey> keys = keysOf(layoutHeaders_[l]);
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
}

void RecordDataBuilder::trimChunk(std::uint32_t chunk, std::size_t filled) {
    if (!chunkReferenced(chunk)) {
        filled = 0; // no row reads it
    }
    if (chunkCapacity(chunk) - filled >= kMinChunk) {
        resizeChunk(chunk, std::max<std::size_t>(filled, 1));
    }
}

LogImport RecordDataBuilder::finish() {
    LogImport result;
    result.rejected = rejected_;
    result.agentIdentifications = agents_.identifications();
    if (!fileHasHeader_ && !pending_.empty()) {
        flushPending(layoutFor(header_));
    }
    if (!layoutHeaders_.empty()) {
        buildColumns(fileHasHeader_ ? layout_ : layoutFor(header_), result);
    }

    std::string& digits = data_->numberDigits_;
    const std::uint32_t records = data_->recordCount();
    digits.clear();
    char buf[16];
    for (std::uint64_t n = 1; n <= records; ++n) {
        const auto r = std::to_chars(buf, buf + sizeof buf, n);
        digits.append(buf, r.ptr);
    }

    for (SpiderId id : firstSeen_) {
        result.tally.count(SpiderDisplayName(id),
                           static_cast<std::int32_t>(visits_[static_cast<std::size_t>(id)]));
    }
    if (!rejected_) {
        result.tally.finish();
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

// Reads a log through `read(buffer, size)`, which gives the bytes read (0 at
// the end) as a Result<std::size_t>. `total` is the expected size (0 when
// unknown); it only sizes the buffers and the progress.
template <typename Read>
Result<LogImport> ImportFrom(Read&& read, std::uint64_t total, const HeaderLayout& previousHeader,
                             const ImportOptions& options) {
    RecordDataBuilder builder(previousHeader, options);
    const std::size_t maxChunk =
        std::clamp<std::size_t>(options.maxChunkBytes, 16, std::size_t{1} << 31);
    const std::size_t minChunk = std::min(kMinChunk, maxChunk);
    const std::size_t maxLine = std::min(options.maxLineBytes, ImportOptions::kMaxLineBytes);
    std::uint64_t bytesRead = 0;
    auto chunkSizeFor = [&](std::uint64_t remaining, std::size_t carried) {
        // Room for the whole rest of the file where its size is known; for a
        // stream, buffers grow with what was read so far. A line longer than
        // a buffer gets one twice its size, up to what offsets can address.
        const std::uint64_t wanted =
            total > 0 ? remaining + carried + minChunk
                      : std::clamp<std::uint64_t>(bytesRead / 4, minChunk, kStreamChunk) + carried;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, maxChunk));
        return std::min(std::max({size, minChunk, carried * 2}), maxLine + 1);
    };
    std::uint32_t chunk = builder.addChunk(chunkSizeFor(total, 0));
    std::size_t filled = 0;
    std::size_t pos = 0;
    std::uint64_t reported = 0;
    for (;;) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
            return Failed(ECANCELED);
        }
        if (filled == builder.chunkCapacity(chunk)) {
            const std::size_t carried = filled - pos;
            if (carried >= maxLine) {
                return Failed(EFBIG, "a line at byte " + std::to_string(bytesRead - carried) +
                                         " is longer than " + std::to_string(maxLine) + " bytes");
            }
            const std::uint64_t remaining = total > bytesRead ? total - bytesRead : 0;
            const std::size_t capacity = chunkSizeFor(remaining, carried);
            if (!builder.chunkReferenced(chunk)) {
                // No row points into this buffer (a long line, a NUL run):
                // reuse it for the unfinished line instead of keeping it.
                std::memmove(builder.chunkBytes(chunk), builder.chunkBytes(chunk) + pos, carried);
                if (capacity > builder.chunkCapacity(chunk)) {
                    builder.resizeChunk(chunk, capacity);
                }
            } else {
                // Carry the unfinished line over into a fresh buffer; the old
                // one stays, since earlier rows point into it.
                const std::uint32_t next = builder.addChunk(capacity);
                std::memcpy(builder.chunkBytes(next), builder.chunkBytes(chunk) + pos, carried);
                chunk = next;
            }
            filled = carried;
            pos = 0;
        }
        const std::size_t want =
            std::min({builder.chunkCapacity(chunk) - filled, kReadStep, maxChunk});
        const Result<std::size_t> block = read(builder.chunkBytes(chunk) + filled, want);
        if (!block) {
            return Failed(block.error().code);
        }
        const std::size_t got = *block;
        if (got == 0) {
            builder.parse(chunk, pos, filled, true);
            break;
        }
        filled += got;
        bytesRead += got;
        builder.parse(chunk, pos, filled, false);
        if (builder.rejected() || builder.full()) {
            break;
        }
        if (options.progress && bytesRead - reported >= kReadStep) {
            reported = bytesRead;
            options.progress(bytesRead, std::max(total, bytesRead));
        }
    }
    if (builder.full()) {
        return Failed(EFBIG,
                      "the log has more than " + std::to_string(options.maxRecords) + " records");
    }
    builder.trimChunk(chunk, filled);
    LogImport result = builder.finish();
    result.bytesRead = bytesRead;
    if (options.progress) {
        options.progress(bytesRead, std::max(total, bytesRead));
    }
    return result;
}

// Memory running out is reported like any other failure, never thrown at the
// caller: what was read is released before the result returns.
template <typename Import> Result<LogImport> GuardMemory(Import&& import) {
    try {
        return import();
    } catch (const std::bad_alloc&) {
        return Failed(ENOMEM);
    } catch (const std::length_error&) {
        return Failed(ENOMEM);
    }
}

} // namespace

Result<LogImport> ImportLogBytes(std::string_view bytes, const HeaderLayout& previousHeader,
                                 const ImportOptions& options) {
    return GuardMemory([&] {
        std::size_t at = 0;
        auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
            const std::size_t n = std::min(size, bytes.size() - at);
            std::memcpy(buffer, bytes.data() + at, n);
            at += n;
            return n;
        };
        return ImportFrom(read, bytes.size(), previousHeader, options);
    });
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
        return GuardMemory([&] {
            auto read = [&](char* buffer, std::size_t size) {
                return ReadSome(file->get(), buffer, size);
            };
            return ImportFrom(read, total, previousHeader, options);
        });
    }();
    if (!imported) {
        Error error = imported.error();
        error.path = path;
        return error;
    }
    return imported;
}

} // namespace logdesk
