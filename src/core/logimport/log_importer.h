// Reading one IIS W3C log file into a RecordTable.
//
// Lines end at LF (one CR before it is dropped); a line whose first byte is
// '#' is a directive, and a directive containing "#Fields:" is a header.
// Every other line, an empty one included, is a data line whose fields are
// separated by single blanks; it is cut or padded to the header's field count.
//
// Choices for what real logs contain:
// - Data lines before the file's first header are split by that header; a
//   file without any header uses the header of the previous import.
// - A later header that repeats the field list changes nothing. One that
//   differs makes the table's columns the last header's fields, followed by
//   the fields of earlier headers that the last one lacks; every cell stands
//   under the column of its own field (matched by name), so no cell ever
//   stands under another field's caption and nothing read is lost.
// - A NUL or 0x1A byte ends the line being read; the run of such bytes (IIS
//   leaves zero-filled blocks after a crash) and a line end right after it
//   count as that one line end, and a run at the start of a line gives no line.
#pragma once

#include "core/base/cancel_token.h"
#include "core/base/result.h"
#include "field_catalogue.h"
#include "record_consumer.h"
#include "record_table.h"
#include "spider_catalogue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

struct ImportOptions {
    // Called now and then with the bytes read so far and the file's size
    // when the import started: on the importing thread, or on the thread
    // that reads beside its splitting, never on two at once (the reader of
    // LogImporter::add is called the same way).
    std::function<void(std::uint64_t read, std::uint64_t total)> progress;
    // Polled between blocks; once it is cancelled the import fails with code
    // ECANCELED.
    CancelToken cancel;
    // Largest buffer the file is read into (cell offsets are 32-bit within a
    // buffer); smaller values exercise lines that cross buffers.
    std::size_t maxChunkBytes = std::size_t{1} << 30;
    // A line this long or longer fails the import with code EFBIG: cells are
    // 32-bit offsets into their buffer. Smaller values let tests reach it.
    std::size_t maxLineBytes = kMaxLineBytes;
    // More records than this fail the import with code EFBIG (records are
    // numbered in 32 bits).
    std::uint32_t maxRecords = kMaxRecords;
    // Threads that split the lines into cells: 0 for one per hardware
    // thread, 1 for the one-thread import. The table is the same either way.
    unsigned threads = 0;
    // Bytes per piece of work of a threaded import (0: chosen from the size
    // and the threads); small values let tests cut a log into many pieces.
    std::size_t rangeBytes = 0;
    // Bytes a threaded import collects before it splits them, reading the
    // next ones meanwhile (0: 64 MiB); small values let tests cut a log into
    // many batches.
    std::size_t batchBytes = 0;
    // The crawlers the user-agent column names: the classic ones, or today's
    // as well; with Classic the table and the tally are those of the classic
    // catalogue alone.
    Crawlers crawlers = Crawlers::Classic;

    // Streaming: records are handed to consumers as they are read instead of
    // being kept, so memory holds a buffer of the log and what the consumers
    // count. Called on the importing thread, once for the whole import and
    // once per piece of work of a threaded import; every call must give
    // consumers of the same kinds in the same order, which the import joins
    // in record order (see record_consumer.h).
    std::function<std::vector<std::unique_ptr<RecordConsumer>>()> makeConsumers;
    // Streaming: the header the log ends with, when an earlier pass found it.
    // Without it a record's cells come from its own header's field of each
    // kind, which is what the table would show unless the headers disagree
    // (see LogImport::streamExact).
    std::optional<HeaderLayout> streamHeader;
    // Streaming: text of lines before the log's first header held while
    // waiting for it; past this much they are read with the header in force
    // before (LogImport::firstHeader says more), so that memory does not
    // grow with a log that has no header.
    std::uint64_t maxStreamedPending = std::uint64_t{16} << 20;
    // Streaming: the log's first header, when an earlier pass found it
    // (LogImport::firstHeader). The lines before it are then streamed with
    // it at once instead of waiting for it.
    std::optional<HeaderLayout> streamFirstHeader;

    static constexpr std::size_t kMaxLineBytes = (std::size_t{1} << 32) - 16;
    static constexpr std::uint32_t kMaxRecords = 0xFFFFFFF0u;
};

