#include "csv_format.h"

#include <cerrno>

#include "text/gbk_codec.h"
#include "text/gbk_text.h"
#include "text/text_search.h"

namespace logdesk {

namespace {

// Polled every 4096 rows: a few milliseconds of writing.
bool CancelledAt(std::size_t row, const std::atomic<bool>* cancel) {
    return cancel != nullptr && row % 4096 == 0 && cancel->load(std::memory_order_relaxed);
}

// What a write stopped by its cancel flag gives.
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

Result<void> WriteRecordTable(const RecordTable& table, const std::vector<ColumnIndex>& columns,
                              bool header, LineSink& sink, const std::atomic<bool>* cancel) {
    std::string line;
    auto emit = [&](auto cellOf) {
        line.clear();
        bool first = true;
        for (ColumnIndex column : columns) {
            if (!first) {
                line.push_back(',');
            }
            first = false;
            AppendQuotedCell(line, cellOf(column));
        }
        line.append(kLineEnd);
        return sink.write(line);
    };
    if (header && !emit([&](ColumnIndex c) { return table.columnTitle(c); })) {
        return FailureOf(sink);
    }
    const std::uint32_t rows = table.rowCount();
    for (std::uint32_t r = 0; r < rows; ++r) {
        if (CancelledAt(r, cancel)) {
            return Cancelled();
        }
        if (!emit([&](ColumnIndex c) { return table.cell(RowIndex{r}, c); })) {
            return FailureOf(sink);
        }
    }
    return {};
}

Result<void> WriteTextLines(const std::vector<std::string>& lines, LineSink& sink,
                            const std::atomic<bool>* cancel) {
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
                            LineSink& sink, const std::atomic<bool>* cancel) {
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
