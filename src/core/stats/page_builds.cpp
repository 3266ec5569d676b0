#include "page_builds.h"

#include "cancellable_sort.h"
#include "logimport/longest_cells.h"
#include "status_tables.h"
#include "text/gbk_codec.h"
#include "text/gbk_text.h"
#include "text/regex_engine.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <unordered_map>

namespace logdesk {

namespace {

// Distinct texts in order of first occurrence, each numbered from 0 in that
// order. Open addressing over copies of the texts kept together, each behind
// its length: a look-up touches its slot and one kept copy, a few megabytes
// in all, instead of a cell's scattered place in the log's buffers.
class FirstSeen {
public:
    FirstSeen() : slots_(16) {}

    static std::uint32_t Hash(std::string_view text) {
        return static_cast<std::uint32_t>(std::hash<std::string_view>{}(text));
    }
    // Starts fetching the slot a text of this hash is looked up in.
    void prefetch(std::uint32_t hash) const {
        __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }
    std::uint32_t add(std::string_view text) { return add(text, Hash(text)); }
    // `hash` is Hash(text).
    std::uint32_t add(std::string_view text, std::uint32_t hash) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.kept == nullptr) {
                const auto id = static_cast<std::uint32_t>(texts_.size());
                slot = {hash, id, keep(text)};
                texts_.push_back(Kept(slot.kept));
                if (texts_.size() * 2 > slots_.size()) {
                    grow();
                }
                return id;
            }
            if (slot.hash == hash && Kept(slot.kept) == text) {
                return slot.id;
            }
        }
    }
    std::size_t size() const { return texts_.size(); }
    std::string_view text(std::size_t id) const { return texts_[id]; }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t id = 0;
        const char* kept = nullptr; // null: free
    };
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
    static constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);

    static std::string_view Kept(const char* kept) {
        std::uint32_t length = 0;
        std::memcpy(&length, kept, kLengthBytes);
        return {kept + kLengthBytes, length};
    }

    const char* keep(std::string_view text) {
        const std::size_t bytes = kLengthBytes + text.size();
        if (bytes > blockFree_) {
            blockFree_ = std::max(kBlockBytes, bytes);
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockFree_));
            blockNext_ = blocks_.back().get();
        }
        char* kept = blockNext_;
        const auto length = static_cast<std::uint32_t>(text.size());
        std::memcpy(kept, &length, kLengthBytes);
        std::copy(text.begin(), text.end(), kept + kLengthBytes);
        blockNext_ += bytes;
        blockFree_ -= bytes;
        return kept;
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.kept != nullptr) {
                std::size_t i = slot.hash & mask;
                while (slots_[i].kept != nullptr) {
                    i = (i + 1) & mask;
                }
                slots_[i] = slot;
            }
        }
    }

    std::vector<Slot> slots_;
    std::vector<std::string_view> texts_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* blockNext_ = nullptr;
    std::size_t blockFree_ = 0;
};

// The table column of a field, or none when the log lacks the field.
std::optional<ColumnIndex> FieldColumn(const FieldMap& fields, FieldSlot slot) {
    if (fields[slot] <= 0) {
        return std::nullopt;
    }
    return ColumnIndex{fields[slot]};
}

std::vector<std::string> Headers(std::initializer_list<std::string_view> utf8) {
    std::vector<std::string> headers;
    for (std::string_view caption : utf8) {
        headers.push_back(Gbk(caption));
    }
    return headers;
}

// Hour bucket 1..24 from the first two bytes of a time cell.
int HourRow(std::string_view time) {
    const int row = AtoI(time.substr(0, 2)) + 1;
    return row < 1 || row > 24 ? 1 : row;
}

} // namespace

std::vector<std::string> SpiderShortNames(const SpiderTally& tally) {
    RegexEngine engine;
    engine.SetPattern("(.*)\\(.*");
    std::vector<std::string> names;
    names.reserve(tally.entries().size());
    for (const SpiderTally::Entry& entry : tally.entries()) {
        names.push_back(engine.Replace(entry.name, "$1"));
    }
    return names;
}

