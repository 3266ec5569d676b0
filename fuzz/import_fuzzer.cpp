// The input is a log file. It is imported from memory and, through small
// buffers, from a file; then everything that reads an import runs on the
// table: each statistics page with every crawler filter, the column sorts,
// both exports and the column fitting; the threaded import and the pages
// counted while streaming must equal it. Besides what the sanitizers catch,
// each step is held to what its interface promises about the table.
#include "core/export/csv_format.h"
#include "core/export/line_sink.h"
#include "fuzz_support.h"
#include "core/logimport/log_importer.h"
#include "core/stats/list_sort.h"
#include "core/stats/page_builds.h"
#include "core/stats/stats_sort.h"
#include "core/text/gbk_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace logdesk {
namespace {

// Rows up to which the fast sort is compared with the quadratic reference.
constexpr std::uint32_t kReferenceSortRows = 300;
// Status keys whose URL lists are built per input; each is a pass over the table.
constexpr std::size_t kStatusKeysListed = 8;

// Input without a header of its own is read with the header a previous
// import left, as after opening the bundled sample.
const HeaderLayout& PreviousHeader() {
    static const HeaderLayout header = MapHeader(
        "#Fields: date time s-sitename s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username "
        "c-ip cs(User-Agent) cs(Referer) sc-status sc-substatus sc-win32-status sc-bytes cs-bytes "
        "time-taken");
    return header;
}

std::int64_t Count(const std::string& cell) {
    return AtoI(cell);
}

void CheckSameImport(const LogImport& a, const LogImport& b) {
    FUZZ_CHECK(a.rejected == b.rejected);
    FUZZ_CHECK(a.header == b.header);
    FUZZ_CHECK(a.tally == b.tally);
    FUZZ_CHECK(a.table.rowCount() == b.table.rowCount());
    FUZZ_CHECK(a.table.columnCount() == b.table.columnCount());
    for (int c = 0; c < a.table.columnCount(); ++c) {
        FUZZ_CHECK(a.table.columnTitle(ColumnIndex{c}) == b.table.columnTitle(ColumnIndex{c}));
    }
    for (std::uint32_t r = 0; r < a.table.rowCount(); ++r) {
        for (int c = 0; c < a.table.columnCount(); ++c) {
            FUZZ_CHECK(a.table.cell(RowIndex{r}, ColumnIndex{c}) ==
                       b.table.cell(RowIndex{r}, ColumnIndex{c}));
        }
        FUZZ_CHECK(a.table.data()->spider(RecordIndex{r}) ==
                   b.table.data()->spider(RecordIndex{r}));
    }
}

// The same bytes read from a file through buffers of 16 to 76 bytes, so that
// lines, NUL runs and CR LF pairs straddle buffer edges.
void CheckFileImport(std::string_view bytes, const LogImport& fromMemory) {
    static const std::string path = ScratchPath("import.log");
    WriteScratchFile(path, bytes);
    ImportOptions options;
    options.maxChunkBytes = 16 + bytes.size() % 61;
    const Result<LogImport> fromFile = ImportLogFile(path, PreviousHeader(), options);
    FUZZ_CHECK(fromFile);
    CheckSameImport(fromMemory, *fromFile);
    // Every byte is read, unless a header without field names rejected the
    // log: the rest of it is not read then.
    if (fromFile->rejected) {
        FUZZ_CHECK(fromFile->bytesRead <= bytes.size());
    } else {
        FUZZ_CHECK(fromFile->bytesRead == bytes.size());
    }
}

void CheckTable(const LogImport& result) {
    const RecordTable& table = result.table;
    const int columns = table.columnCount();
    // The header of a log without rows may name fields the empty table has
    // no columns for; no page reads a cell of it.
    if (table.rowCount() > 0) {
        FUZZ_CHECK(columns >= 1);
        for (const std::int32_t column : result.header.fieldMap.values) {
            FUZZ_CHECK(column >= 0 && column < columns);
        }
    }
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        const RowIndex row{r};
        FUZZ_CHECK(table.cell(row, ColumnIndex{0}) == DecimalText(ToInt(table.record(row)) + 1));
        for (int c = 0; c < columns; ++c) {
            const std::string_view cell = table.cell(row, ColumnIndex{c});
            // A line ends at LF, and a NUL or 0x1A run ends it too.
            FUZZ_CHECK(cell.find_first_of(std::string_view("\n\0\x1A", 3)) ==
                       std::string_view::npos);
        }
        FUZZ_CHECK(table.cell(row, ColumnIndex{columns}).empty());
        FUZZ_CHECK(table.cell(row, ColumnIndex{-1}).empty());
    }

