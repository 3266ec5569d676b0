#include "core/warehouse/record_rows.h"

#include <charconv>
#include <limits>
#include <span>

namespace logdesk {

namespace {

constexpr std::string_view kHeadColumns[] = {"load_id", "source",  "source_key", "record",
                                              "line",    "crawlers", "crawler"};
constexpr std::string_view kTailColumns[] = {"odd_fields", "odd_values", "other_fields",
                                              "other_values"};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Digits(std::string_view text, std::size_t from, std::size_t count, unsigned& value) {
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

std::optional<std::uint64_t> DateValue(std::string_view text) {
    unsigned y = 0;
    unsigned m = 0;
    unsigned d = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !Digits(text, 0, 4, y) ||
        !Digits(text, 5, 2, m) || !Digits(text, 8, 2, d) || m < 1 || m > 12 || d < 1) {
        return std::nullopt;
    }
    static constexpr unsigned kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kMonthDays[m - 1] + (m == 2 && leap ? 1 : 0)) {
        return std::nullopt;
    }
    const std::int64_t days = DaysFromCivil(y, m, d);
    if (days < 1 || days > DaysFromCivil(2105, 12, 31)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(days);
}

std::optional<std::uint64_t> TimeValue(std::string_view text) {
    unsigned h = 0;
    unsigned m = 0;
    unsigned s = 0;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !Digits(text, 0, 2, h) ||
        !Digits(text, 3, 2, m) || !Digits(text, 6, 2, s) || h > 23 || m > 59 || s > 59) {
        return std::nullopt;
    }
    return std::uint64_t{h} * 3600 + m * 60 + s;
}

std::optional<std::uint64_t> NumberValue(std::string_view text, std::uint64_t most) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > most) {
        return std::nullopt;
    }
    return value;
}

// A text cell of TabSeparated: `quoted` inside an array's quotes.
void AppendEscaped(std::string_view text, bool quoted, std::string& out) {
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\'':
            if (quoted) {
                out += "\\'";
            } else {
                out += c;
            }
            break;
        default: out += c;
        }
    }
}

template <typename Texts> void AppendTsvArrayOf(const Texts& texts, std::string& out) {
    out += '[';
    bool first = true;
    for (const std::string_view text : texts) {
        out += first ? "'" : ",'";
        first = false;
        AppendEscaped(text, true, out);
        out += '\'';
    }
    out += ']';
}

void AppendVarUInt(std::uint64_t value, std::string& out) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

template <typename T> void AppendLittle(T value, std::string& out) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out += static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i) & 0xFF);
    }
}

void AppendBinaryText(std::string_view text, std::string& out) {
    AppendVarUInt(text.size(), out);
    out.append(text);
}

template <typename Texts> void AppendBinaryArray(const Texts& texts, std::string& out) {
    AppendVarUInt(texts.size(), out);
    for (const std::string_view text : texts) {
        AppendBinaryText(text, out);
    }
}

void AppendBinaryValue(CellType type, std::uint64_t value, std::string& out) {
    switch (type) {
    case CellType::Date: AppendLittle(static_cast<std::uint16_t>(value), out); break;
    case CellType::Time:
    case CellType::UInt32: AppendLittle(static_cast<std::uint32_t>(value), out); break;
    case CellType::UInt16: AppendLittle(static_cast<std::uint16_t>(value), out); break;
    case CellType::UInt64: AppendLittle(value, out); break;
    case CellType::Text: break;
    }
}

std::string_view CrawlersName(Crawlers crawlers) {
    return crawlers == Crawlers::All ? "all" : "classic";
}

} // namespace

void AppendTsvText(std::string_view text, std::string& out) {
    AppendEscaped(text, false, out);
}

void AppendTsvArray(const std::vector<std::string_view>& texts, std::string& out) {
    AppendTsvArrayOf(texts, out);
}

const std::string& RecordColumnList() {
    static const std::string list = [] {
        std::string text;
        const auto add = [&text](std::string_view name) {
            text += text.empty() ? "" : ", ";
            text += name;
        };
        for (const std::string_view name : kHeadColumns) {
            add(name);
        }
        for (const CellColumn& column : kCellColumns) {
            add(column.name);
        }
        for (const std::string_view name : kTailColumns) {
            add(name);
        }
        return text;
    }();
    return list;
}

std::optional<std::uint64_t> TypedValue(CellType type, std::string_view text) {
    switch (type) {
    case CellType::Date: return DateValue(text);
    case CellType::Time: return TimeValue(text);
    case CellType::UInt16: return NumberValue(text, std::numeric_limits<std::uint16_t>::max());
    case CellType::UInt32: return NumberValue(text, std::numeric_limits<std::uint32_t>::max());
    case CellType::UInt64: return NumberValue(text, std::numeric_limits<std::uint64_t>::max());
    case CellType::Text: break;
    }
    return std::nullopt;
}