std::vector<std::string> SpiderFilterCaptions(const SpiderTally& tally) {
    std::vector<std::string> captions{Gbk("所有流量")};
    for (std::string& name : SpiderShortNames(tally)) {
        captions.push_back(std::move(name));
    }
    return captions;
}

SpiderFilter SpiderFilterOfTab(const SpiderTally& tally, int tab) {
    if (tab < 1 || tab > tally.length()) {
        return {};
    }
    return {tally.entry(tab).name};
}

StatsTable BuildSpiderTrafficPage(const RecordTable& table, const FieldMap& fields,
                                  const SpiderTally& tally, const std::atomic<bool>* cancel) {
    StatsTable page;
    page.headers.push_back(Gbk("时间"));
    for (std::string& name : SpiderShortNames(tally)) {
        page.headers.push_back(std::move(name));
    }
    page.headers.push_back(Gbk("流量汇总"));

    const auto agentColumn = FieldColumn(fields, FieldSlot::UserAgent);
    const auto timeColumn = FieldColumn(fields, FieldSlot::Time);
    if (agentColumn && !timeColumn) {
        return page;
    }

    const std::size_t spiders = tally.entries().size();
    // Tally position of each display name; the first of equal names counts.
    std::unordered_map<std::string_view, std::size_t> positions;
    for (std::size_t i = 0; i < spiders; ++i) {
        positions.emplace(tally.entries()[i].name, i);
    }
    // perSpider[tally position][hour row - 1].
    std::vector<std::array<std::int64_t, 24>> perSpider(spiders, std::array<std::int64_t, 24>{});
    if (agentColumn && spiders > 0) {
        for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
            if (CancelRequestedAt(r, cancel)) {
                return page;
            }
            const RowIndex row{r};
            const auto found = positions.find(table.cell(row, *agentColumn));
            if (found != positions.end()) {
                ++perSpider[found->second]
                           [static_cast<std::size_t>(HourRow(table.cell(row, *timeColumn)) - 1)];
            }
        }
    }

    std::vector<std::string> total{Gbk("全天")};
    std::int64_t allDay = 0;
    for (const auto& hours : perSpider) {
        std::int64_t sum = 0;
        for (std::int64_t visits : hours) {
            sum += visits;
        }
        total.push_back(DecimalText(sum));
        allDay += sum;
    }
    total.push_back(DecimalText(allDay));
    page.rows.push_back(std::move(total));

    const std::string hourSuffix = Gbk("时");
    for (std::size_t h = 0; h < 24; ++h) {
        std::vector<std::string> row{DecimalText(static_cast<std::int64_t>(h) + 1) + hourSuffix};
        std::int64_t sum = 0;
        for (const auto& hours : perSpider) {
            row.push_back(DecimalText(hours[h]));
            sum += hours[h];
        }
        row.push_back(DecimalText(sum));
        page.rows.push_back(std::move(row));
    }

    page.summaryRow = true;
    for (int c = 1; c < static_cast<int>(page.headers.size()); ++c) {
        page.redCells.emplace_back(0, c);
    }
    return page;
}