    std::set<std::string> names;
    std::int64_t visits = 0;
    for (const SpiderTally::Entry& entry : result.tally.entries()) {
        FUZZ_CHECK(names.insert(entry.name).second);
        FUZZ_CHECK(entry.count > 0);
        visits += entry.count;
    }
    FUZZ_CHECK(visits <= table.rowCount());
}

// Records the URL, IP and status pages count under `filter`.
std::int64_t FilteredRecords(const LogImport& result, const SpiderFilter& filter) {
    if (filter.allTraffic()) {
        return result.table.rowCount();
    }
    const ColumnIndex agent{result.header.fieldMap[FieldSlot::UserAgent]};
    std::int64_t n = 0;
    for (std::uint32_t r = 0; r < result.table.rowCount(); ++r) {
        n += result.table.cell(RowIndex{r}, agent) == *filter.displayName;
    }
    return n;
}

void CheckTrafficPage(const StatsTable& page, const LogImport& result) {
    FUZZ_CHECK(page.headers.size() == static_cast<std::size_t>(result.tally.length()) + 2);
    if (page.rows.empty()) {
        return;
    }
    FUZZ_CHECK(page.rows.size() == 25 && page.summaryRow);
    for (std::size_t c = 1; c < page.headers.size(); ++c) {
        std::int64_t hours = 0;
        for (std::size_t h = 1; h < page.rows.size(); ++h) {
            hours += Count(page.rows[h][c]);
        }
        FUZZ_CHECK(Count(page.rows[0][c]) == hours);
    }
    for (const auto& row : page.rows) {
        std::int64_t spiders = 0;
        for (std::size_t c = 1; c + 1 < row.size(); ++c) {
            spiders += Count(row[c]);
        }
        FUZZ_CHECK(Count(row.back()) == spiders);
    }
    FUZZ_CHECK(Count(page.rows[0].back()) <= result.table.rowCount());
}

// By date: the summary totals the date rows, which are distinct and ascending.
void CheckDaysPage(const StatsTable& page, const LogImport& result) {
    FUZZ_CHECK(page.headers.size() == static_cast<std::size_t>(result.tally.length()) + 2);
    if (page.rows.empty()) {
        return;
    }
    FUZZ_CHECK(page.summaryRow && page.summaryCells.size() + 1 == page.headers.size());
    for (std::size_t c = 1; c < page.headers.size(); ++c) {
        std::int64_t days = 0;
        for (std::size_t d = 1; d < page.rows.size(); ++d) {
            days += Count(page.rows[d][c]);
        }
        FUZZ_CHECK(Count(page.rows[0][c]) == days);
    }
    for (std::size_t d = 2; d < page.rows.size(); ++d) {
        FUZZ_CHECK(page.rows[d - 1][0] < page.rows[d][0]);
    }
    for (const auto& row : page.rows) {
        std::int64_t spiders = 0;
        for (std::size_t c = 1; c + 1 < row.size(); ++c) {
            spiders += Count(row[c]);
        }
        FUZZ_CHECK(Count(row.back()) == spiders);
    }
    FUZZ_CHECK(Count(page.rows[0].back()) <= result.table.rowCount());
}

void CheckUrlPage(const StatsTable& page, std::int64_t counted) {
    if (page.rows.empty()) {
        return;
    }
    FUZZ_CHECK(page.summaryRow);
    FUZZ_CHECK(Count(page.rows[0][1]) == counted);
    std::int64_t visits = 0;
    std::int64_t widest = 0;
    std::set<std::string> urls;
    for (std::size_t r = 1; r < page.rows.size(); ++r) {
        const auto& row = page.rows[r];
        FUZZ_CHECK(urls.insert(row[0]).second);
        const std::int64_t v = Count(row[1]);
        const std::int64_t ips = Count(row[2]);
        FUZZ_CHECK(v >= 1 && ips >= 1 && ips <= v);
        visits += v;
        widest = std::max(widest, ips);
    }
    FUZZ_CHECK(visits == counted);
    const std::int64_t allIps = Count(page.rows[0][2]);
    FUZZ_CHECK(allIps >= widest && allIps <= counted);
}

