#include "page_builds.h"

#include "core/base/platform.h"
#include "core/base/text_hash.h"
#include "core/logimport/client_address.h"
#include "core/logimport/longest_cells.h"
#include "core/logimport/parallel_work.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "core/text/regex_engine.h"
#include "page_counting.h"
#include "seo_pages.h"
#include "status_tables.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>

namespace logdesk {

namespace {

// The table column of a field, or none when the log lacks the field.
std::optional<ColumnIndex> FieldColumn(const FieldMap& fields, FieldSlot slot) {
    if (fields[slot] <= 0) {
        return std::nullopt;
    }
    return ColumnIndex{fields[slot]};
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
        const SpiderInfo* spider = FindSpiderByDisplayName(entry.name);
        names.push_back(spider != nullptr ? spider->shortName : engine.Replace(entry.name, "$1"));
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

namespace {

// A row of a crawler traffic page: its label, one count per crawler, their sum.
std::vector<std::string> TrafficRow(std::string label, const std::vector<std::int64_t>& perSpider) {
    std::vector<std::string> row{std::move(label)};
    row.reserve(perSpider.size() + 2);
    std::int64_t sum = 0;
    for (const std::int64_t visits : perSpider) {
        row.push_back(DecimalText(visits));
        sum += visits;
    }
    row.push_back(DecimalText(sum));
    return row;
}

// The summary row 0 of a crawler traffic page, its figures marked.
void MarkTrafficSummary(StatsTable& page) {
    page.summaryRow = true;
    for (int c = 1; c < static_cast<int>(page.headers.size()); ++c) {
        page.summaryCells.emplace_back(0, c);
    }
}

// Visits per (crawler, hour row); the crawler columns are the tally's,
// chosen at the end.
class SpiderTrafficAccumulator final : public PageAccumulator {
public:
    void add(const PageRecord& record) override {
        ++hours_[SlotOf(record)][static_cast<std::size_t>(HourRow(record.time) - 1)];
    }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<SpiderTrafficAccumulator&>(later);
        for (std::size_t a = 0; a < kCrawlerSlots; ++a) {
            for (std::size_t h = 0; h < 24; ++h) {
                hours_[a][h] += other.hours_[a][h];
            }
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.agent && fields.time;
    }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override;

private:
    std::array<std::array<std::int64_t, 24>, kCrawlerSlots> hours_{};
};

StatsTable SpiderTrafficAccumulator::finish(const PageFields& fields,
                                            const SpiderTally& tally) const {
    StatsTable page;
    page.headers = PageHeaders(StatsPageEntryOf(StatsPage::SpiderTraffic), tally);
    if (fields.agent && !fields.time) {
        return page;
    }
    // perSpider[tally position][hour row - 1]; a record whose crawler has no
    // tally entry does not count.
    const std::size_t spiders = tally.entries().size();
    std::vector<std::array<std::int64_t, 24>> perSpider(spiders, std::array<std::int64_t, 24>{});
    if (fields.agent) {
        const auto positions = TallyPositions(tally);
        for (std::size_t a = 0; a < kCrawlerSlots; ++a) {
            if (positions[a] >= 0) {
                perSpider[static_cast<std::size_t>(positions[a])] = hours_[a];
            }
        }
    }

    std::vector<std::int64_t> counts(spiders);
    for (std::size_t i = 0; i < spiders; ++i) {
        for (const std::int64_t visits : perSpider[i]) {
            counts[i] += visits;
        }
    }
    page.rows.push_back(TrafficRow(Gbk("全天"), counts));
    const std::string hourSuffix = Gbk("时");
    for (std::size_t h = 0; h < 24; ++h) {
        for (std::size_t i = 0; i < spiders; ++i) {
            counts[i] = perSpider[i][h];
        }
        page.rows.push_back(
            TrafficRow(DecimalText(static_cast<std::int64_t>(h) + 1) + hourSuffix, counts));
    }
    MarkTrafficSummary(page);
    return page;
}

// Visits per (crawler, date cell); the crawler columns are the tally's and
// the dates put in order at the end.
class SpiderDaysAccumulator final : public PageAccumulator {
public:
    void add(const PageRecord& record) override {
        const std::string_view date = record.date.empty() ? std::string_view("-") : record.date;
        // A log holds one date for thousands of records in a row.
        if (!seenDate_ || date != lastDate_) {
            lastDateId_ = dates_.add(date);
            lastDate_ = dates_.text(lastDateId_);
            seenDate_ = true;
        }
        count(SlotOf(record), lastDateId_, 1);
    }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<SpiderDaysAccumulator&>(later);
        const std::vector<std::uint32_t> dateOf = dates_.addAll(other.dates_);
        for (std::size_t a = 0; a < kCrawlerSlots; ++a) {
            const std::vector<std::int64_t>& perDate = other.counts_[a];
            for (std::size_t d = 0; d < perDate.size(); ++d) {
                if (perDate[d] != 0) {
                    count(static_cast<CrawlerSlot>(a), dateOf[d], perDate[d]);
                }
            }
        }
    }
    bool needsRecords(const PageFields& fields) const override { return fields.date; }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override;

private:
    void count(CrawlerSlot crawler, std::uint32_t date, std::int64_t visits) {
        std::vector<std::int64_t>& perDate = counts_[crawler];
        if (date >= perDate.size()) {
            perDate.resize(dates_.size());
        }
        perDate[date] += visits;
    }

    FirstSeen dates_;
    // [crawler][date]; a row may be short
    std::array<std::vector<std::int64_t>, kCrawlerSlots> counts_;
    // The last date looked up, viewing its kept copy (which stays put).
    bool seenDate_ = false;
    std::string_view lastDate_;
    std::uint32_t lastDateId_ = 0;
};

StatsTable SpiderDaysAccumulator::finish(const PageFields& fields, const SpiderTally& tally) const {
    StatsTable page;
    page.headers = PageHeaders(StatsPageEntryOf(StatsPage::SpiderDays), tally);
    if (!fields.date) {
        return page;
    }
    // perSpider[tally position][date id]
    const std::size_t spiders = tally.entries().size();
    std::vector<std::vector<std::int64_t>> perSpider(spiders,
                                                     std::vector<std::int64_t>(dates_.size()));
    const auto positions = TallyPositions(tally);
    for (std::size_t a = 0; a < kCrawlerSlots; ++a) {
        if (positions[a] >= 0) {
            for (std::size_t d = 0; d < counts_[a].size(); ++d) {
                perSpider[static_cast<std::size_t>(positions[a])][d] += counts_[a][d];
            }
        }
    }
    std::vector<std::uint32_t> order(dates_.size());
    for (std::uint32_t d = 0; d < order.size(); ++d) {
        order[d] = d;
    }
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return dates_.text(a) < dates_.text(b); });