std::string_view FormatName(RowFormat format) {
    return format == RowFormat::RowBinary ? "RowBinary" : "TabSeparated";
}

void EncodeRow(const RecordRow& row, RowFormat format, std::string& out) {
    std::array<std::string_view, kCellColumnCount> oddFields;
    std::array<std::string_view, kCellColumnCount> oddValues;
    std::size_t odd = 0;
    std::array<std::uint64_t, kCellColumnCount> values{};
    for (std::size_t c = 0; c < kCellColumnCount; ++c) {
        const CellColumn& column = kCellColumns[c];
        if (column.type == CellType::Text || !row.cells[c]) {
            continue;
        }
        if (const std::optional<std::uint64_t> value = TypedValue(column.type, *row.cells[c])) {
            values[c] = *value;
        } else {
            oddFields[odd] = column.name;
            oddValues[odd++] = *row.cells[c];
        }
    }
    const std::span<const std::string_view> fields(oddFields.data(), odd);
    const std::span<const std::string_view> texts(oddValues.data(), odd);
    std::vector<std::string_view> otherNames;
    std::vector<std::string_view> otherCells;
    otherNames.reserve(row.others.size());
    otherCells.reserve(row.others.size());
    for (const auto& [name, cell] : row.others) {
        otherNames.push_back(name);
        otherCells.push_back(cell);
    }

    if (format == RowFormat::RowBinary) {
        AppendLittle(row.loadId, out);
        AppendBinaryText(row.source, out);
        AppendBinaryText(row.sourceKey, out);
        AppendLittle(row.record, out);
        AppendLittle(row.line, out);
        AppendLittle(static_cast<std::int8_t>(row.crawlers == Crawlers::All ? 2 : 1), out);
        AppendBinaryText(row.crawler, out);
        for (std::size_t c = 0; c < kCellColumnCount; ++c) {
            const CellColumn& column = kCellColumns[c];
            if (column.type == CellType::Text) {
                AppendBinaryText(row.cells[c].value_or(std::string_view()), out);
            } else {
                AppendBinaryValue(column.type, values[c], out);
            }
        }
        AppendBinaryArray(fields, out);
        AppendBinaryArray(texts, out);
        AppendBinaryArray(otherNames, out);
        AppendBinaryArray(otherCells, out);
        return;
    }

    char number[24];
    const auto appendNumber = [&](std::uint64_t value) {
        const auto end = std::to_chars(number, number + sizeof number, value).ptr;
        out.append(number, end);
    };
    appendNumber(row.loadId);
    out += '\t';
    AppendEscaped(row.source, false, out);
    out += '\t';
    AppendEscaped(row.sourceKey, false, out);
    out += '\t';
    appendNumber(row.record);
    out += '\t';
    appendNumber(row.line);
    out += '\t';
    out += CrawlersName(row.crawlers);
    out += '\t';
    AppendEscaped(row.crawler, false, out);
    for (std::size_t c = 0; c < kCellColumnCount; ++c) {
        out += '\t';
        const CellColumn& column = kCellColumns[c];
        if (column.type == CellType::Text) {
            AppendEscaped(row.cells[c].value_or(std::string_view()), false, out);
        } else if (column.type == CellType::Date) {
            // The cell itself where it is the date's text.
            const bool canonical = row.cells[c] && values[c] != 0;
            out += canonical ? *row.cells[c] : std::string_view("0000-00-00");
        } else {
            appendNumber(values[c]);
        }
    }
    out += '\t';
    AppendTsvArrayOf(fields, out);
    out += '\t';
    AppendTsvArrayOf(texts, out);
    out += '\t';
    AppendTsvArrayOf(otherNames, out);
    out += '\t';
    AppendTsvArrayOf(otherCells, out);
    out += '\n';
}

std::string UnescapeTabSeparated(std::string_view cell) {
    std::string out;
    out.reserve(cell.size());
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] != '\\' || i + 1 == cell.size()) {
            out += cell[i];
            continue;
        }
        const char next = cell[++i];
        switch (next) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        default: out += next; // \\, \' and anything else stands for itself
        }
    }
    return out;
}

std::vector<std::string> SplitTabSeparatedLine(std::string_view line) {
    std::vector<std::string> cells;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        cells.push_back(UnescapeTabSeparated(line.substr(at, tab - at)));
        if (tab == std::string_view::npos) {
            return cells;
        }
        at = tab + 1;
    }
}

} // namespace logdesk
