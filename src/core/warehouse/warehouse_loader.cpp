#include "core/warehouse/warehouse_loader.h"

#include "core/logimport/log_importer.h"
#include "core/text/gbk_codec.h"
#include "core/warehouse/data_lines.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <future>
#include <map>
#include <optional>

namespace logdesk {

namespace {

// Bytes of a source's text its identity hashes.
constexpr std::size_t kHeadBytes = 65536;

std::string_view CrawlersName(Crawlers crawlers) {
    return crawlers == Crawlers::All ? "all" : "classic";
}

// A load the ledger counts, as the loader needs it.
struct KnownLoad {
    std::uint64_t id = 0;
    std::uint32_t headBytes = 0;
    std::uint64_t headHash = 0;
    std::uint64_t firstRecord = 0;
    std::uint64_t endRecord = 0;
    std::uint64_t endByte = 0;
    std::uint64_t fileBytes = 0;
    bool tail = false;
    std::string fields; // blank-separated
};

std::uint64_t Number(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 10);
}

Result<std::vector<KnownLoad>> CountedLoadsOf(ClickHouseClient& client, const LoadOptions& options) {
    const Result<std::string> answer = client.query(
        "SELECT load_id, any(head_bytes), any(head_hash), any(first_record), any(end_record), "
        "any(end_byte), any(file_bytes), any(tail), arrayStringConcat(any(fields), ' ') FROM " +
        options.tables.loads + " WHERE crawlers = '" + std::string(CrawlersName(options.crawlers)) +
        "' GROUP BY load_id HAVING countIf(state = 'done') > 0 AND countIf(state = 'dropped') = 0 "
        "FORMAT TabSeparated");
    if (!answer) {
        return answer.error();
    }
    std::vector<KnownLoad> loads;
    std::string_view text = *answer;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::vector<std::string> cells = SplitTabSeparatedLine(text.substr(0, end));
        text.remove_prefix(std::min(text.size(), end + 1));
        if (cells.size() != 9) {
            return Error{"ClickHouse", client.server().url, "an unexpected answer about the loads",
                         EPROTO};
        }
        KnownLoad load;
        load.id = Number(cells[0]);
        load.headBytes = static_cast<std::uint32_t>(Number(cells[1]));
        load.headHash = Number(cells[2]);
        load.firstRecord = Number(cells[3]);
        load.endRecord = Number(cells[4]);
        load.endByte = Number(cells[5]);
        load.fileBytes = Number(cells[6]);
        load.tail = cells[7] == "1";
        load.fields = cells[8];
        loads.push_back(std::move(load));
    }
    return loads;
}

// The counted loads of one source: those whose first bytes it starts with,
// as a chain of segments from its first record on.
struct Coverage {
    std::uint64_t records = 0;            // the chain covers records [0, records)
    std::optional<KnownLoad> last;        // the load that ends the chain
};

Coverage CoverageOf(std::string_view head, std::uint64_t textBytes,
                    const std::multimap<std::uint32_t, const KnownLoad*>& byHeadBytes) {
    std::vector<const KnownLoad*> matched;
    HeadHash hash;
    const auto check = [&](std::uint32_t length) {
        const auto [from, to] = byHeadBytes.equal_range(length);
        for (auto it = from; it != to; ++it) {
            if (it->second->headHash == hash.value() && it->second->endByte <= textBytes) {
                matched.push_back(it->second);
            }
        }
    };
    std::uint32_t hashed = 0;
    for (auto it = byHeadBytes.begin(); it != byHeadBytes.end();
         it = byHeadBytes.upper_bound(it->first)) {
        if (it->first == 0 || it->first > head.size()) {
            continue;
        }
        hash.feed(head.substr(hashed, it->first - hashed));
        hashed = it->first;
        check(hashed);
    }
    std::sort(matched.begin(), matched.end(), [](const KnownLoad* a, const KnownLoad* b) {
        return a->firstRecord < b->firstRecord ||
               (a->firstRecord == b->firstRecord && a->endRecord > b->endRecord);
    });
    Coverage coverage;
    for (const KnownLoad* load : matched) {
        if (load->firstRecord > coverage.records) {
            break; // a gap: what follows it is loaded again
        }
        if (load->endRecord > coverage.records) {
            coverage.records = load->endRecord;
            coverage.last = *load;
        }
    }
    return coverage;
}