    std::vector<std::int64_t> counts(spiders);
    for (std::size_t i = 0; i < spiders; ++i) {
        for (const std::int64_t visits : perSpider[i]) {
            counts[i] += visits;
        }
    }
    page.rows.reserve(order.size() + 1);
    page.rows.push_back(TrafficRow(Gbk("全部日期"), counts));
    for (const std::uint32_t d : order) {
        for (std::size_t i = 0; i < spiders; ++i) {
            counts[i] = perSpider[i][d];
        }
        page.rows.push_back(TrafficRow(std::string(dates_.text(d)), counts));
    }
    MarkTrafficSummary(page);
    return page;
}

// Distinct 64-bit keys, none of them ~0: open addressing, linear probing.
class KeySet {
public:
    KeySet() : slots_(1024, kFree) {}

    // Starts fetching the slot `key` is looked up in first.
    void prefetch(std::uint64_t key) const {
        __builtin_prefetch(&slots_[Spread(key) & (slots_.size() - 1)]);
    }
    // True when the key was not in the set yet.
    bool insert(std::uint64_t key) {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Spread(key) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == key) {
                return false;
            }
            if (slots_[i] == kFree) {
                slots_[i] = key;
                if (++size_ * 2 > slots_.size()) {
                    grow();
                }
                return true;
            }
        }
    }
    template <typename Visit> void forEach(Visit&& visit) const {
        for (const std::uint64_t key : slots_) {
            if (key != kFree) {
                visit(key);
            }
        }
    }

