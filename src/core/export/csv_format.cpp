#include "csv_format.h"

#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/text/text_search.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace logdesk {

namespace {

// Polled every 4096 rows: a few milliseconds of writing.
bool CancelledAt(std::size_t row, const CancelToken& cancel) {
    return row % 4096 == 0 && cancel.cancelled();
}

bool CancelRequested(const CancelToken& cancel) {
    return cancel.cancelled();
}

// What a write stopped by its cancel token gives.
Error Cancelled() {
    return SystemError(ECANCELED, "cancelled");
}

} // namespace

bool HasCsvExtension(std::string_view path) {
    const TextPos dot = FindLastChar(path, '.');
    const std::string_view extension =
        dot == kNotFound ? std::string_view() : path.substr(static_cast<std::size_t>(dot));
    return EqualsIgnoreAsciiCase(extension, "csv");
}

bool EndsWithCsv(std::string_view path) {
    return path.size() >= 4 && EqualsIgnoreAsciiCase(path.substr(path.size() - 4), ".csv");
}

void AppendQuotedCell(std::string& line, std::string_view cell) {
    line.push_back('"');
    std::size_t from = 0;
    for (std::size_t q = cell.find('"'); q != std::string_view::npos; q = cell.find('"', from)) {
        line.append(cell.substr(from, q + 1 - from));
        line.push_back('"');
        from = q + 1;
    }
    line.append(cell.substr(from));
    line.push_back('"');
}

bool IsDefaultExportColumn(std::string_view caption) {
    static const std::string alternatives =
        Gbk("访问者身份[fg]访问者IP[fg]日期[fg]时间[fg]URL[fg]状态码 ");
    return MatchAlternatives(caption, alternatives, true);
}

std::vector<ColumnIndex> DefaultExportColumns(const RecordTable& table) {
    std::vector<ColumnIndex> columns;
    for (int c = 0; c < table.columnCount(); ++c) {
        if (c == 0 || IsDefaultExportColumn(table.columnTitle(ColumnIndex{c}))) {
            columns.push_back(ColumnIndex{c});
        }
    }
    return columns;
}

std::vector<ColumnIndex> AllColumns(const RecordTable& table) {
    std::vector<ColumnIndex> columns;
    for (int c = 0; c < table.columnCount(); ++c) {
        columns.push_back(ColumnIndex{c});
    }
    return columns;
}

namespace {

// The quoted cells of one row and its line end, appended to `out`. Cells are
// read through cellsOf: one look-up per row for every chosen column.
void AppendRecordLine(const RecordTable& table, std::uint32_t row,
                      const std::vector<ColumnIndex>& columns, std::vector<std::string_view>& cells,
                      std::string& out) {
    table.data()->cellsOf(table.record(RowIndex{row}), columns.data(), columns.size(),
                          cells.data());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c > 0) {
            out.push_back(',');
        }
        AppendQuotedCell(out, cells[c]);
    }
    out.append(kLineEnd);
}

// Rows per piece of a threaded export, and pieces formatted ahead of the
// one being written: memory stays a few megabytes whatever the table.
constexpr std::uint32_t kRowsPerPiece = 8192;
constexpr std::size_t kPiecesAhead = 4;

// Formats pieces of rows on every thread and hands them to the sink in row
// order, on the calling thread, which formats too while the next piece to
// write is not ready.
class OrderedExport {
public:
    OrderedExport(const RecordTable& table, const std::vector<ColumnIndex>& columns, LineSink& sink,
                  const CancelToken& cancel, unsigned threads)
        : table_(table), columns_(columns), sink_(sink), cancel_(cancel), threads_(threads),
          pieces_((std::size_t{table.rowCount()} + kRowsPerPiece - 1) / kRowsPerPiece),
          window_(std::max<std::size_t>(kPiecesAhead, 2 * std::size_t{threads})), slots_(window_) {}

    Result<void> run();

private:
    struct Slot {
        std::string text;
        std::vector<std::uint32_t> lineEnds;
        bool ready = false;
    };

    // Claims the next piece to format, when one may be claimed now.
    std::optional<std::size_t> claim() {
        if (stop_ || next_ >= pieces_ || next_ >= written_ + window_) {
            return std::nullopt;
        }
        return next_++;
    }
    void format(std::size_t piece);
    // Formats a claimed piece with the lock released and marks it ready;
    // false when formatting failed (the failure is kept, the work stops).
    bool formatClaimed(std::size_t piece, std::unique_lock<std::mutex>& lock);
    void helper();

    const RecordTable& table_;
    const std::vector<ColumnIndex>& columns_;
    LineSink& sink_;
    CancelToken cancel_;
    const unsigned threads_;
    const std::size_t pieces_;
    const std::size_t window_;
    std::vector<Slot> slots_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t next_ = 0;    // first piece not claimed
    std::size_t written_ = 0; // first piece not written
    bool stop_ = false;
    std::exception_ptr failure_;
};