StatsTable BuildUrlPage(const RecordTable& table, const FieldMap& fields,
                        const SpiderFilter& filter, const std::atomic<bool>* cancel) {
    StatsTable page;
    page.headers = Headers({"URL", "访问次数", "独立IP数"});

    const auto urlColumn = FieldColumn(fields, FieldSlot::UriStem);
    const auto ipColumn = FieldColumn(fields, FieldSlot::ClientIp);
    const auto agentColumn = FieldColumn(fields, FieldSlot::UserAgent);
    if (!urlColumn || !ipColumn || (!filter.allTraffic() && !agentColumn)) {
        return page;
    }

    const std::uint32_t rows = table.rowCount();
    FirstSeen urls;
    FirstSeen ips;
    std::vector<std::int64_t> visits;
    // (URL id << 32 | IP id) of every counted visit; sorted, its distinct
    // pairs give each URL's distinct IPs without a set per URL.
    std::vector<std::uint64_t> visitPairs;
    visitPairs.reserve(rows);
    // Visits are read a batch ahead of their look-ups, so that the slots of
    // a whole batch are on their way from memory at once.
    struct Visit {
        std::string_view url;
        std::string_view ip;
        std::uint32_t urlHash;
        std::uint32_t ipHash;
    };
    constexpr std::uint32_t kBatch = 16;
    std::array<Visit, kBatch> batch;
    for (std::uint32_t first = 0; first < rows; first += kBatch) {
        if (CancelRequestedAt(first, cancel)) {
            return page;
        }
        std::size_t count = 0;
        for (std::uint32_t r = first; r < std::min(rows, first + kBatch); ++r) {
            const RowIndex row{r};
            if (!filter.allTraffic() && table.cell(row, *agentColumn) != *filter.displayName) {
                continue;
            }
            Visit& visit = batch[count++];
            visit.url = table.cell(row, *urlColumn);
            visit.ip = table.cell(row, *ipColumn);
            visit.urlHash = FirstSeen::Hash(visit.url);
            visit.ipHash = FirstSeen::Hash(visit.ip);
            urls.prefetch(visit.urlHash);
            ips.prefetch(visit.ipHash);
        }
        for (std::size_t v = 0; v < count; ++v) {
            const std::uint32_t url = urls.add(batch[v].url, batch[v].urlHash);
            if (url == visits.size()) {
                visits.push_back(0);
            }
            ++visits[url];
            const std::uint32_t ip = ips.add(batch[v].ip, batch[v].ipHash);
            visitPairs.push_back(std::uint64_t{url} << 32 | ip);
        }
    }

    if (!SortUnlessCancelled(visitPairs.begin(), visitPairs.end(), std::less<>(), cancel)) {
        return page;
    }
    std::vector<std::int64_t> distinctIps(urls.size(), 0);
    for (std::size_t i = 0; i < visitPairs.size(); ++i) {
        if (CancelRequestedAt(static_cast<std::uint32_t>(i), cancel)) {
            return page;
        }
        if (i == 0 || visitPairs[i] != visitPairs[i - 1]) {
            ++distinctIps[visitPairs[i] >> 32];
        }
    }

    std::int64_t allVisits = 0;
    for (std::int64_t count : visits) {
        allVisits += count;
    }
    page.rows.reserve(urls.size() + 1);
    page.rows.push_back({Gbk("全部URL"), DecimalText(allVisits),
                         DecimalText(static_cast<std::int64_t>(ips.size()))});
    for (std::size_t u = 0; u < urls.size(); ++u) {
        if (CancelRequestedAt(static_cast<std::uint32_t>(u), cancel)) {
            return page;
        }
        page.rows.push_back(
            {std::string(urls.text(u)), DecimalText(visits[u]), DecimalText(distinctIps[u])});
    }
    page.summaryRow = true;
    page.redCells = {{0, 1}, {0, 2}};
    return page;
}

StatsTable BuildIpPage(const RecordTable& table, const FieldMap& fields, const SpiderFilter& filter,
                       const std::atomic<bool>* cancel) {
    StatsTable page;
    page.headers = Headers({"IP", "访问次数", "所属蜘蛛", "IP 所在地"});
    page.clearColours = true;

    const auto ipColumn = FieldColumn(fields, FieldSlot::ClientIp);
    const auto agentColumn = FieldColumn(fields, FieldSlot::UserAgent);
    if (!ipColumn || !agentColumn) {
        return page;
    }

    const std::uint32_t rows = table.rowCount();
    FirstSeen ips;
    std::vector<std::int64_t> visits;
    std::vector<std::string_view> firstAgent;
    for (std::uint32_t r = 0; r < rows; ++r) {
        if (CancelRequestedAt(r, cancel)) {
            return page;
        }
        const RowIndex row{r};
        const std::string_view agent = table.cell(row, *agentColumn);
        if (!filter.allTraffic() && agent != *filter.displayName) {
            continue;
        }
        const std::uint32_t ip = ips.add(table.cell(row, *ipColumn));
        if (ip == visits.size()) {
            visits.push_back(0);
            firstAgent.push_back(agent);
        }
        ++visits[ip];
    }

    page.rows.reserve(ips.size());
    for (std::size_t i = 0; i < ips.size(); ++i) {
        if (CancelRequestedAt(static_cast<std::uint32_t>(i), cancel)) {
            return page;
        }
        page.rows.push_back({std::string(ips.text(i)), DecimalText(visits[i]),
                             std::string(firstAgent[i]), std::string()});
    }
    return page;
}