private:
    static constexpr std::uint64_t kFree = ~std::uint64_t{0};
    static std::size_t Spread(std::uint64_t key) {
        key ^= key >> 31;
        key *= 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(key ^ (key >> 29));
    }
    void grow() {
        std::vector<std::uint64_t, BigBufferAllocator<std::uint64_t>> old(slots_.size() * 2, kFree);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const std::uint64_t key : old) {
            if (key != kFree) {
                std::size_t i = Spread(key) & mask;
                while (slots_[i] != kFree) {
                    i = (i + 1) & mask;
                }
                slots_[i] = key;
            }
        }
    }

    std::vector<std::uint64_t, BigBufferAllocator<std::uint64_t>> slots_;
    std::size_t size_ = 0;
};

// Visits per URL, and each URL's distinct IPs counted as its (URL, IP)
// pairs first appear: no set per URL, no sort at the end.
class UrlAccumulator final : public PageAccumulator {
public:
    explicit UrlAccumulator(const SpiderFilter& filter) : filter_(filter) {}

    void add(const PageRecord& record) override {
        if (filter_.counts(record)) {
            count(record.url, FirstSeen::Hash(record.url), record.ip, FirstSeen::Hash(record.ip));
        }
    }
    void addBatch(const PageRecord* records, std::size_t n) override {
        // The hashes first and their slots on their way from memory, then
        // the look-ups: a batch's cache misses overlap.
        std::array<std::uint32_t, kBatch> urlHash;
        std::array<std::uint32_t, kBatch> ipHash;
        for (std::size_t i = 0; i < n; ++i) {
            urlHash[i] = FirstSeen::Hash(records[i].url);
            ipHash[i] = FirstSeen::Hash(records[i].ip);
            urls_.prefetch(urlHash[i]);
            ips_.prefetch(ipHash[i]);
        }
        // Then the texts' ids, and the pairs' slots on their way in turn.
        std::array<std::uint64_t, kBatch> pairs;
        std::size_t counted = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (filter_.counts(records[i])) {
                pairs[counted] = visit(records[i].url, urlHash[i], records[i].ip, ipHash[i]);
                pairs_.prefetch(pairs[counted++]);
            }
        }
        for (std::size_t i = 0; i < counted; ++i) {
            countPair(pairs[i]);
        }
    }
    void count(std::string_view urlText, std::uint32_t urlHash, std::string_view ipText,
               std::uint32_t ipHash) {
        countPair(visit(urlText, urlHash, ipText, ipHash));
    }
    // Counts a visit of the URL and gives its (URL, IP) pair; the order of
    // first sight is decided here, so visits are taken in record order.
    std::uint64_t visit(std::string_view urlText, std::uint32_t urlHash, std::string_view ipText,
                        std::uint32_t ipHash) {
        const std::uint32_t url = urls_.add(urlText, urlHash);
        const std::uint32_t ip = ips_.add(ipText, ipHash);
        if (url == visits_.size()) {
            visits_.push_back(0);
            distinctIps_.push_back(0);
        }
        ++visits_[url];
        return std::uint64_t{url} << 32 | ip;
    }
    void countPair(std::uint64_t pair) {
        if (pairs_.insert(pair)) {
            ++distinctIps_[pair >> 32];
        }
    }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<UrlAccumulator&>(later);
        std::vector<std::uint32_t> urlOf(other.urls_.size());
        for (std::size_t u = 0; u < other.urls_.size(); ++u) {
            urlOf[u] = urls_.add(other.urls_.text(u));
            if (urlOf[u] == visits_.size()) {
                visits_.push_back(0);
                distinctIps_.push_back(0);
            }
            visits_[urlOf[u]] += other.visits_[u];
        }
        std::vector<std::uint32_t> ipOf(other.ips_.size());
        for (std::size_t i = 0; i < other.ips_.size(); ++i) {
            ipOf[i] = ips_.add(other.ips_.text(i));
        }
        other.pairs_.forEach([&](std::uint64_t pair) {
            const std::uint32_t url = urlOf[pair >> 32];
            if (pairs_.insert(std::uint64_t{url} << 32 | ipOf[static_cast<std::uint32_t>(pair)])) {
                ++distinctIps_[url];
            }
        });
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.url && fields.ip && (filter_.allTraffic() || fields.agent);
    }
    bool splits() const override { return false; }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override;