void OrderedExport::format(std::size_t piece) {
    Slot& slot = slots_[piece % window_];
    slot.text.clear();
    slot.lineEnds.clear();
    std::vector<std::string_view> cells(columns_.size());
    const auto first = static_cast<std::uint32_t>(piece * kRowsPerPiece);
    const std::uint32_t last = std::min(table_.rowCount(), first + kRowsPerPiece);
    for (std::uint32_t r = first; r < last; ++r) {
        AppendRecordLine(table_, r, columns_, cells, slot.text);
        slot.lineEnds.push_back(static_cast<std::uint32_t>(slot.text.size()));
    }
}

bool OrderedExport::formatClaimed(std::size_t piece, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::exception_ptr failed;
    try {
        format(piece);
    } catch (...) {
        failed = std::current_exception();
    }
    lock.lock();
    if (failed) {
        failure_ = failed;
        stop_ = true;
    } else {
        slots_[piece % window_].ready = true;
    }
    changed_.notify_all();
    return !failed;
}

void OrderedExport::helper() {
    std::unique_lock lock(lock_);
    for (;;) {
        changed_.wait(lock,
                      [&] { return stop_ || next_ >= pieces_ || next_ < written_ + window_; });
        const std::optional<std::size_t> piece = claim();
        if (!piece) {
            if (stop_ || next_ >= pieces_) {
                return;
            }
            continue;
        }
        if (!formatClaimed(*piece, lock)) {
            return;
        }
    }
}

Result<void> OrderedExport::run() {
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads_; ++t) {
        try {
            helpers.emplace_back([this] { helper(); });
        } catch (const std::system_error&) {
            break; // the threads started, and this one, share the work
        }
    }
    Result<void> outcome;
    std::unique_lock lock(lock_);
    while (written_ < pieces_ && !stop_) {
        Slot& slot = slots_[written_ % window_];
        if (!slot.ready) {
            if (const std::optional<std::size_t> piece = claim()) {
                if (!formatClaimed(*piece, lock)) {
                    break;
                }
            } else {
                changed_.wait(lock, [&] { return slot.ready || stop_; });
            }
            continue;
        }
        lock.unlock();
        // Whole lines, one at a time, as every writer hands them to a sink.
        std::size_t from = 0;
        bool ok = !CancelRequested(cancel_);
        if (!ok) {
            outcome = Cancelled();
        }
        for (std::size_t i = 0; ok && i < slot.lineEnds.size(); ++i) {
            ok = sink_.write(std::string_view(slot.text).substr(from, slot.lineEnds[i] - from));
            from = slot.lineEnds[i];
            if (!ok) {
                outcome = FailureOf(sink_);
            }
        }
        lock.lock();
        slot.ready = false;
        ++written_;
        if (!ok) {
            stop_ = true;
        }
        changed_.notify_all();
    }
    stop_ = true;
    changed_.notify_all();
    lock.unlock();
    for (std::thread& t : helpers) {
        t.join();
    }
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    return outcome;
}

} // namespace

Result<void> WriteRecordTable(const RecordTable& table, const std::vector<ColumnIndex>& columns,
                              bool header, LineSink& sink, const CancelToken& cancel,
                              const Parallelism& parallel) {
    std::string line;
    if (header) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c > 0) {
                line.push_back(',');
            }
            AppendQuotedCell(line, table.columnTitle(columns[c]));
        }
        line.append(kLineEnd);
        if (!sink.write(line)) {
            return FailureOf(sink);
        }
    }
    const std::uint32_t rows = table.rowCount();
    const unsigned threads = WorkThreads(parallel.threads);
    if (threads > 1 && rows > 2 * kRowsPerPiece) {
        return OrderedExport(table, columns, sink, cancel, threads).run();
    }
    std::vector<std::string_view> cells(columns.size());
    for (std::uint32_t r = 0; r < rows; ++r) {
        if (CancelledAt(r, cancel)) {
            return Cancelled();
        }
        line.clear();
        AppendRecordLine(table, r, columns, cells, line);
        if (!sink.write(line)) {
            return FailureOf(sink);
        }
    }
    return {};
}

Result<void> WriteTextLines(const std::vector<std::string>& lines, LineSink& sink,
                            const CancelToken& cancel) {
    std::string line;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (CancelledAt(i, cancel)) {
            return Cancelled();
        }
        line.assign(lines[i]).append(kLineEnd);
        if (!sink.write(line)) {
            return FailureOf(sink);
        }
    }
    return {};
}

Result<void> WriteTextTable(const std::vector<std::string>& headers,
                            const std::vector<std::vector<std::string>>& rows, bool csv,
                            LineSink& sink, const CancelToken& cancel) {
    std::string line;
    auto emit = [&](const std::vector<std::string>& cells, bool quoted) {
        line.clear();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) {
                line.push_back(',');
            }
            if (quoted) {
                AppendQuotedCell(line, cells[i]);
            } else {
                line.append(cells[i]);
            }
        }
        line.append(kLineEnd);
        return sink.write(line);
    };
    if (csv && !emit(headers, true)) {
        return FailureOf(sink);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (CancelledAt(r, cancel)) {
            return Cancelled();
        }
        if (!emit(rows[r], csv)) {
            return FailureOf(sink);
        }
    }
    return {};
}

} // namespace logdesk