StatsTable BuildStatusPage(const RecordTable& table, const FieldMap& fields,
                           const std::atomic<bool>* cancel) {
    StatsTable page;
    page.headers = Headers({"状态码", "出现次数", "状态描述"});
    page.plainCells = {{0, 1}, {0, 2}};

    const auto statusColumn = FieldColumn(fields, FieldSlot::Status);
    const auto win32Column = FieldColumn(fields, FieldSlot::Win32Status);
    if (!statusColumn || !win32Column) {
        return page;
    }

    // Keys are texts ("2|0" + "|" + "5" and "2" + "|" + "0|5" are one key),
    // formed in one buffer; FirstSeen copies the new ones.
    FirstSeen keys;
    std::vector<std::int64_t> counts;
    std::string key;
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        if (CancelRequestedAt(r, cancel)) {
            return page;
        }
        const RowIndex row{r};
        key.assign(table.cell(row, *statusColumn));
        key += '|';
        key += table.cell(row, *win32Column);
        const std::uint32_t id = keys.add(key);
        if (id == counts.size()) {
            counts.push_back(0);
        }
        ++counts[id];
    }

    page.rows.reserve(keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        page.rows.push_back(
            {std::string(keys.text(k)), DecimalText(counts[k]), DescribeStatusKey(keys.text(k))});
    }
    return page;
}

StatsTable BuildStatsPage(StatsPage page, const RecordTable& table, const FieldMap& fields,
                          const SpiderTally& tally, const SpiderFilter& filter,
                          const std::atomic<bool>* cancel) {
    switch (page) {
    case StatsPage::SpiderTraffic:
        return BuildSpiderTrafficPage(table, fields, tally, cancel);
    case StatsPage::Url:
        return BuildUrlPage(table, fields, filter, cancel);
    case StatsPage::Ip:
        return BuildIpPage(table, fields, filter, cancel);
    case StatsPage::Status:
        return BuildStatusPage(table, fields, cancel);
    }
    return {};
}

std::vector<int> LongestCells(const StatsTable& page) {
    LongestCellRows longest(page.headers.size());
    for (std::size_t r = 0; r < page.rows.size(); ++r) {
        for (std::size_t c = 0; c < page.headers.size(); ++c) {
            longest.see(c, static_cast<std::int64_t>(r), page.rows[r][c].size());
        }
    }
    return {longest.rows().begin(), longest.rows().end()};
}

std::vector<std::string> StatusUrlLines(const RecordTable& table, const FieldMap& fields,
                                        std::string_view statusKey) {
    std::vector<std::string> lines{Gbk("状态码：") + std::string(statusKey)};
    const auto statusColumn = FieldColumn(fields, FieldSlot::Status);
    const auto win32Column = FieldColumn(fields, FieldSlot::Win32Status);
    const auto urlColumn = FieldColumn(fields, FieldSlot::UriStem);
    if (!statusColumn || !win32Column || !urlColumn) {
        return lines;
    }
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        const RowIndex row{r};
        const std::string_view status = table.cell(row, *statusColumn);
        const std::string_view win32 = table.cell(row, *win32Column);
        // status + "|" + win32 == key, without forming the text.
        if (status.size() + 1 + win32.size() == statusKey.size() && statusKey.starts_with(status) &&
            statusKey[status.size()] == '|' && statusKey.ends_with(win32)) {
            lines.emplace_back(table.cell(row, *urlColumn));
        }
    }
    return lines;
}

} // namespace logdesk