void CheckIpPage(const StatsTable& page, std::int64_t counted) {
    std::int64_t visits = 0;
    std::set<std::string> ips;
    for (const auto& row : page.rows) {
        FUZZ_CHECK(ips.insert(row[0]).second);
        FUZZ_CHECK(Count(row[1]) >= 1);
        visits += Count(row[1]);
    }
    FUZZ_CHECK(page.rows.empty() || visits == counted);
}

void CheckStatusPage(const StatsTable& page, const LogImport& result, const SpiderFilter& filter,
                     std::int64_t counted) {
    std::int64_t count = 0;
    for (const auto& row : page.rows) {
        count += Count(row[1]);
    }
    FUZZ_CHECK(page.rows.empty() || count == counted);
    const bool urls = result.header.fieldMap[FieldSlot::UriStem] > 0;
    for (std::size_t k = 0; k < std::min(page.rows.size(), kStatusKeysListed); ++k) {
        const auto lines =
            StatusUrlLines(result.table, result.header.fieldMap, page.rows[k][0], filter);
        FUZZ_CHECK(static_cast<std::int64_t>(lines.size()) - 1 ==
                   (urls ? Count(page.rows[k][1]) : 0));
    }
}

void CheckCsvLines(const std::string& text, const std::vector<std::vector<std::string>>& expected) {
    std::size_t at = 0;
    for (const auto& cells : expected) {
        std::vector<std::string> read(1);
        FUZZ_CHECK(at < text.size() && text[at] == '"');
        for (++at;; ++at) {
            FUZZ_CHECK(at < text.size());
            if (text[at] != '"') {
                read.back() += text[at];
            } else if (at + 1 < text.size() && text[at + 1] == '"') {
                read.back() += '"';
                ++at;
            } else if (text.compare(at + 1, 2, ",\"") == 0) {
                read.emplace_back();
                at += 2;
            } else {
                FUZZ_CHECK(text.compare(at + 1, 2, "\r\n") == 0);
                at += 3;
                break;
            }
        }
        FUZZ_CHECK(read == cells);
    }
    FUZZ_CHECK(at == text.size());
}

// The page keeps its rows, only reordered; a summary row stays on top, a
// selected row is followed to its new place, and text columns end up in order.
void CheckPageSort(const StatsTable& page, int column, bool ascending) {
    StatsTable sorted = page;
    const int selected =
        page.summaryRow || page.rows.empty() ? -1 : static_cast<int>(page.rows.size() / 2);
    const int moved = SortStatsPage(sorted, column, ascending, selected);
    FUZZ_CHECK(sorted.headers == page.headers);
    FUZZ_CHECK(sorted.rows.size() == page.rows.size());
    auto before = page.rows;
    auto after = sorted.rows;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    FUZZ_CHECK(before == after);
    if (selected >= 0) {
        FUZZ_CHECK(moved >= 0 && sorted.rows[static_cast<std::size_t>(moved)] ==
                                     page.rows[static_cast<std::size_t>(selected)]);
    }
    const std::size_t first = page.summaryRow && !page.rows.empty() ? 1 : 0;
    if (first == 1) {
        FUZZ_CHECK(sorted.rows[0] == page.rows[0]);
    }
    if (StatsSortKind(page.headers[static_cast<std::size_t>(column)]) == SortKind::Text) {
        for (std::size_t r = first + 1; r < sorted.rows.size(); ++r) {
            const int order =
                CompareSortText(SortKey(sorted.rows[r - 1][static_cast<std::size_t>(column)]),
                                SortKey(sorted.rows[r][static_cast<std::size_t>(column)]));
            FUZZ_CHECK(ascending ? order <= 0 : order >= 0);
        }
    }
}

void CheckPage(const StatsTable& page) {
    for (const auto& row : page.rows) {
        FUZZ_CHECK(row.size() == page.headers.size());
    }
    for (int column = 0; column < std::min<int>(2, static_cast<int>(page.headers.size()));
         ++column) {
        CheckPageSort(page, column, column == 0);
    }

    StringSink csv;
    FUZZ_CHECK(WriteTextTable({page.headers, page.rows}, true, csv));
    std::vector<std::vector<std::string>> lines{page.headers};
    lines.insert(lines.end(), page.rows.begin(), page.rows.end());
    CheckCsvLines(csv.text(), lines);

    StringSink bare;
    FUZZ_CHECK(WriteTextTable({page.headers, page.rows}, false, bare));
    FUZZ_CHECK(static_cast<std::size_t>(std::count(bare.text().begin(), bare.text().end(), '\n')) ==
               page.rows.size());
}

