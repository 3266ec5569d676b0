#include "log_importer.h"

#include "util/gbk_codec.h"
#include "util/gbk_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace logdesk {

namespace {

constexpr std::string_view kFieldsDirective = "#Fields:";
constexpr std::size_t kMinChunk = std::size_t{64} << 10;
constexpr std::size_t kReadStep = std::size_t{8} << 20;

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
// view into the import's buffers, which outlive the cache.
class UserAgentCache {
public:
    UserAgentCache() : slots_(kSlots) {}

    SpiderId identify(std::string_view agent) {
        const std::uint64_t h = HashBytes(agent);
        std::size_t i = h & (kSlots - 1);
        for (;;) {
            Slot& slot = slots_[i];
            if (slot.data == nullptr) {
                const SpiderId id = IdentifySpider(agent);
                if (used_ < kSlots / 2) {
                    slot = {agent.data(), agent.size(), h, id};
                    ++used_;
                }
                return id;
            }
            if (slot.hash == h && slot.size == agent.size() &&
                std::memcmp(slot.data, agent.data(), agent.size()) == 0) {
                return slot.id;
            }
            i = (i + 1) & (kSlots - 1);
        }
    }

private:
    static constexpr std::size_t kSlots = std::size_t{1} << 16;
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t hash = 0;
        SpiderId id = SpiderId::Unknown;
    };
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

const std::string& RecordNumberTitle() {
    static const std::string title = Gbk("序号(ID)");
    return title;
}

} // namespace

// Builds a RecordData from the bytes of one log, line by line.
class RecordDataBuilder {
public:
    explicit RecordDataBuilder(const HeaderLayout& previousHeader)
        : data_(std::make_shared<RecordData>()), header_(previousHeader) {}

    // A new buffer for the file's bytes; returns its index.
    std::uint16_t addChunk(std::size_t capacity) {
        data_->chunks_.push_back({std::make_unique_for_overwrite<char[]>(capacity), capacity});
        return static_cast<std::uint16_t>(data_->chunks_.size() - 1);
    }
    char* chunkBytes(std::uint16_t chunk) { return data_->chunks_[chunk].bytes.get(); }
    std::size_t chunkCapacity(std::uint16_t chunk) const { return data_->chunks_[chunk].capacity; }

    // Takes the complete lines of chunk bytes [pos, filled) and moves pos past
    // them; at the end of the file the unterminated rest is a line too.
    void parse(std::uint16_t chunk, std::size_t& pos, std::size_t filled, bool eof);

    bool rejected() const { return rejected_; }

    ImportResult finish(ImportStatus status);

private:
    void processLine(std::uint16_t chunk, std::size_t begin, std::size_t end);
    void takeHeader(HeaderLayout header);
    void appendRow(std::uint16_t chunk, std::size_t begin, std::size_t end, std::uint16_t layout);
    std::uint16_t layoutFor(const HeaderLayout& header);
    void flushPending(std::uint16_t layout);
    void buildColumns(std::uint16_t lastLayout);

    struct PendingLine {
        std::uint16_t chunk;
        std::uint32_t begin;
        std::uint32_t end;
    };

    std::shared_ptr<RecordData> data_;
    HeaderLayout header_;                     // the header in force
    std::vector<HeaderLayout> layoutHeaders_; // per layout
    std::vector<std::uint32_t> layoutRows_;   // rows per layout
    bool fileHasHeader_ = false;
    std::uint16_t layout_ = 0;
    std::vector<PendingLine> pending_; // data lines before the file's first header
    bool afterRun_ = false;            // a NUL/0x1A run just ended a line
    bool rejected_ = false;
    UserAgentCache agents_;
    std::array<std::int64_t, kSpiderCount> visits_{};
    std::vector<SpiderId> firstSeen_;
};