// Where a source's cells are in its table.
struct CellMap {
    std::vector<ColumnIndex> columns;           // per cell column that the log has
    std::vector<std::size_t> cellOf;            // cell column of each entry of `columns`
    std::array<bool, kCellColumnCount> present{};
    std::int32_t agentColumn = 0;               // 0: none
    std::vector<ColumnIndex> otherColumns;
    std::vector<std::string> otherNames;
};

// "日期(date)" gives "date": captions hold no "(" (GBK trail bytes are never
// below 0x40).
std::string FieldNameOfTitle(std::string_view title) {
    const std::size_t open = title.find('(');
    if (open == std::string_view::npos || title.size() < open + 2) {
        return std::string(title);
    }
    return std::string(title.substr(open + 1, title.size() - open - 2));
}

CellMap MapCells(const LogImport& imported) {
    const RecordTable& table = imported.table;
    const FieldMap& fields = imported.header.fieldMap;
    CellMap map;
    std::vector<bool> used(static_cast<std::size_t>(std::max(table.columnCount(), 1)), false);
    std::vector<std::string> names(used.size());
    for (int c = 1; c < table.columnCount(); ++c) {
        names[static_cast<std::size_t>(c)] = FieldNameOfTitle(table.columnTitle(ColumnIndex{c}));
    }
    for (std::size_t k = 0; k < kCellColumnCount; ++k) {
        const CellColumn& column = kCellColumns[k];
        std::int32_t at = 0;
        if (column.slot) {
            at = fields[*column.slot];
        } else {
            for (int c = 1; c < table.columnCount(); ++c) {
                if (names[static_cast<std::size_t>(c)] == column.fieldName) {
                    at = c;
                    break;
                }
            }
        }
        if (at <= 0 || at >= table.columnCount()) {
            continue;
        }
        used[static_cast<std::size_t>(at)] = true;
        map.present[k] = true;
        if (column.slot == FieldSlot::UserAgent) {
            map.agentColumn = at;
            continue; // read as logged, apart
        }
        map.columns.push_back(ColumnIndex{at});
        map.cellOf.push_back(k);
    }
    for (int c = 1; c < table.columnCount(); ++c) {
        if (!used[static_cast<std::size_t>(c)]) {
            map.otherColumns.push_back(ColumnIndex{c});
            map.otherNames.push_back(names[static_cast<std::size_t>(c)]);
        }
    }
    return map;
}

// The typed columns the pages read: a log without such a field reads it as
// "" on the pages, which the row must say, since 0 reads "0".
bool PagesRead(std::string_view column) {
    return column == "date" || column == "time" || column == "sc_status" ||
           column == "sc_win32_status";
}

// What one source is, for its ledger rows.
struct SourceIdentity {
    std::string display;
    std::string key;
    std::uint32_t headBytes = 0;
    std::uint64_t headHash = 0;
    std::uint64_t fileBytes = 0;
    std::string fields;
};

struct Segment {
    std::uint64_t first = 0; // records [first, end)
    std::uint64_t end = 0;
    std::uint64_t firstByte = 0;
    std::uint64_t endByte = 0;
    bool tail = false;
};

void AppendLedgerRow(std::uint64_t id, std::string_view state, const SourceIdentity& source,
                     const Segment& segment, Crawlers crawlers, std::string& out) {
    const auto number = [&out](std::uint64_t n) {
        out += std::to_string(n);
        out += '\t';
    };
    number(id);
    out += state;
    out += '\t';
    AppendTsvText(source.display, out);
    out += '\t';
    AppendTsvText(source.key, out);
    out += '\t';
    out += CrawlersName(crawlers);
    out += '\t';
    number(source.headBytes);
    number(source.headHash);
    number(segment.first);
    number(segment.end);
    number(segment.firstByte);
    number(segment.endByte);
    number(source.fileBytes);
    number(segment.end - segment.first);
    number(segment.tail ? 1 : 0);
    std::vector<std::string_view> names;
    std::string_view fields = source.fields;
    while (!fields.empty()) {
        const std::size_t blank = std::min(fields.find(' '), fields.size());
        names.push_back(fields.substr(0, blank));
        fields.remove_prefix(std::min(fields.size(), blank + 1));
    }
    AppendTsvArray(names, out);
    out += '\n';
}