void CheckPages(const LogImport& result) {
    const std::vector<std::string> captions = SpiderFilterCaptions(result.tally);
    FUZZ_CHECK(captions.size() == static_cast<std::size_t>(result.tally.length()) + 1);
    // Tab captions.size() has no tally entry: it counts everything, as tab 0 does.
    for (int tab = 0; tab <= static_cast<int>(captions.size()); ++tab) {
        const SpiderFilter filter = SpiderFilterOfTab(result.tally, tab);
        FUZZ_CHECK(filter.allTraffic() == (tab == 0 || tab > result.tally.length()));
        const std::int64_t counted =
            result.header.fieldMap[FieldSlot::UserAgent] > 0 ? FilteredRecords(result, filter) : 0;
        for (const StatsPage which : {StatsPage::SpiderTraffic, StatsPage::Url, StatsPage::Ip,
                                      StatsPage::Status, StatsPage::SpiderDays}) {
            // The filter changes only the URL, IP and status pages.
            if (tab > 0 && (which == StatsPage::SpiderTraffic || which == StatsPage::SpiderDays)) {
                continue;
            }
            const StatsTable page =
                BuildStatsPage(which, result.table, result.header.fieldMap, result.tally, filter);
            CheckPage(page);
            switch (which) {
            case StatsPage::SpiderTraffic:
                CheckTrafficPage(page, result);
                break;
            case StatsPage::Url:
                CheckUrlPage(page, filter.allTraffic() ? result.table.rowCount() : counted);
                break;
            case StatsPage::Ip:
                CheckIpPage(page, filter.allTraffic() ? result.table.rowCount() : counted);
                break;
            case StatsPage::Status:
                CheckStatusPage(page, result, filter,
                                filter.allTraffic() ? result.table.rowCount() : counted);
                break;
            case StatsPage::SpiderDays:
                CheckDaysPage(page, result);
                break;
            case StatsPage::Timing:
            case StatsPage::Sections:
            case StatsPage::Flapping:
            case StatsPage::Coverage:
                break; // not in the list above
            }
        }
    }
}

// The record list sorted by a column: a permutation of the rows, the same as
// the quadratic insertion it stands for.
void CheckRecordSort(const RecordTable& table, ColumnIndex column, SortKind kind, bool ascending) {
    const std::uint32_t rows = table.rowCount();
    const auto cellOf = [&](std::uint32_t r) { return table.cell(RowIndex{r}, column); };
    const std::vector<std::uint32_t> order = SortOrder(rows, cellOf, kind, ascending);
    FUZZ_CHECK(order.size() == rows);
    std::vector<bool> seen(rows);
    for (const std::uint32_t r : order) {
        FUZZ_CHECK(r < rows && !seen[r]);
        seen[r] = true;
    }
    if (rows <= kReferenceSortRows) {
        std::vector<std::string> keys;
        for (std::uint32_t r = 0; r < rows; ++r) {
            keys.emplace_back(SortKey(cellOf(r)));
        }
        FUZZ_CHECK(order == SortOrderByInsertion(keys, kind, ascending));
    }
}

void CheckRecordExport(const RecordTable& table, const std::vector<ColumnIndex>& columns) {
    StringSink sink;
    FUZZ_CHECK(WriteRecordTable(table, columns, true, sink));
    std::vector<std::vector<std::string>> lines(1);
    for (const ColumnIndex c : columns) {
        lines[0].emplace_back(table.columnTitle(c));
    }
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        auto& cells = lines.emplace_back();
        for (const ColumnIndex c : columns) {
            cells.emplace_back(table.cell(RowIndex{r}, c));
        }
    }
    if (columns.empty()) {
        return; // no cells: nothing to read back
    }
    CheckCsvLines(sink.text(), lines);
}