private:
    CrawlerMatch filter_;
    FirstSeen urls_;
    FirstSeen ips_;
    std::vector<std::int64_t> visits_;
    std::vector<std::int64_t> distinctIps_;
    KeySet pairs_;
};

StatsTable UrlAccumulator::finish(const PageFields& fields, const SpiderTally&) const {
    StatsTable page;
    page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Url), {});
    if (!fields.url || !fields.ip || (!filter_.allTraffic() && !fields.agent)) {
        return page;
    }
    const std::vector<std::int64_t>& distinctIps = distinctIps_;
    std::int64_t allVisits = 0;
    for (std::int64_t count : visits_) {
        allVisits += count;
    }
    page.rows.reserve(urls_.size() + 1);
    page.rows.push_back({Gbk("全部URL"), DecimalText(allVisits),
                         DecimalText(static_cast<std::int64_t>(ips_.size()))});
    for (std::size_t u = 0; u < urls_.size(); ++u) {
        page.rows.push_back(
            {std::string(urls_.text(u)), DecimalText(visits_[u]), DecimalText(distinctIps[u])});
    }
    page.summaryRow = true;
    page.summaryCells = {{0, 1}, {0, 2}};
    return page;
}

// Visits per IP, with the user-agent cell of its first record.
class IpAccumulator final : public PageAccumulator {
public:
    explicit IpAccumulator(const SpiderFilter& filter) : filter_(filter) {}

    void add(const PageRecord& record) override {
        if (filter_.counts(record)) {
            count(record, FirstSeen::Hash(record.ip));
        }
    }
    void addBatch(const PageRecord* records, std::size_t n) override {
        // As on the URL page: the slots on their way before the look-ups.
        std::array<std::uint32_t, kBatch> ipHash;
        for (std::size_t i = 0; i < n; ++i) {
            ipHash[i] = FirstSeen::Hash(records[i].ip);
            ips_.prefetch(ipHash[i]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (filter_.counts(records[i])) {
                count(records[i], ipHash[i]);
            }
        }
    }
    void count(const PageRecord& record, std::uint32_t ipHash) {
        const std::uint32_t ip = ips_.add(record.ip, ipHash);
        if (ip == visits_.size()) {
            visits_.push_back(0);
            firstAgent_.push_back(agents_.add(record.agent));
        }
        ++visits_[ip];
    }
    // Most records of a log come from addresses seen before, but a piece of
    // it holds most of the addresses: a join would repeat most of the count.
    bool splits() const override { return false; }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<IpAccumulator&>(later);
        for (std::size_t i = 0; i < other.ips_.size(); ++i) {
            const std::uint32_t ip = ips_.add(other.ips_.text(i));
            if (ip == visits_.size()) {
                visits_.push_back(0);
                firstAgent_.push_back(agents_.add(other.agents_.text(other.firstAgent_[i])));
            }
            visits_[ip] += other.visits_[i];
        }
    }
    bool needsRecords(const PageFields& fields) const override { return fields.ip && fields.agent; }
    StatsTable finish(const PageFields& fields, const SpiderTally&) const override {
        StatsTable page;
        page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Ip), {});
        page.clearMarks = true;
        if (!fields.ip || !fields.agent) {
            return page;
        }
        page.rows.reserve(ips_.size());
        for (std::size_t i = 0; i < ips_.size(); ++i) {
            page.rows.push_back({std::string(ips_.text(i)), DecimalText(visits_[i]),
                                 std::string(agents_.text(firstAgent_[i])), std::string()});
        }
        return page;
    }

private:
    CrawlerMatch filter_;
    FirstSeen ips_;
    std::vector<std::int64_t> visits_;
    // Per IP, its first record's user-agent cell as it reads (another
    // header's record may hold other text there).
    FirstSeen agents_;
    std::vector<std::uint32_t> firstAgent_;
};

// Visits per status key: the status cell, "|", the Win32 status cell, taken
// as they are ("2|0" + "|" + "5" and "2" + "|" + "0|5" are one key).
class StatusAccumulator final : public PageAccumulator {
public:
    explicit StatusAccumulator(const SpiderFilter& filter) : filter_(filter) {}