// What an import read. A file whose header names no fields is rejected: the
// table then holds what came before that header, and the tally is left
// unfinished.
struct LogImport {
    RecordTable table;
    HeaderLayout header; // the last header mapped (or the previous one)
    SpiderTally tally;   // finished unless the file was rejected
    bool rejected = false;
    std::uint64_t bytesRead = 0;
    // Fields of the log left out of the table because it has kMaxTableColumns
    // columns already; every line keeps its cells in the columns it has.
    std::uint32_t droppedFields = 0;
    // Full crawler identifications run; a log repeats few distinct agents,
    // so this stays far below the row count.
    std::uint64_t agentIdentifications = 0;

    // Streaming imports: the consumers, having taken every record, and how
    // many records they took (the table holds none).
    std::vector<std::unique_ptr<RecordConsumer>> consumers;
    std::uint64_t streamedRecords = 0;
    // False when the consumers were given other cells than the table's
    // columns would hold: the log's headers changed which field of a kind
    // the last header's columns stand for. Reading the same inputs again
    // with ImportOptions::streamHeader = header gives the table's cells.
    bool streamExact = true;
    // Streaming: the first header of the log, when it has one. Lines before
    // it are read with it; a stream does not hold more than a few MB of them
    // while it waits for it, but reads them with the header in force before
    // (streamExact turns false when that was another one).
    std::optional<HeaderLayout> firstHeader;
};

// What reading one input of a LogImporter gave.
struct InputRead {
    std::uint64_t bytes = 0;
    // A header without field names: the input's lines before it are kept,
    // the rest of the input is not read.
    bool rejected = false;
    // Reading failed part-way: the lines read before are kept.
    std::optional<Error> failure;
};

class InputState;

// Imports inputs one after another into one table, read as one log in which
// every input starts on a line of its own: record numbers go on, each
// input's headers apply from where they stand, an input without a header is
// read with the layout in force at its start, and the lines before the first
// header of all are read with it, as in one file. One input gives what
// ImportLogFile gives.
class LogImporter {
public:
    // Called one read at a time, on the importing thread or, beside the
    // splitting of what came before, on a worker thread.
    using Reader = std::function<Result<std::size_t>(char* buffer, std::size_t size)>;

    explicit LogImporter(const HeaderLayout& previousHeader = {},
                         const ImportOptions& options = {});
    ~LogImporter();
    LogImporter(const LogImporter&) = delete;
    LogImporter& operator=(const LogImporter&) = delete;

    // Calls options.progress with each input's own bytes (otherwise the
    // caller's reader reports progress, which knows compressed sizes).
    void reportProgress(bool on) { progressOfInputs_ = on; }

    // Reads one more input to its end; `expectedSize` (0: unknown) sizes the
    // buffers. A failure here ends the whole import (memory, the table's
    // limits, a cancel), and every later call gives it again; a reading
    // failure of the input itself is in InputRead.
    Result<InputRead> add(const Reader& read, std::uint64_t expectedSize);

    // The table of every input added.
    Result<LogImport> finish();

private:
    ImportOptions options_;
    std::unique_ptr<InputState> state_;
    std::optional<Error> failure_;
    bool progressOfInputs_ = false;
};

// A failed import keeps nothing of what it read. Its Error names the file and
// gives the cause, and leaves `what` empty: what failed is reading the log,
// which the caller says in its own words. The code tells the failures apart:
// the errno of opening or reading, ENOMEM when the table did not fit in
// memory, EFBIG when a limit of the table was reached (the cause says which),
// ECANCELED when ImportOptions::cancel turned true.
//
// `path` is a file system path (native bytes). `previousHeader` is the header
// the last import ended with, used for a file that has none of its own.
Result<LogImport> ImportLogFile(const std::string& path, const HeaderLayout& previousHeader = {},
                                const ImportOptions& options = {});

// The same over bytes in memory (read the way a file is); its errors name no
// path.
Result<LogImport> ImportLogBytes(std::string_view bytes, const HeaderLayout& previousHeader = {},
                                 const ImportOptions& options = {});

} // namespace logdesk