class Loader {
public:
    Loader(ClickHouseClient& client, const LoadOptions& options)
        : client_(client), options_(options), random_(std::random_device{}()) {
        for (std::size_t i = 0; i < kSpiderCount; ++i) {
            crawlerNames_[i] = GbkToUtf8(SpiderDisplayName(static_cast<SpiderId>(i)));
        }
    }

    Result<LoadSummary> run(LogInputs& inputs);

private:
    Result<void> loadSource(LogSource& source, SourceLoad& outcome);
    Result<void> loadSegment(const LogImport& imported, const CellMap& cells,
                             const DataLines& lines, bool linesKnown, const SourceIdentity& source,
                             const Segment& segment, std::uint64_t& loaded);
    Result<void> ledger(std::uint64_t id, std::string_view state, const SourceIdentity& source,
                        const Segment& segment);
    Result<void> insertRetried(const std::string& statement, const std::string& data);
    Result<std::uint64_t> rowsOf(std::uint64_t id);
    void encode(const LogImport& imported, const CellMap& cells, const DataLines& lines,
                bool linesKnown, const SourceIdentity& source, std::uint64_t id,
                std::uint64_t from, std::uint64_t to, std::string& out) const;

    ClickHouseClient& client_;
    const LoadOptions& options_;
    std::mt19937_64 random_;
    std::array<std::string, kSpiderCount> crawlerNames_;
    std::vector<KnownLoad> known_;
    std::multimap<std::uint32_t, const KnownLoad*> byHeadBytes_;
    HeaderLayout previousHeader_;
};

Result<void> Loader::insertRetried(const std::string& statement, const std::string& data) {
    for (int attempt = 1;; ++attempt) {
        Result<void> stored = client_.insertOnce(statement, data);
        if (stored || !IsTransient(stored.error()) || attempt >= client_.server().retry.attempts) {
            return stored;
        }
        client_.pauseFor(client_.pauseBefore(attempt));
    }
}

Result<void> Loader::ledger(std::uint64_t id, std::string_view state, const SourceIdentity& source,
                            const Segment& segment) {
    // A row written twice (its answer lost) changes nothing: loads are told
    // apart by id, and a state counts once however often it stands.
    std::string row;
    AppendLedgerRow(id, state, source, segment, options_.crawlers, row);
    return insertRetried("INSERT INTO " + options_.tables.loads +
                             " (load_id, state, source, source_key, crawlers, head_bytes, "
                             "head_hash, first_record, end_record, first_byte, end_byte, "
                             "file_bytes, rows, tail, fields) FORMAT TabSeparated",
                         row);
}

Result<std::uint64_t> Loader::rowsOf(std::uint64_t id) {
    const Result<std::string> answer = client_.query("SELECT count() FROM " +
                                                     options_.tables.records + " WHERE load_id = " +
                                                     std::to_string(id) + " FORMAT TabSeparated");
    if (!answer) {
        return answer.error();
    }
    return Number(*answer);
}

void Loader::encode(const LogImport& imported, const CellMap& cells, const DataLines& lines,
                    bool linesKnown, const SourceIdentity& source, std::uint64_t id,
                    std::uint64_t from, std::uint64_t to, std::string& out) const {
    const RecordData& data = *imported.table.data();
    RecordRow row;
    row.loadId = id;
    row.source = source.display;
    row.sourceKey = source.key;
    row.crawlers = options_.crawlers;
    std::vector<std::string_view> found(cells.columns.size());
    std::vector<std::string_view> others(cells.otherColumns.size());
    for (std::size_t k = 0; k < kCellColumnCount; ++k) {
        // A field the pages read and the log lacks reads "" there.
        if (!cells.present[k] && PagesRead(kCellColumns[k].name)) {
            row.cells[k] = std::string_view();
        }
    }
    for (std::uint64_t r = from; r < to; ++r) {
        const RecordIndex record{static_cast<std::uint32_t>(r)};
        row.record = static_cast<std::uint32_t>(r + 1);
        row.line = linesKnown ? lines.lines()[r] : 0;
        data.cellsOf(record, cells.columns.data(), cells.columns.size(), found.data());
        for (std::size_t i = 0; i < found.size(); ++i) {
            row.cells[cells.cellOf[i]] = found[i];
        }
        row.crawler = {};
        if (cells.agentColumn > 0) {
            const ColumnIndex agent{cells.agentColumn};
            const std::size_t k = static_cast<std::size_t>(
                std::find_if(std::begin(kCellColumns), std::end(kCellColumns),
                             [](const CellColumn& c) { return c.slot == FieldSlot::UserAgent; }) -
                std::begin(kCellColumns));
            row.cells[k] = data.loggedCell(record, agent);
            // The crawler's name stands in the table wherever the record's
            // header has a user-agent field.
            if (!data.cell(record, agent).empty()) {
                row.crawler = crawlerNames_[static_cast<std::size_t>(data.spider(record))];
            }
        }
        row.others.clear();
        if (!cells.otherColumns.empty()) {
            data.cellsOf(record, cells.otherColumns.data(), cells.otherColumns.size(),
                         others.data());
            for (std::size_t i = 0; i < others.size(); ++i) {
                if (!others[i].empty()) {
                    row.others.emplace_back(cells.otherNames[i], others[i]);
                }
            }
        }
        EncodeRow(row, options_.format, out);
    }
}