    void add(const PageRecord& record) override {
        if (!filter_.counts(record)) {
            return;
        }
        key_.assign(record.status);
        key_ += '|';
        key_ += record.win32;
        const std::uint32_t id = keys_.add(key_);
        if (id == counts_.size()) {
            counts_.push_back(0);
        }
        ++counts_[id];
    }
    void join(RecordConsumer& later) override {
        auto& other = static_cast<StatusAccumulator&>(later);
        for (std::size_t k = 0; k < other.keys_.size(); ++k) {
            const std::uint32_t id = keys_.add(other.keys_.text(k));
            if (id == counts_.size()) {
                counts_.push_back(0);
            }
            counts_[id] += other.counts_[k];
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.status && fields.win32 && (filter_.allTraffic() || fields.agent);
    }
    StatsTable finish(const PageFields& fields, const SpiderTally&) const override {
        StatsTable page;
        page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Status), {});
        page.plainCells = {{0, 1}, {0, 2}};
        if (!needsRecords(fields)) {
            return page;
        }
        page.rows.reserve(keys_.size());
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            page.rows.push_back({std::string(keys_.text(k)), DecimalText(counts_[k]),
                                 DescribeStatusKey(keys_.text(k))});
        }
        return page;
    }

private:
    CrawlerMatch filter_;
    FirstSeen keys_;
    std::vector<std::int64_t> counts_;
    std::string key_;
};

// Least records per piece of a threaded build: joining a piece costs about
// what counting its distinct values does, so a table is cut into two pieces
// a thread, none smaller than this.
constexpr std::uint32_t kRecordsPerPiece = 1u << 16;

} // namespace

