#include "core/warehouse/warehouse_pages.h"

#include "core/text/gbk_codec.h"
#include "core/warehouse/record_rows.h"
#include "core/warehouse/warehouse_loader.h"

#include <array>
#include <cerrno>
#include <map>

namespace logdesk {

namespace {

// A cell as logged: the odd text where the typed column could not hold it.
std::string CellText(std::string_view column, std::string_view typed) {
    const std::string name(column);
    return "if(has(odd_fields, '" + name + "'), odd_values[indexOf(odd_fields, '" + name +
           "')], " + std::string(typed) + ")";
}

std::string CrawlersCondition(const ServerRecords& records) {
    return std::string("crawlers = '") +
           (records.crawlers == Crawlers::All ? "all" : "classic") + "'";
}

std::string Where(const ServerRecords& records, const SpiderFilter& filter) {
    std::string where = CountedLoads(records.tables) + " AND " + CrawlersCondition(records);
    if (records.since || records.until) {
        where += " AND date != toDate(0)";
    }
    if (records.since) {
        where += " AND date >= toDate(" + SqlText(*records.since) + ")";
    }
    if (records.until) {
        where += " AND date <= toDate(" + SqlText(*records.until) + ")";
    }
    if (filter.displayName) {
        where += " AND crawler = " + SqlText(GbkToUtf8(*filter.displayName));
    }
    return where;
}

std::string Replace(std::string text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The lines of a TabSeparated answer.
template <typename Visit> void ForEachLine(std::string_view answer, Visit&& visit) {
    while (!answer.empty()) {
        const std::size_t end = std::min(answer.find('\n'), answer.size());
        visit(answer.substr(0, end));
        answer.remove_prefix(std::min(answer.size(), end + 1));
    }
}

// The catalogue crawler of a name as the table holds it (UTF-8).
const SpiderInfo* CrawlerNamed(std::string_view utf8) {
    static const std::map<std::string, const SpiderInfo*, std::less<>> byName = [] {
        std::map<std::string, const SpiderInfo*, std::less<>> names;
        for (const SpiderInfo& spider : SpiderCatalogue()) {
            names.emplace(GbkToUtf8(spider.displayName), &spider);
        }
        return names;
    }();
    const auto it = byName.find(utf8);
    return it == byName.end() ? nullptr : it->second;
}

Error Unexpected(const ClickHouseClient& client, std::string what) {
    return Error{"ClickHouse", client.server().url, "an unexpected answer: " + std::move(what),
                 EPROTO};
}

} // namespace

Result<SpiderTally> ServerTally(ClickHouseClient& client, const ServerRecords& records) {
    const Result<std::string> answer =
        client.query("SELECT crawler, count() FROM " + records.tables.records + " WHERE " +
                     Where(records, {}) + " AND crawler != '' GROUP BY crawler FORMAT TabSeparated");
    if (!answer) {
        return answer.error();
    }
    SpiderTally tally;
    std::optional<Error> bad;
    ForEachLine(*answer, [&](std::string_view line) {
        const std::vector<std::string> cells = SplitTabSeparatedLine(line);
        const SpiderInfo* spider = cells.size() == 2 ? CrawlerNamed(cells[0]) : nullptr;
        if (spider == nullptr) {
            bad = Unexpected(client, "a crawler outside the catalogue");
            return;
        }
        tally.count(spider->displayName, static_cast<std::int32_t>(std::stoll(cells[1])));
    });
    if (bad) {
        return *bad;
    }
    tally.finish();
    return tally;
}

Result<FieldMap> ServerFields(ClickHouseClient& client, const ServerRecords& records) {
    const Result<std::string> answer = client.query(
        "SELECT arrayStringConcat(any(fields), ' ') FROM " + records.tables.loads + " WHERE " +
        CrawlersCondition(records) +
        " GROUP BY load_id HAVING countIf(state = 'done') > 0 AND countIf(state = 'dropped') = 0 "
        "ORDER BY any(source_key) DESC, any(end_record) DESC LIMIT 1 FORMAT TabSeparated");
    if (!answer) {
        return answer.error();
    }
    std::string names = *answer;
    while (!names.empty() && names.back() == '\n') {
        names.pop_back();
    }
    if (names.empty()) {
        return FieldMap{};
    }
    return MapHeader("#Fields: " + UnescapeTabSeparated(names)).fieldMap;
}

std::string ServerPageQuery(const StatsPageEntry& entry, const ServerRecords& records,
                            const SpiderFilter& filter) {
    std::string query(entry.warehouseQuery);
    query = Replace(std::move(query), "{records}", records.tables.records);
    query = Replace(std::move(query), "{where}", Where(records, filter));
    query = Replace(std::move(query), "{date}", CellText("date", "toString(date)"));
    query = Replace(std::move(query), "{hour}",
                    "if(has(odd_fields, 'time'), substring(odd_values[indexOf(odd_fields, 'time')], "
                    "1, 2), toString(intDiv(time, 3600)))");
    query = Replace(std::move(query), "{status}", CellText("sc_status", "toString(sc_status)"));
    query = Replace(std::move(query), "{win32}",
                    CellText("sc_win32_status", "toString(sc_win32_status)"));
    query = Replace(std::move(query), "{first}", "min(tuple(source_key, record))");
    return query + " FORMAT TabSeparated";
}

Result<StatsTable> ServerPage(ClickHouseClient& client, const StatsPageEntry& entry,
                              const PageRequest& request, const ServerRecords& records,
                              const FieldMap& fields, const SpiderTally& tally) {
    const std::unique_ptr<PageAccumulator> accumulator = entry.makeAccumulator(request);
    const Result<std::string> answer =
        client.query(ServerPageQuery(entry, records, request.filter));
    if (!answer) {
        return answer.error();
    }
    std::optional<Error> bad;
    std::array<PageRecord, RecordConsumer::kBatch> batch;
    ForEachLine(*answer, [&](std::string_view line) {
        if (bad) {
            return;
        }
        const std::vector<std::string> cells = SplitTabSeparatedLine(line);
        if (cells.size() < 8) {
            bad = Unexpected(client, "too few columns");
            return;
        }
        PageRecord record;
        if (!cells[1].empty()) {
            const SpiderInfo* spider = CrawlerNamed(cells[1]);
            if (spider == nullptr) {
                bad = Unexpected(client, "a crawler outside the catalogue");
                return;
            }
            record.spider = spider->id;
            record.agent = spider->displayName;
        }
        record.date = cells[2];
        record.time = cells[3];
        record.url = cells[4];
        record.ip = cells[5];
        record.status = cells[6];
        record.win32 = cells[7];
        batch.fill(record);
        for (std::uint64_t left = std::stoull(cells[0]); left > 0;) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(left, RecordConsumer::kBatch));
            accumulator->addBatch(batch.data(), n);
            left -= n;
        }
    });
    if (bad) {
        return *bad;
    }
    return FinishStreamedPage(*accumulator, entry.page, request, fields, tally);
}

} // namespace logdesk