Result<void> Loader::loadSegment(const LogImport& imported, const CellMap& cells,
                                 const DataLines& lines, bool linesKnown,
                                 const SourceIdentity& source, const Segment& segment,
                                 std::uint64_t& loaded) {
    const std::string statement = "INSERT INTO " + options_.tables.records + " (" +
                                  RecordColumnList() + ") FORMAT " +
                                  std::string(FormatName(options_.format));
    const std::uint64_t rows = segment.end - segment.first;
    std::string batch;
    for (int restart = 0;; ++restart) {
        std::uint64_t id = 0;
        while (id == 0) {
            id = random_();
        }
        if (Result<void> begun = ledger(id, "loading", source, segment); !begun) {
            return begun;
        }
        bool startAgain = false;
        std::uint64_t sent = 0;
        // The next batch is encoded on a thread of its own while the server
        // takes the one before; the table is immutable, so both read it.
        struct Encoded {
            std::string bytes;
            std::uint64_t to = 0;
        };
        const auto encodeFrom = [&](std::uint64_t from, std::string bytes) {
            bytes.clear();
            std::uint64_t to = from;
            while (to < segment.end && to - from < options_.batchRows &&
                   bytes.size() < options_.batchBytes) {
                const std::uint64_t step = std::min<std::uint64_t>(
                    {segment.end - to, options_.batchRows - (to - from), 1024});
                encode(imported, cells, lines, linesKnown, source, id, to, to + step, bytes);
                to += step;
            }
            return Encoded{std::move(bytes), to};
        };
        std::future<Encoded> ahead;
        std::string spare;
        for (std::uint64_t from = segment.first; from < segment.end && !startAgain;) {
            Encoded next = ahead.valid() ? ahead.get() : encodeFrom(from, std::move(batch));
            batch = std::move(next.bytes);
            const std::uint64_t to = next.to;
            if (to < segment.end) {
                ahead = std::async(std::launch::async, encodeFrom, to, std::move(spare));
            }
            const std::uint64_t count = to - from;
            Result<void> stored = client_.insertOnce(statement, batch);
            for (int attempt = 1; !stored; ++attempt) {
                if (!IsTransient(stored.error()) || attempt >= client_.server().retry.attempts) {
                    return stored;
                }
                client_.pauseFor(client_.pauseBefore(attempt));
                // Whether the batch got there: the load's rows say.
                const Result<std::uint64_t> there = rowsOf(id);
                if (!there) {
                    return there.error();
                }
                if (*there == sent + count) {
                    stored = {};
                } else if (*there == sent) {
                    stored = client_.insertOnce(statement, batch);
                } else {
                    startAgain = true;
                    break;
                }
            }
            if (startAgain) {
                break;
            }
            sent += count;
            from = to;
            spare = std::move(batch);
            if (options_.afterBatch) {
                options_.afterBatch(count);
            }
        }
        if (!startAgain) {
            const Result<std::uint64_t> there = rowsOf(id);
            if (!there) {
                return there.error();
            }
            startAgain = *there != rows;
        }
        if (startAgain) {
            // This load is never marked done, so none of its rows count.
            if (restart >= options_.segmentRestarts) {
                return Error{"ClickHouse", client_.server().url,
                             "the rows stored for " + ForTerminal(source.display) +
                                 " do not match what was sent, again and again",
                             EIO};
            }
            continue;
        }
        if (Result<void> done = ledger(id, "done", source, segment); !done) {
            return done;
        }
        loaded += rows;
        return {};
    }
}