namespace {

template <typename Accumulator> std::unique_ptr<PageAccumulator> Make(const PageRequest&) {
    return std::make_unique<Accumulator>();
}
template <typename Accumulator>
std::unique_ptr<PageAccumulator> MakeFiltered(const PageRequest& request) {
    return std::make_unique<Accumulator>(request.filter);
}

constexpr PageColumn kTrafficColumns[] = {
    {"时间", ColumnKind::Key}, {{}, ColumnKind::CrawlerCounts}, {"流量汇总", ColumnKind::Count}};
constexpr PageColumn kUrlColumns[] = {
    {"URL", ColumnKind::Key}, {"访问次数", ColumnKind::Count}, {"独立IP数", ColumnKind::Count}};
constexpr PageColumn kIpColumns[] = {{"IP", ColumnKind::Key},
                                     {"访问次数", ColumnKind::Count},
                                     {"所属蜘蛛", ColumnKind::Text},
                                     {"IP 所在地", ColumnKind::Text}};
constexpr PageColumn kStatusColumns[] = {
    {"状态码", ColumnKind::Key}, {"出现次数", ColumnKind::Count}, {"状态描述", ColumnKind::Text}};

constexpr StatsPageEntry kPages[] = {
    {.page = StatsPage::SpiderTraffic,
     .cliName = "spider-traffic",
     .tab = 0,
     .tabCaption = "蜘蛛流量",
     .tabIcon = ":/icons/tab-spiders.svg",
     .byDate = false,
     .crawlerFilter = false,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kTrafficColumns,
     .makeAccumulator = Make<SpiderTrafficAccumulator>,
     .warehouseQuery = "SELECT count() AS v, crawler AS a, '' AS d, {hour} AS t, '' AS u, '' AS i, '' AS s, "
                       "'' AS w FROM {records} WHERE {where} GROUP BY a, t"},
    {.page = StatsPage::SpiderDays,
     .cliName = "spider-days",
     .tab = 0,
     .tabCaption = {},
     .tabIcon = {},
     .byDate = true,
     .crawlerFilter = false,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kTrafficColumns,
     .makeAccumulator = Make<SpiderDaysAccumulator>,
     .warehouseQuery = "SELECT count() AS v, crawler AS a, {date} AS d, '' AS t, '' AS u, '' AS i, '' AS s, "
                       "'' AS w FROM {records} WHERE {where} GROUP BY a, d"},
    {.page = StatsPage::Url,
     .cliName = "urls",
     .tab = 1,
     .tabCaption = "URL 流量",
     .tabIcon = ":/icons/tab-urls.svg",
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::OpenUrl,
     .streams = true,
     .columns = kUrlColumns,
     .makeAccumulator = MakeFiltered<UrlAccumulator>,
     .warehouseQuery = "SELECT count() AS v, any(crawler) AS a, '' AS d, '' AS t, cs_uri_stem AS u, c_ip AS i, "
                       "'' AS s, '' AS w, {first} AS f FROM {records} WHERE {where} "
                       "GROUP BY u, i ORDER BY f"},
    {.page = StatsPage::Ip,
     .cliName = "ips",
     .tab = 2,
     .tabCaption = "IP 流量",
     .tabIcon = ":/icons/tab-ips.svg",
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::LocateIp,
     .streams = true,
     .columns = kIpColumns,
     .makeAccumulator = MakeFiltered<IpAccumulator>,
     .warehouseQuery = "SELECT count() AS v, argMin(crawler, tuple(source_key, record)) AS a, '' AS d, "
                       "'' AS t, '' AS u, c_ip AS i, '' AS s, '' AS w, {first} AS f FROM {records} "
                       "WHERE {where} GROUP BY i ORDER BY f"},
    {.page = StatsPage::Status,
     .cliName = "status",
     .tab = 3,
     .tabCaption = "访问状态",
     .tabIcon = ":/icons/tab-status.svg",
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::ListStatusUrls,
     .streams = true,
     .columns = kStatusColumns,
     .makeAccumulator = MakeFiltered<StatusAccumulator>,
     .warehouseQuery = "SELECT count() AS v, any(crawler) AS a, '' AS d, '' AS t, '' AS u, '' AS i, "
                       "{status} AS s, {win32} AS w, {first} AS f FROM {records} WHERE {where} "
                       "GROUP BY s, w ORDER BY f"},
    {.page = StatsPage::Timing,
     .cliName = "timing",
     .tab = kNoTab,
     .tabCaption = "响应时间",
     .tabIcon = {},
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kTimingColumns,
     .makeAccumulator = MakeTimingAccumulator,
     .filteredColumns = kTimingUrlColumns,
     .crawlAnalysisTab = 1},
    {.page = StatsPage::Sections,
     .cliName = "sections",
     .tab = kNoTab,
     .tabCaption = "目录",
     .tabIcon = {},
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kSectionsColumns,
     .makeAccumulator = MakeSectionsAccumulator,
     .crawlAnalysisTab = 2},
    {.page = StatsPage::Flapping,
     .cliName = "flapping",
     .tab = kNoTab,
     .tabCaption = "状态不一致",
     .tabIcon = {},
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kFlappingColumns,
     .makeAccumulator = MakeFlappingAccumulator,
     .crawlAnalysisTab = 3},
    {.page = StatsPage::Coverage,
     .cliName = "coverage",
     .tab = kNoTab,
     .tabCaption = "覆盖率",
     .tabIcon = {},
     .byDate = false,
     .crawlerFilter = true,
     .doubleClick = RowAction::None,
     .streams = true,
     .columns = kCoverageColumns,
     .makeAccumulator = MakeCoverageAccumulator,
     .filteredColumns = kCoverageUrlColumns,
     .crawlAnalysisTab = 0},
};

} // namespace

std::span<const StatsPageEntry> StatsPages() {
    return kPages;
}

std::vector<std::string> PageHeaders(const StatsPageEntry& entry, const SpiderTally& tally) {
    std::vector<std::string> headers;
    for (const PageColumn& column : entry.columns) {
        if (column.kind == ColumnKind::CrawlerCounts) {
            for (std::string& name : SpiderShortNames(tally)) {
                headers.push_back(std::move(name));
            }
        } else {
            headers.push_back(Gbk(column.caption));
        }
    }
    return headers;
}

std::vector<std::string> PageHeaders(const StatsPageEntry& entry, const SpiderTally& tally,
                                     const SpiderFilter& filter) {
    if (filter.allTraffic() || entry.filteredColumns.empty()) {
        return PageHeaders(entry, tally);
    }
    StatsPageEntry filtered = entry;
    filtered.columns = entry.filteredColumns;
    return PageHeaders(filtered, tally);
}