void RecordDataBuilder::parse(std::uint16_t chunk, std::size_t& pos, std::size_t filled, bool eof) {
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
    while (pos < filled && !rejected_) {
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

void RecordDataBuilder::processLine(std::uint16_t chunk, std::size_t begin, std::size_t end) {
    const char* buf = chunkBytes(chunk);
    if (end > begin && buf[begin] == '#') {
        const std::string_view line(buf + begin, end - begin);
        if (FindText(line, kFieldsDirective) != kNotFound) {
            takeHeader(MapHeader(line));
        }
        return;
    }
    if (!fileHasHeader_) {
        pending_.push_back(
            {chunk, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
        return;
    }
    appendRow(chunk, begin, end, layout_);
}

std::uint16_t RecordDataBuilder::layoutFor(const HeaderLayout& header) {
    for (std::size_t i = 0; i < layoutHeaders_.size(); ++i) {
        if (layoutHeaders_[i].fieldNames == header.fieldNames) {
            return static_cast<std::uint16_t>(i);
        }
    }
    RecordData::Layout layout;
    layout.fieldCount = header.fieldCount();
    layout.userAgentField = header.fieldMap[FieldSlot::UserAgent] - 1;
    data_->layouts_.push_back(std::move(layout));
    layoutHeaders_.push_back(header);
    layoutRows_.push_back(0);
    return static_cast<std::uint16_t>(layoutHeaders_.size() - 1);
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

void RecordDataBuilder::flushPending(std::uint16_t layout) {
    for (const PendingLine& line : pending_) {
        appendRow(line.chunk, line.begin, line.end, layout);
    }
    pending_.clear();
    pending_.shrink_to_fit();
}

void RecordDataBuilder::appendRow(std::uint16_t chunk, std::size_t begin, std::size_t end,
                                  std::uint16_t layoutIndex) {
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
        // the line, unless it starts there (empty line, blank at the end).
        const std::uint32_t last = bounds[first + count - 1];
        const auto terminal = static_cast<std::uint32_t>(last == end ? end : end + 1);
        for (; count <= fields; ++count) {
            bounds.push_back(terminal);
        }
    }

    SpiderId spider = SpiderId::Unknown;
    if (layout.userAgentField >= 0) {
        const auto f = static_cast<std::size_t>(layout.userAgentField);
        const std::uint32_t b = bounds[first + f];
        const std::uint32_t next = bounds[first + f + 1];
        const std::string_view agent =
            next > b ? std::string_view(buf + b, next - 1 - b) : std::string_view();
        spider = agents_.identify(agent);
        if (visits_[static_cast<std::size_t>(spider)]++ == 0) {
            firstSeen_.push_back(spider);
        }
    }
    data_->rows_.push_back({first, chunk, layoutIndex, spider});
    ++layoutRows_[layoutIndex];
}

void RecordDataBuilder::buildColumns(std::uint16_t lastLayout) {
    // A field is known by its name and by which occurrence of that name it is.
    using FieldKey = std::pair<std::string, int>;
    auto keysOf = [](const HeaderLayout& header) {
        std::vector<FieldKey> keys;
        std::map<std::string, int> seen;
        for (const std::string& name : header.fieldNames) {
            keys.emplace_back(name, seen[name]++);
        }
        return keys;
    };

    std::vector<FieldKey> columns;
    std::vector<std::string>& titles = data_->columnTitles_;
    titles.clear();
    titles.push_back(RecordNumberTitle());
    columns.emplace_back(std::string(), -1); // the record number
    const HeaderLayout& last = layoutHeaders_[lastLayout];
    for (std::size_t i = 0; i < last.fieldHeaders.size(); ++i) {
        titles.push_back(last.fieldHeaders[i]);
    }
    for (FieldKey& key : keysOf(last)) {
        columns.push_back(std::move(key));
    }
    for (std::size_t l = 0; l < layoutHeaders_.size(); ++l) {
        if (l == lastLayout || layoutRows_[l] == 0) {
            continue;
        }
        const std::vector<FieldKey> keys = keysOf(layoutHeaders_[l]);
        for (std::size_t f = 0; f < keys.size(); ++f) {
            if (std::find(columns.begin(), columns.end(), keys[f]) == columns.end()) {
                columns.push_back(keys[f]);
                titles.push_back(layoutHeaders_[l].fieldHeaders[f]);
            }
        }
    }
    for (std::size_t l = 0; l < layoutHeaders_.size(); ++l) {
        const std::vector<FieldKey> keys = keysOf(layoutHeaders_[l]);
        std::vector<std::int32_t>& toField = data_->layouts_[l].columnToField;
        toField.assign(columns.size(), -1);
        for (std::size_t c = 1; c < columns.size(); ++c) {
            const auto it = std::find(keys.begin(), keys.end(), columns[c]);
            if (it != keys.end()) {
                toField[c] = static_cast<std::int32_t>(it - keys.begin());
            }
        }
    }
}

ImportResult RecordDataBuilder::finish(ImportStatus status) {
    ImportResult result;
    result.status = status;
    if (status == ImportStatus::Imported && rejected_) {
        result.status = ImportStatus::Rejected;
    }
    if (result.status != ImportStatus::Imported && result.status != ImportStatus::Rejected) {
        result.header = header_;
        return result;
    }
    if (!fileHasHeader_ && !pending_.empty()) {
        flushPending(layoutFor(header_));
    }
    if (!layoutHeaders_.empty()) {
        buildColumns(fileHasHeader_ ? layout_ : layoutFor(header_));
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
    if (result.status == ImportStatus::Imported) {
        result.tally.finish();
    }
    result.header = header_;
    result.table = RecordTable(std::move(data_));
    return result;
}

ImportResult ImportLogBytes(std::string_view bytes, const HeaderLayout& previousHeader) {
    RecordDataBuilder builder(previousHeader);
    const std::uint16_t chunk = builder.addChunk(std::max<std::size_t>(bytes.size(), 1));
    std::memcpy(builder.chunkBytes(chunk), bytes.data(), bytes.size());
    std::size_t pos = 0;
    builder.parse(chunk, pos, bytes.size(), true);
    ImportResult result = builder.finish(ImportStatus::Imported);
    result.bytesRead = bytes.size();
    return result;
}

namespace {

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

ImportResult ImportLogFile(const std::string& path, const HeaderLayout& previousHeader,
                           const ImportOptions& options) {
    // Read-only: IIS keeps today's log open for writing, and reading must not
    // disturb it.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        ImportResult failed;
        failed.status = ImportStatus::OpenFailed;
        failed.reason = std::strerror(errno);
        failed.header = previousHeader;
        return failed;
    }
    struct stat info {};
    std::uint64_t total = 0;
    if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode)) {
        total = static_cast<std::uint64_t>(info.st_size);
    }

    RecordDataBuilder builder(previousHeader);
    const std::size_t maxChunk =
        std::clamp<std::size_t>(options.maxChunkBytes, 16, std::size_t{1} << 31);
    const std::size_t minChunk = std::min(kMinChunk, maxChunk);
    auto chunkSizeFor = [&](std::uint64_t remaining, std::size_t carried) {
        // Room for the whole rest of the file where possible; a line longer
        // than a buffer gets one twice its size.
        const std::uint64_t wanted = remaining + carried + minChunk;
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, maxChunk));
        return std::max({size, minChunk, carried * 2});
    };
    std::uint16_t chunk = builder.addChunk(chunkSizeFor(total, 0));
    std::size_t filled = 0;
    std::size_t pos = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t reported = 0;
    for (;;) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
            return builder.finish(ImportStatus::Cancelled);
        }
        if (filled == builder.chunkCapacity(chunk)) {
            // Carry the unfinished line over into a fresh buffer; the old one
            // stays, since earlier rows point into it.
            const std::size_t carried = filled - pos;
            const std::uint64_t remaining = total > bytesRead ? total - bytesRead : 0;
            const std::uint16_t next = builder.addChunk(chunkSizeFor(remaining, carried));
            std::memcpy(builder.chunkBytes(next), builder.chunkBytes(chunk) + pos, carried);
            chunk = next;
            filled = carried;
            pos = 0;
        }
        const std::size_t want =
            std::min({builder.chunkCapacity(chunk) - filled, kReadStep, maxChunk});
        const ssize_t got = ::read(file.get(), builder.chunkBytes(chunk) + filled, want);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ImportResult failed = builder.finish(ImportStatus::ReadFailed);
            failed.reason = std::strerror(errno);
            return failed;
        }
        if (got == 0) {
            builder.parse(chunk, pos, filled, true);
            break;
        }
        filled += static_cast<std::size_t>(got);
        bytesRead += static_cast<std::uint64_t>(got);
        builder.parse(chunk, pos, filled, false);
        if (builder.rejected()) {
            break;
        }
        if (options.progress && bytesRead - reported >= kReadStep) {
            reported = bytesRead;
            options.progress(bytesRead, std::max(total, bytesRead));
        }
    }
    ImportResult result = builder.finish(ImportStatus::Imported);
    result.bytesRead = bytesRead;
    if (options.progress) {
        options.progress(bytesRead, std::max(total, bytesRead));
    }
    return result;
}

} // namespace logdesk