Result<void> Loader::loadSource(LogSource& source, SourceLoad& outcome) {
    SourceIdentity identity;
    identity.display = source.name().display();
    identity.key = SourceKey(source.name().path, source.name().member);
    identity.fileBytes = source.progress().total;

    // The first bytes, which tell the source apart.
    std::string head(kHeadBytes, '\0');
    std::size_t headLength = 0;
    while (headLength < head.size()) {
        const ssize_t got = source.read(head.data() + headLength, head.size() - headLength);
        if (got <= 0) {
            break;
        }
        headLength += static_cast<std::size_t>(got);
    }
    head.resize(headLength);
    if (source.status().ended() && !source.status().complete()) {
        outcome.problem = source.describeFailure();
        return {};
    }
    if (headLength == 0) {
        outcome.skipped = true; // no text, no record
        return {};
    }
    const Coverage before = CoverageOf(head, UINT64_MAX, byHeadBytes_);
    if (before.last && before.last->fileBytes == identity.fileBytes && identity.fileBytes > 0) {
        // Unchanged since it was loaded: not read again.
        outcome.skipped = true;
        outcome.records = before.records;
        if (!before.last->fields.empty()) {
            previousHeader_ = MapHeader("#Fields: " + before.last->fields);
        }
        return {};
    }

    ImportOptions importOptions;
    importOptions.threads = options_.threads;
    importOptions.crawlers = options_.crawlers;
    LogImporter importer(previousHeader_, importOptions);
    DataLines lines;
    std::size_t served = 0;
    const auto read = [&](char* buffer, std::size_t size) -> Result<std::size_t> {
        if (served < head.size()) {
            const std::size_t n = std::min(size, head.size() - served);
            std::copy_n(head.data() + served, n, buffer);
            served += n;
            lines.feed({buffer, n});
            return n;
        }
        const ssize_t got = source.read(buffer, size);
        if (got < 0) {
            Error error = source.status().error.value_or(Error{});
            error.path = identity.display;
            return error;
        }
        lines.feed({buffer, static_cast<std::size_t>(got)});
        return static_cast<std::size_t>(got);
    };
    const Result<InputRead> added = importer.add(read, source.sizeHint());
    if (!added) {
        outcome.problem = added.error().line();
        return {};
    }
    Result<LogImport> finished = importer.finish();
    if (!finished) {
        outcome.problem = finished.error().line();
        return {};
    }
    lines.finish();
    if (!source.status().complete()) {
        outcome.problem = source.describeFailure() + "; not loaded";
        return {};
    }
    if (added->rejected) {
        outcome.problem = identity.display + ": 这个文件不是标准的IIS日志文件！; not loaded";
        return {};
    }
    const LogImport& imported = *finished;
    previousHeader_ = imported.header;
    for (const std::string& name : imported.header.fieldNames) {
        identity.fields += (identity.fields.empty() ? "" : " ") + name;
    }
    const std::uint64_t records = imported.table.rowCount();
    outcome.records = records;
    const std::uint64_t textBytes = lines.bytes();
    identity.headBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(textBytes, kHeadBytes));
    HeadHash hash;
    hash.feed(std::string_view(head).substr(0, identity.headBytes));
    identity.headHash = hash.value();

    const bool linesKnown = lines.lines().size() == records;
    Coverage coverage = CoverageOf(head, textBytes, byHeadBytes_);
    std::uint64_t covered = coverage.records;
    std::optional<KnownLoad> dropTail;
    if (coverage.last && coverage.last->tail) {
        if (textBytes > coverage.last->endByte) {
            // The unfinished last line has grown: load it again, whole.
            dropTail = coverage.last;
            covered = coverage.last->firstRecord;
        }
    }
    // Records after the loaded ones start where the loaded text ended, or
    // later; anything else means the file was written anew.
    const bool rewritten = covered > records ||
                           (linesKnown && !dropTail && coverage.last && covered > 0 &&
                            covered < records && lines.starts()[covered] < coverage.last->endByte);
    if (rewritten) {
        outcome.problem = identity.display +
                          ": holds other text than what was loaded from it before; not loaded";
        return {};
    }
    if (covered == records) {
        outcome.skipped = true;
        return {};
    }
    if (dropTail) {
        Segment tail;
        tail.first = dropTail->firstRecord;
        tail.end = dropTail->endRecord;
        tail.endByte = dropTail->endByte;
        tail.tail = true;
        if (Result<void> dropped = ledger(dropTail->id, "dropped", identity, tail); !dropped) {
            return dropped;
        }
    }
    const auto startOf = [&](std::uint64_t record) -> std::uint64_t {
        return record >= records ? textBytes : linesKnown ? lines.starts()[record] : 0;
    };
    std::vector<Segment> segments;
    const bool unfinished = linesKnown && lines.lastUnfinished();
    const std::uint64_t bodyEnd = unfinished ? records - 1 : records;
    if (bodyEnd > covered) {
        segments.push_back({covered, bodyEnd, startOf(covered),
                            unfinished ? startOf(bodyEnd) : textBytes, false});
    }
    if (unfinished && records - 1 >= covered) {
        segments.push_back({records - 1, records, startOf(records - 1), textBytes, true});
    }
    const CellMap cells = MapCells(imported);
    for (const Segment& segment : segments) {
        if (Result<void> loaded = loadSegment(imported, cells, lines, linesKnown, identity,
                                              segment, outcome.loaded);
            !loaded) {
            return loaded;
        }
    }
    return {};
}