std::vector<ColumnKind> PageColumnKinds(const StatsPageEntry& entry, const SpiderTally& tally) {
    std::vector<ColumnKind> kinds;
    for (const PageColumn& column : entry.columns) {
        if (column.kind == ColumnKind::CrawlerCounts) {
            kinds.insert(kinds.end(), tally.entries().size(), ColumnKind::Count);
        } else {
            kinds.push_back(column.kind);
        }
    }
    return kinds;
}

const StatsPageEntry& StatsPageEntryOf(StatsPage page) {
    for (const StatsPageEntry& entry : kPages) {
        if (entry.page == page) {
            return entry;
        }
    }
    throw std::logic_error("a statistics page without an entry");
}

const StatsPageEntry* StatsPageNamed(std::string_view cliName) {
    for (const StatsPageEntry& entry : kPages) {
        if (entry.cliName == cliName) {
            return &entry;
        }
    }
    return nullptr;
}

const StatsPageEntry* StatsPageOfTab(int tab, bool byDate) {
    const StatsPageEntry* own = nullptr;
    if (tab == kNoTab) {
        return nullptr;
    }
    for (const StatsPageEntry& entry : kPages) {
        if (entry.tab != tab) {
            continue;
        }
        if (entry.byDate == byDate) {
            return &entry;
        }
        if (!entry.byDate) {
            own = &entry;
        }
    }
    return own;
}

std::vector<const StatsPageEntry*> StatsPageTabs() {
    std::vector<const StatsPageEntry*> tabs;
    for (const StatsPageEntry& entry : kPages) {
        if (!entry.byDate && entry.tab != kNoTab) {
            tabs.push_back(&entry);
        }
    }
    std::sort(tabs.begin(), tabs.end(),
              [](const StatsPageEntry* a, const StatsPageEntry* b) { return a->tab < b->tab; });
    return tabs;
}

std::unique_ptr<PageAccumulator> MakePageAccumulator(StatsPage page, const PageRequest& request) {
    return StatsPageEntryOf(page).makeAccumulator(request);
}

StatsTable FinishStreamedPage(const PageAccumulator& counted, StatsPage page,
                              const PageRequest& request, const FieldMap& fields,
                              const SpiderTally& tally) {
    const PageFields present = PageFields::Of(fields);
    if (counted.needsRecords(present)) {
        return counted.finish(present, tally);
    }
    // A page that counts no records of such a log shows what none give.
    return MakePageAccumulator(page, request)->finish(present, tally);
}

