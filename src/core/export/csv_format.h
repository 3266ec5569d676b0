// The line format of the program's exports: cells in double quotes (a quote
// inside a cell doubled, so spreadsheets read it back intact) or bare, one
// comma between cells, CR LF after every line.
#pragma once

#include "core/base/cancel_token.h"
#include "line_sink.h"
#include "core/logimport/parallel_work.h"
#include "core/logimport/record_table.h"

#include <string>
#include <string_view>
#include <vector>

namespace logdesk {

inline constexpr std::string_view kLineEnd = "\r\n";

// The record export writes a header line only when the text after the last
// "." of the path, in lower case, is "csv" (so a.CSV, not a.csv.bak).
bool HasCsvExtension(std::string_view path);
// The list exports decide by the last four bytes: ".csv" in any case.
bool EndsWithCsv(std::string_view path);

void AppendQuotedCell(std::string& line, std::string_view cell);

// Whether the record export ticks a column caption by default: it contains
// 访问者身份, 访问者IP, 日期, 时间, URL or "状态码 " (with its blank).
bool IsDefaultExportColumn(std::string_view caption);

// The record number column and the field columns ticked by default.
std::vector<ColumnIndex> DefaultExportColumns(const RecordTable& table);
std::vector<ColumnIndex> AllColumns(const RecordTable& table);

// Writes the chosen columns of every row in the table's order, quoted, with
// the column titles first when `header` is set. The sink's failure ends it;
// so does a cancel of `cancel` (polled every few thousand rows), with an
// error of code ECANCELED, the sink then holding part of the table.
//
// Rows are formatted on the threads `parallel` gives, pieces ahead of the
// one being written, and handed to the sink in row order on the calling
// thread: the bytes are the same on any number of threads.
Result<void> WriteRecordTable(const RecordTable& table, const std::vector<ColumnIndex>& columns,
                              bool header, LineSink& sink, const CancelToken& cancel = {},
                              const Parallelism& parallel = {});

// Every line followed by CR LF, as they are; ends as above.
Result<void> WriteTextLines(const std::vector<std::string>& lines, LineSink& sink,
                            const CancelToken& cancel = {});

// A small table of texts, as statistics pages produce them.
struct TextTable {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows;
};

// csv: header line and quoted cells; otherwise bare cells and no header.
// Ends as above.
Result<void> WriteTextTable(const std::vector<std::string>& headers,
                            const std::vector<std::vector<std::string>>& rows, bool csv,
                            LineSink& sink, const CancelToken& cancel = {});
inline Result<void> WriteTextTable(const TextTable& table, bool csv, LineSink& sink,
                                   const CancelToken& cancel = {}) {
    return WriteTextTable(table.headers, table.rows, csv, sink, cancel);
}

} // namespace logdesk