void CheckLongestCells(const RecordTable& table) {
    const std::vector<RecordIndex> longest = LongestCells(*table.data());
    if (table.rowCount() == 0) {
        FUZZ_CHECK(longest.empty());
        return;
    }
    FUZZ_CHECK(longest.size() == static_cast<std::size_t>(table.columnCount()));
    const RecordData& data = *table.data();
    for (int c = 0; c < table.columnCount(); ++c) {
        const ColumnIndex column{c};
        const std::size_t best = data.cell(longest[static_cast<std::size_t>(c)], column).size();
        for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
            FUZZ_CHECK(data.cell(RecordIndex{r}, column).size() <= best);
        }
    }
}

// The threaded import, cut into ranges of a few bytes, gives the same
// table; the pages counted while the records stream past (through buffers
// reused under every batch) equal the pages of the table.
void CheckThreadedAndStreamed(std::string_view bytes, const LogImport& table) {
    ImportOptions options;
    options.threads = 3;
    options.rangeBytes = 1 + bytes.size() % 37;
    const Result<LogImport> threaded = ImportLogBytes(bytes, PreviousHeader(), options);
    FUZZ_CHECK(threaded);
    CheckSameImport(table, *threaded);

    const StatsPage pages[] = {StatsPage::SpiderTraffic, StatsPage::Url, StatsPage::Ip,
                               StatsPage::Status, StatsPage::SpiderDays};
    const SpiderFilter baidu{SpiderDisplayName(SpiderId::Baidu)};
    options.maxChunkBytes = 16 + bytes.size() % 53;
    options.threads = 1 + bytes.size() % 3;
    // Lines before the first header held for it, or read at once with the
    // header in force before.
    if (bytes.size() % 2 == 0) {
        options.maxStreamedPending = bytes.size() % 29;
    }
    options.makeConsumers = [&] {
        std::vector<std::unique_ptr<RecordConsumer>> consumers;
        for (StatsPage page : pages) {
            consumers.push_back(MakePageAccumulator(page, {}));
            consumers.push_back(MakePageAccumulator(page, baidu));
        }
        return consumers;
    };
    Result<LogImport> streamed = ImportLogBytes(bytes, PreviousHeader(), options);
    FUZZ_CHECK(streamed);
    if (!streamed->streamExact) {
        options.streamHeader = streamed->header;
        options.streamFirstHeader = streamed->firstHeader;
        streamed = ImportLogBytes(bytes, PreviousHeader(), options);
        FUZZ_CHECK(streamed && streamed->streamExact);
    }
    FUZZ_CHECK(streamed->streamedRecords == table.table.rowCount());
    FUZZ_CHECK(streamed->header == table.header && streamed->tally == table.tally);
    for (std::size_t p = 0; p < std::size(pages); ++p) {
        for (int f = 0; f < 2; ++f) {
            const SpiderFilter filter = f == 0 ? SpiderFilter{} : baidu;
            const StatsTable kept = BuildStatsPage(pages[p], table.table, table.header.fieldMap,
                                                   table.tally, filter, {}, {1, 0});
            const StatsTable counted = FinishStreamedPage(
                static_cast<const PageAccumulator&>(*streamed->consumers[p * 2 + f]), pages[p],
                filter, table.header.fieldMap, table.tally);
            FUZZ_CHECK(kept.headers == counted.headers && kept.rows == counted.rows &&
                       kept.summaryCells == counted.summaryCells);
        }
    }
}

} // namespace
} // namespace logdesk

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace logdesk;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Result<LogImport> imported = ImportLogBytes(bytes, PreviousHeader());
    FUZZ_CHECK(imported);
    const LogImport& result = *imported;
    CheckFileImport(bytes, result);
    if (result.table.data() == nullptr) {
        return 0;
    }
    CheckTable(result);
    CheckPages(result);
    CheckThreadedAndStreamed(bytes, result);

    const RecordTable& table = result.table;
    const int columns = table.columnCount();
    for (const int c : {0, 1, columns / 2, columns - 1}) {
        if (c >= 0 && c < columns) {
            CheckRecordSort(table, ColumnIndex{c}, SortKind::Text, true);
            CheckRecordSort(table, ColumnIndex{c}, SortKind::Number, false);
        }
    }
    CheckRecordExport(table, AllColumns(table));
    CheckRecordExport(table, DefaultExportColumns(table));
    CheckLongestCells(table);
    return 0;
}
