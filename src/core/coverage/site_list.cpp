// Telling the kinds apart, and the two text kinds: plain lists and CSV.
#include "core/coverage/site_list.h"

#include "core/text/gbk_text.h"

#include <array>
#include <optional>

namespace logdesk {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// ASCII case ignored byte by byte: these texts are UTF-8, not GBK.
bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

bool StartsAsUrl(std::string_view line) {
    const auto starts = [line](std::string_view prefix) {
        return line.size() >= prefix.size() && EqualNoCase(line.substr(0, prefix.size()), prefix);
    };
    return starts("http://") || starts("https://");
}

bool LooksLikeXml(std::string_view bytes) {
    if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE")) {
        return true;
    }
    if (bytes.starts_with(kUtf8Mark)) {
        bytes.remove_prefix(kUtf8Mark.size());
    }
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && bytes[first] == '<';
}

// Walks the text a line at a time; lines end in LF, a CR before it dropped.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    // The next line and its number, or nothing at the end.
    std::optional<std::string_view> next() {
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        const std::size_t end = std::min(text_.find('\n', at_), text_.size());
        std::string_view line = text_.substr(at_, end - at_);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        startOfLine_ = at_;
        at_ = end + 1;
        ++number_;
        return line;
    }
    std::uint64_t number() const { return number_; }
    // Where the line next() gave last starts.
    std::size_t startOfLine() const { return startOfLine_; }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t startOfLine_ = 0;
    std::uint64_t number_ = 0;
};

bool Skipped(std::string_view line) {
    line = TrimAsciiBlanks(line);
    return line.empty() || line.front() == '#';
}

Error ListError(const std::string& name, std::uint64_t line, std::string what, std::string cause) {
    return Error{std::move(what), name, "line " + std::to_string(line) + ": " + cause, 0};
}

// RFC 4180 records: fields quoted with '"' may hold the delimiter, line
// breaks and doubled quotes. Bytes after a closing quote up to the next
// delimiter are kept, as spreadsheets do.
class CsvReader {
public:
    CsvReader(std::string_view text, std::uint64_t firstLine, char delimiter)
        : text_(text), line_(firstLine), delimiter_(delimiter) {}

    struct Record {
        std::vector<std::string> fields;
        std::uint64_t line = 0;
    };

    // false at the end of the text; an error for a quote never closed.
    Result<bool> next(Record& record, const std::string& name) {
        if (at_ >= text_.size()) {
            return false;
        }
        record.fields.assign(1, {});
        record.line = line_;
        bool quoted = false;
        std::uint64_t quoteLine = 0;
        for (; at_ < text_.size(); ++at_) {
            const char c = text_[at_];
            if (quoted) {
                if (c == '"') {
                    if (at_ + 1 < text_.size() && text_[at_ + 1] == '"') {
                        record.fields.back() += '"';
                        ++at_;
                    } else {
                        quoted = false;
                    }
                    continue;
                }
                line_ += c == '\n';
                record.fields.back() += c;
            } else if (c == '"') {
                quoted = true;
                quoteLine = line_;
            } else if (c == delimiter_) {
                record.fields.emplace_back();
            } else if (c == '\n') {
                ++at_;
                ++line_;
                break;
            } else {
                record.fields.back() += c;
            }
        }
        if (quoted) {
            return ListError(name, quoteLine, "damaged CSV", "a quoted field is never closed");
        }
        std::string& last = record.fields.back();
        if (last.ends_with('\r')) {
            last.pop_back();
        }
        return true;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    std::uint64_t line_;
    char delimiter_;
};

char CsvDelimiter(std::string_view header) {
    std::array<std::size_t, 3> counts{};
    constexpr std::array<char, 3> kDelimiters{',', ';', '\t'};
    bool quoted = false;
    for (const char c : header) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            for (std::size_t d = 0; d < kDelimiters.size(); ++d) {
                counts[d] += c == kDelimiters[d];
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t d = 1; d < kDelimiters.size(); ++d) {
        if (counts[d] > counts[best]) {
            best = d;
        }
    }
    return kDelimiters[best];
}

Result<SiteList> ParseCsv(std::string_view rest, std::uint64_t headerLine, const std::string& name,
                          std::string_view csvColumn) {
    CsvReader reader(rest, headerLine, CsvDelimiter(rest.substr(0, rest.find('\n'))));
    CsvReader::Record record;
    // The caller saw a header line, so there is a record.
    const Result<bool> header = reader.next(record, name);
    if (!header) {
        return header.error();
    }
    std::optional<std::size_t> column;
    std::string names;
    for (std::size_t c = 0; c < record.fields.size() && !column; ++c) {
        const std::string_view title = TrimAsciiBlanks(record.fields[c]);
        if (csvColumn.empty() ? EqualNoCase(title, "address") || EqualNoCase(title, "url") ||
                                    EqualNoCase(title, "loc")
                              : EqualNoCase(title, TrimAsciiBlanks(csvColumn))) {
            column = c;
        }
        names += (c == 0 ? "" : ", ") + std::string(title);
    }
    if (!column) {
        const std::string wanted = csvColumn.empty() ? "headed Address, URL or loc"
                                                     : "headed \"" + std::string(csvColumn) + "\"";
        return ListError(name, record.line, "no URL column",
                         "the CSV header has no column " + wanted + "; its columns: " + names);
    }
    SiteList list;
    list.kind = SiteListKind::Csv;
    for (;;) {
        const Result<bool> more = reader.next(record, name);
        if (!more) {
            return more.error();
        }
        if (!*more) {
            return list;
        }
        if (*column < record.fields.size()) {
            const std::string_view url = TrimAsciiBlanks(record.fields[*column]);
            if (!url.empty()) {
                list.urls.push_back({std::string(url), record.line});
            }
        }
    }
}

} // namespace

Result<SiteList> ParseSiteList(std::string_view bytes, const std::string& name,
                               std::string_view csvColumn) {
    if (LooksLikeXml(bytes)) {
        return ParseSitemapXml(bytes, name);
    }
    if (bytes.starts_with(kUtf8Mark)) {
        bytes.remove_prefix(kUtf8Mark.size());
    }
    Lines lines(bytes);
    std::optional<std::string_view> line;
    while ((line = lines.next()) && Skipped(*line)) {
    }
    SiteList list;
    if (!line) {
        return list; // nothing but blank lines and comments: an empty list
    }
    if (!StartsAsUrl(TrimAsciiBlanks(*line))) {
        return ParseCsv(bytes.substr(lines.startOfLine()), lines.number(), name, csvColumn);
    }
    do {
        if (!Skipped(*line)) {
            list.urls.push_back({std::string(TrimAsciiBlanks(*line)), lines.number()});
        }
    } while ((line = lines.next()));
    return list;
}

} // namespace logdesk