StatsTable BuildStatsPage(StatsPage page, const RecordTable& table, const FieldMap& fields,
                          const SpiderTally& tally, const PageRequest& request,
                          const CancelToken& cancel, const Parallelism& parallel,
                          std::int32_t clientIpColumn, const PageProgress& progress) {
    // The columns a record's page cells come from; a field the log lacks
    // reads as "" (column 0 would be the record number: never asked for).
    constexpr std::size_t kCells = kPageFieldCount;
    std::array<ColumnIndex, kCells> columns{};
    for (std::size_t i = 0; i < kCells; ++i) {
        const FieldSlot slot = kPageRecordFields[i].slot;
        columns[i] = ColumnIndex{fields[slot] > 0 ? fields[slot] : -1};
    }
    PageFields present = PageFields::Of(fields);
    present.ip = present.ip || clientIpColumn > 0;
    const std::unique_ptr<PageAccumulator> kind = MakePageAccumulator(page, request);
    const std::uint32_t rows = kind->needsRecords(present) ? table.rowCount() : 0;
    // Tests ask for pieces by size: that checks the join of every page.
    const unsigned threads =
        kind->splits() || parallel.pieceSize > 0 ? WorkThreads(parallel.threads) : 1;
    const std::size_t perPiece = threads == 1             ? std::max<std::size_t>(rows, 1)
                                 : parallel.pieceSize > 0 ? parallel.pieceSize
                                                          : kRecordsPerPiece;
    const std::size_t pieces = std::max<std::size_t>(1, (rows + perPiece - 1) / perPiece);
    std::vector<std::unique_ptr<PageAccumulator>> counted(pieces);
    std::atomic<bool> stopped{false};
    // Records counted by every thread, summed at each poll: only when
    // someone listens.
    std::atomic<std::uint64_t> counting{0};
    RunPieces(pieces, threads, [&](std::size_t piece, unsigned thread) {
        auto accumulator = MakePageAccumulator(page, request);
        const auto first = static_cast<std::uint32_t>(piece * perPiece);
        const auto last = static_cast<std::uint32_t>(std::min<std::size_t>(rows, first + perPiece));
        std::array<std::string_view, kCells> cells;
        std::array<PageRecord, PageAccumulator::kBatch> batch;
        std::size_t batched = 0;
        for (std::uint32_t r = first; r < last; ++r) {
            if (((r - first) & 0xFFF) == 0) {
                if (cancel.cancelled()) {
                    stopped = true;
                    return;
                }
                if (progress && r > first) {
                    const std::uint64_t sum =
                        counting.fetch_add(0x1000, std::memory_order_relaxed) + 0x1000;
                    if (thread == 0) {
                        progress(sum, rows);
                    }
                }
            }
            const RecordIndex record = table.record(RowIndex{r});
            table.data()->cellsOf(record, columns.data(), kCells, cells.data());
            PageRecord& filled = batch[batched++];
            for (std::size_t i = 0; i < kCells; ++i) {
                filled.*kPageRecordFields[i].cell = cells[i];
            }
            filled.spider = table.data()->spider(record);
            if (clientIpColumn > 0) {
                filled.ip = ClientAddress(table.data()->cell(record, ColumnIndex{clientIpColumn}),
                                          filled.ip);
            }
            if (batched == batch.size()) {
                accumulator->addBatch(batch.data(), batched);
                batched = 0;
            }
        }
        accumulator->addBatch(batch.data(), batched);
        counted[piece] = std::move(accumulator);
        if (progress && last > first) {
            // The records since this piece's last poll.
            counting.fetch_add((last - first - 1) % 0x1000 + 1, std::memory_order_relaxed);
        }
    });
    if (stopped) {
        return {};
    }
    if (progress) {
        progress(rows, rows);
    }
    for (std::size_t p = 1; p < pieces; ++p) {
        counted.front()->join(*counted[p]);
        counted[p].reset();
    }
    return counted.front()->finish(present, tally);
}

StatsTable BuildSpiderTrafficPage(const RecordTable& table, const FieldMap& fields,
                                  const SpiderTally& tally, const CancelToken& cancel) {
    return BuildStatsPage(StatsPage::SpiderTraffic, table, fields, tally, {}, cancel);
}

StatsTable BuildSpiderDaysPage(const RecordTable& table, const FieldMap& fields,
                               const SpiderTally& tally, const CancelToken& cancel) {
    return BuildStatsPage(StatsPage::SpiderDays, table, fields, tally, {}, cancel);
}

StatsTable BuildUrlPage(const RecordTable& table, const FieldMap& fields,
                        const SpiderFilter& filter, const CancelToken& cancel) {
    return BuildStatsPage(StatsPage::Url, table, fields, {}, filter, cancel);
}

StatsTable BuildIpPage(const RecordTable& table, const FieldMap& fields, const SpiderFilter& filter,
                       const CancelToken& cancel) {
    return BuildStatsPage(StatsPage::Ip, table, fields, {}, filter, cancel);
}

StatsTable BuildStatusPage(const RecordTable& table, const FieldMap& fields,
                           const CancelToken& cancel, const SpiderFilter& filter) {
    return BuildStatsPage(StatsPage::Status, table, fields, {}, filter, cancel);
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
                                        std::string_view statusKey, const SpiderFilter& filter) {
    std::vector<std::string> lines{Gbk("状态码：") + std::string(statusKey)};
    const auto statusColumn = FieldColumn(fields, FieldSlot::Status);
    const auto win32Column = FieldColumn(fields, FieldSlot::Win32Status);
    const auto urlColumn = FieldColumn(fields, FieldSlot::UriStem);
    const auto agentColumn = FieldColumn(fields, FieldSlot::UserAgent);
    if (!statusColumn || !win32Column || !urlColumn || (!filter.allTraffic() && !agentColumn)) {
        return lines;
    }
    for (std::uint32_t r = 0; r < table.rowCount(); ++r) {
        const RowIndex row{r};
        if (!filter.allTraffic() && table.cell(row, *agentColumn) != *filter.displayName) {
            continue;
        }
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