Result<LoadSummary> Loader::run(LogInputs& inputs) {
    if (Result<void> created = CreateTables(client_, options_.tables); !created) {
        return created.error();
    }
    Result<std::vector<KnownLoad>> known = CountedLoadsOf(client_, options_);
    if (!known) {
        return known.error();
    }
    known_ = std::move(*known);
    for (const KnownLoad& load : known_) {
        byHeadBytes_.emplace(load.headBytes, &load);
    }
    LoadSummary summary;
    for (const InputProblem& problem : inputs.problems()) {
        SourceLoad failed;
        failed.source = problem.error.path;
        failed.problem = problem.error.line();
        summary.sources.push_back(std::move(failed));
        summary.problems = true;
    }
    while (std::unique_ptr<LogSource> source = inputs.next()) {
        SourceLoad& outcome = summary.sources.emplace_back();
        outcome.source = source->name().display();
        if (source->status().ended() && !source->status().complete()) {
            outcome.problem = source->describeFailure();
        } else if (Result<void> loaded = loadSource(*source, outcome); !loaded) {
            summary.rows += outcome.loaded;
            return loaded.error();
        }
        summary.rows += outcome.loaded;
        summary.problems = summary.problems || !outcome.problem.empty();
    }
    return summary;
}

} // namespace

std::string CountedLoads(const WarehouseTables& tables) {
    return "load_id GLOBAL IN (SELECT load_id FROM " + tables.loads +
           " GROUP BY load_id HAVING countIf(state = 'done') > 0 AND countIf(state = 'dropped') = "
           "0)";
}

Result<void> CreateTables(ClickHouseClient& client, const WarehouseTables& tables) {
    for (const std::string& statement : CreateStatements(tables)) {
        if (Result<std::string> created = client.query(statement); !created) {
            return created.error();
        }
    }
    return {};
}

Result<LoadSummary> LoadLogs(ClickHouseClient& client, LogInputs& inputs,
                             const LoadOptions& options) {
    Loader loader(client, options);
    return loader.run(inputs);
}

std::string SourceKey(const std::string& path, const std::string& member) {
    // Name order compares the last component with ASCII letters folded, then
    // as it is, then the whole path; NUL, which no path holds, ends each part
    // so that a shorter part sorts first.
    const auto keyOf = [](std::string_view name) {
        const std::size_t slash = name.rfind('/');
        const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
        std::string key;
        for (const char c : last) {
            key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        key += '\0';
        key.append(last);
        key += '\0';
        key.append(name);
        return key;
    };
    std::string key = keyOf(path);
    if (!member.empty()) {
        key += '\0';
        key += keyOf(member);
    }
    return key;
}

} // namespace logdesk
