#include "seo_pages.h"

#include "core/coverage/site_url_list.h"
#include "core/coverage/url_key.h"
#include "core/text/gbk_codec.h"
#include "core/text/gbk_text.h"
#include "page_counting.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace logdesk {

namespace {

// Sums of up to 18-digit numbers over billions of records, and the products
// of two such sums and counts that compare means, fit in 128 bits.
__extension__ typedef unsigned __int128 Wide;

// The value of a cell of decimal digits only; leading zeros aside, at most
// 18 digits (more than a log's times or sizes ever have), so any sum of
// them fits a Wide. Nothing for any other text ("-", "", "1.5", "12ms").
std::optional<std::uint64_t> DecimalNumber(std::string_view cell) {
    if (cell.empty()) {
        return std::nullopt;
    }
    std::size_t first = 0;
    while (first + 1 < cell.size() && cell[first] == '0') {
        ++first;
    }
    if (cell.size() - first > 18) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = first; i < cell.size(); ++i) {
        if (cell[i] < '0' || cell[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(cell[i] - '0');
    }
    return value;
}

std::string WideText(Wide value) {
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

// The tally's entries that name a catalogue crawler, in tally order, as
// slots: the first of equal names.
std::vector<CrawlerSlot> TallySlots(const SpiderTally& tally) {
    const auto positions = TallyPositions(tally);
    std::vector<CrawlerSlot> slots;
    for (std::size_t i = 0; i < tally.entries().size(); ++i) {
        if (const SpiderInfo* spider = FindSpiderByDisplayName(tally.entries()[i].name)) {
            const auto slot = static_cast<CrawlerSlot>(spider->id);
            if (positions[slot] == static_cast<int>(i)) {
                slots.push_back(slot);
            }
        }
    }
    return slots;
}

// The visits of one row of the timing page: how many, the bytes sent, and
// how often each time was taken (a log repeats few distinct times, so this
// stays small however many records stream past).
struct TimingRow {
    std::int64_t visits = 0;
    Wide bytes = 0;
    std::int64_t timed = 0; // visits with a time
    Wide timeSum = 0;
    std::unordered_map<std::uint64_t, std::int64_t> times;

    void add(const PageRecord& record) {
        ++visits;
        if (const auto sent = DecimalNumber(record.bytes)) {
            bytes += *sent;
        }
        if (const auto ms = DecimalNumber(record.timeTaken)) {
            ++timed;
            timeSum += *ms;
            ++times[*ms];
        }
    }
    void join(const TimingRow& later) {
        visits += later.visits;
        bytes += later.bytes;
        timed += later.timed;
        timeSum += later.timeSum;
        for (const auto& [ms, count] : later.times) {
            times[ms] += count;
        }
    }
    // Whether this row's mean is above the other's.
    bool slowerThan(const TimingRow& other) const {
        return timeSum * static_cast<Wide>(other.timed) > other.timeSum * static_cast<Wide>(timed);
    }
    // Mean, median, 95% and longest, empty without any time.
    std::vector<std::string> timingCells() const {
        if (timed == 0) {
            return std::vector<std::string>(4);
        }
        std::vector<std::pair<std::uint64_t, std::int64_t>> sorted(times.begin(), times.end());
        std::sort(sorted.begin(), sorted.end());
        const auto n = static_cast<Wide>(timed);
        // Nearest rank: the value at rank ceil(p * n), from 1.
        const auto at = [&](std::int64_t rank) {
            std::int64_t seen = 0;
            for (const auto& [ms, count] : sorted) {
                seen += count;
                if (seen >= rank) {
                    return ms;
                }
            }
            return sorted.back().first;
        };
        return {WideText((2 * timeSum + n) / (2 * n)), WideText(at((timed + 1) / 2)),
                WideText(at((timed * 95 + 99) / 100)), WideText(sorted.back().first)};
    }
};

// Per crawler, or with a filter per URL of that crawler.
class TimingAccumulator final : public PageAccumulator {
public:
    explicit TimingAccumulator(const SpiderFilter& filter)
        : filter_(filter), request_(filter), byUrl_(!filter.allTraffic()) {
        if (!byUrl_) {
            rows_.resize(kCrawlerSlots);
        }
    }

    void add(const PageRecord& record) override {
        if (filter_.counts(record)) {
            (byUrl_ ? urlRow(urls_.add(record.url)) : rows_[SlotOf(record)]).add(record);
        }
    }
    void join(RecordConsumer& later) override {
        const auto& other = static_cast<const TimingAccumulator&>(later);
        for (std::size_t r = 0; r < other.rows_.size(); ++r) {
            (byUrl_ ? urlRow(urls_.add(other.urls_.text(r))) : rows_[r]).join(other.rows_[r]);
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.timeTaken && fields.agent && (!byUrl_ || fields.url);
    }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override {
        StatsTable page;
        page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Timing), tally, request_);
        if (!fields.timeTaken) {
            page.notice = Gbk("日志没有 time-taken 字段，无法统计响应时间");
            return page;
        }
        if (!needsRecords(fields)) {
            return page;
        }
        if (!byUrl_) {
            for (const CrawlerSlot slot : TallySlots(tally)) {
                const TimingRow& row = rows_[slot];
                if (row.visits == 0) {
                    continue;
                }
                std::vector<std::string> cells{std::string(SlotText(slot)),
                                               DecimalText(row.visits)};
                for (std::string& cell : row.timingCells()) {
                    cells.push_back(std::move(cell));
                }
                cells.push_back(WideText(row.bytes));
                page.rows.push_back(std::move(cells));
            }
            return page;
        }
        std::vector<std::uint32_t> order(rows_.size());
        for (std::uint32_t u = 0; u < order.size(); ++u) {
            order[u] = u;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const TimingRow& x = rows_[a];
            const TimingRow& y = rows_[b];
            if ((x.timed == 0) != (y.timed == 0)) {
                return y.timed == 0;
            }
            return x.slowerThan(y);
        });
        page.rows.reserve(order.size());
        for (const std::uint32_t u : order) {
            std::vector<std::string> cells{std::string(urls_.text(u)),
                                           DecimalText(rows_[u].visits)};
            for (std::string& cell : rows_[u].timingCells()) {
                cells.push_back(std::move(cell));
            }
            page.rows.push_back(std::move(cells));
        }
        return page;
    }

private:
    TimingRow& urlRow(std::uint32_t url) {
        if (url == rows_.size()) {
            rows_.emplace_back();
        }
        return rows_[url];
    }

    CrawlerMatch filter_;
    SpiderFilter request_;
    bool byUrl_;
    FirstSeen urls_;              // with a filter
    std::vector<TimingRow> rows_; // by crawler slot, or by URL id
};

// The part of a share, as "12.50%" (as the chart window writes shares).
std::string ShareText(std::int64_t part, std::int64_t whole) {
    const double share = whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) * 100 : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", share);
    return text;
}

// The directory of a cs-uri-stem that keeps `depth` segments after the
// root: "/a/b/c.htm" is "/a/" at depth 1 and "/a/b/" at depth 2, "/a/" is
// "/a/" at both, and a stem without a directory ("/c.htm", "-") is "/".
std::string_view Directory(std::string_view stem, int depth) {
    const std::size_t lastSlash = stem.rfind('/');
    if (lastSlash == std::string_view::npos) {
        return "/";
    }
    std::size_t end = 0;
    int kept = 0;
    for (std::size_t i = 1; i <= lastSlash && kept < depth; ++i) {
        if (stem[i] == '/') {
            end = i + 1;
            ++kept;
        }
    }
    return end == 0 ? std::string_view("/") : stem.substr(0, end);
}

// A key of a text and a crawler: the text, then the crawler's slot as one
// byte, so one FirstSeen numbers the pairs in order of first sight.
void PairKey(std::string& key, std::string_view text, CrawlerSlot crawler) {
    key.assign(text);
    key += static_cast<char>(crawler);
}
std::string_view PairText(std::string_view key) {
    return key.substr(0, key.size() - 1);
}
CrawlerSlot PairCrawler(std::string_view key) {
    return static_cast<CrawlerSlot>(key.back());
}

using BatchKeys = std::array<std::string, RecordConsumer::kBatch>;

// Numbers the keys of a batch's counted records in `ids`, in record order,
// giving count(record, id) each. `keyOf(key, record)` writes a record's key;
// `keys` keep their capacity from batch to batch; `rows` are the caller's,
// one per id. Nearly every key is a look-up in a table of megabytes and its
// row one in another: the batch's slots, then its rows, are fetched together
// before the first is used, so their cache misses overlap.
template <typename KeyOf, typename Row, typename Count>
void CountBatch(const CrawlerMatch& filter, const PageRecord* records, std::size_t n,
                FirstSeen& ids, BatchKeys& keys, KeyOf keyOf, const std::vector<Row>& rows,
                Count count) {
    std::array<std::uint32_t, RecordConsumer::kBatch> id;
    for (std::size_t i = 0; i < n; ++i) {
        if (filter.counts(records[i])) {
            keyOf(keys[i], records[i]);
            id[i] = FirstSeen::Hash(keys[i]);
            ids.prefetch(id[i]);
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (filter.counts(records[i])) {
            id[i] = ids.add(keys[i], id[i]);
            if (id[i] < rows.size()) {
                __builtin_prefetch(&rows[id[i]]);
            }
        }
    }
    // New keys' ids come in increasing order, so each new row is the next.
    for (std::size_t i = 0; i < n; ++i) {
        if (filter.counts(records[i])) {
            count(records[i], id[i]);
        }
    }
}

// Visits per (directory, crawler), by the first digit of their status.
class SectionsAccumulator final : public PageAccumulator {
public:
    explicit SectionsAccumulator(const PageRequest& request)
        : filter_(request.filter), depth_(request.depth) {}

    void add(const PageRecord& record) override {
        if (!filter_.counts(record)) {
            return;
        }
        PairKey(key_, Directory(record.url, depth_), SlotOf(record));
        Row& row = rowOf(keys_.add(key_));
        ++row.visits;
        const char digit = record.status.empty() ? '\0' : record.status.front();
        if (digit >= '2' && digit <= '5') {
            ++row.byClass[static_cast<std::size_t>(digit - '2')];
        }
    }
    void join(RecordConsumer& later) override {
        const auto& other = static_cast<const SectionsAccumulator&>(later);
        for (std::size_t k = 0; k < other.keys_.size(); ++k) {
            Row& row = rowOf(keys_.add(other.keys_.text(k)));
            row.visits += other.rows_[k].visits;
            for (std::size_t c = 0; c < row.byClass.size(); ++c) {
                row.byClass[c] += other.rows_[k].byClass[c];
            }
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.url && fields.status && (filter_.allTraffic() || fields.agent);
    }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override {
        StatsTable page;
        page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Sections), tally);
        if (!needsRecords(fields)) {
            return page;
        }
        page.rows.reserve(keys_.size());
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            const Row& row = rows_[k];
            std::vector<std::string> cells{std::string(PairText(keys_.text(k))),
                                           std::string(SlotText(PairCrawler(keys_.text(k)))),
                                           DecimalText(row.visits)};
            for (const std::int64_t visits : row.byClass) {
                cells.push_back(ShareText(visits, row.visits));
            }
            page.rows.push_back(std::move(cells));
        }
        return page;
    }

private:
    struct Row {
        std::int64_t visits = 0;
        std::array<std::int64_t, 4> byClass{}; // 2xx to 5xx
    };
    Row& rowOf(std::uint32_t id) {
        if (id == rows_.size()) {
            rows_.emplace_back();
        }
        return rows_[id];
    }

    CrawlerMatch filter_;
    int depth_;
    FirstSeen keys_; // PairKey(directory, crawler)
    std::vector<Row> rows_;
    std::string key_;
};

// Texts numbered in order of first sight, looked up once for a run of
// equal ones (a log holds one date for thousands of records in a row).
class RunOfTexts {
public:
    std::uint32_t add(std::string_view text) {
        if (!seen_ || text != last_) {
            lastId_ = texts_.add(text);
            last_ = texts_.text(lastId_);
            seen_ = true;
        }
        return lastId_;
    }
    std::string_view text(std::uint32_t id) const { return texts_.text(id); }
    std::size_t size() const { return texts_.size(); }
    std::vector<std::uint32_t> addAll(const RunOfTexts& later) {
        return texts_.addAll(later.texts_);
    }

private:
    FirstSeen texts_;
    bool seen_ = false;
    std::string_view last_; // views its kept copy, which stays put
    std::uint32_t lastId_ = 0;
};

// The statuses each (URL, crawler) gave, in order of first sight, each with
// the dates of its first and last record.
class FlappingAccumulator final : public PageAccumulator {
public:
    explicit FlappingAccumulator(const SpiderFilter& filter) : filter_(filter) {}

    void add(const PageRecord& record) override {
        if (filter_.counts(record)) {
            PairKey(key_, record.url, SlotOf(record));
            count(record, keys_.add(key_));
        }
    }
    void addBatch(const PageRecord* records, std::size_t n) override {
        CountBatch(
            filter_, records, n, keys_, batchKeys_,
            [](std::string& key, const PageRecord& record) {
                PairKey(key, record.url, SlotOf(record));
            },
            rows_, [this](const PageRecord& record, std::uint32_t key) { count(record, key); });
    }
    // Nearly every pair of a piece would come again in the join.
    bool splits() const override { return false; }
    void join(RecordConsumer& later) override {
        const auto& other = static_cast<const FlappingAccumulator&>(later);
        const std::vector<std::uint32_t> statusOf = statuses_.addAll(other.statuses_);
        const std::vector<std::uint32_t> dateOf = dates_.addAll(other.dates_);
        for (std::size_t k = 0; k < other.keys_.size(); ++k) {
            const Row& theirs = other.rows_[k];
            Row& row = rowOf(keys_.add(other.keys_.text(k)));
            std::int64_t visits = theirs.visits;
            const auto take = [&](const Seen& seen) {
                see(row, visits, {statusOf[seen.status], dateOf[seen.first], dateOf[seen.last]});
                visits = 0;
            };
            take(theirs.first);
            for (std::uint32_t m = theirs.more; m != kNone; m = other.more_[m].next) {
                take(other.more_[m].seen);
            }
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.url && fields.status && (filter_.allTraffic() || fields.agent);
    }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override {
        StatsTable page;
        page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Flapping), tally);
        if (!needsRecords(fields)) {
            return page;
        }
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            const Row& row = rows_[k];
            if (row.more == kNone) {
                continue;
            }
            std::string codes;
            std::string dates;
            const auto show = [&](const Seen& seen) {
                const std::string_view status = statuses_.text(seen.status);
                codes += (codes.empty() ? "" : ",") + std::string(status);
                dates += (dates.empty() ? "" : "; ") + std::string(status) + ":" +
                         std::string(dates_.text(seen.first));
                if (seen.last != seen.first) {
                    dates += "~" + std::string(dates_.text(seen.last));
                }
            };
            show(row.first);
            for (std::uint32_t m = row.more; m != kNone; m = more_[m].next) {
                show(more_[m].seen);
            }
            page.rows.push_back({std::string(PairText(keys_.text(k))),
                                 std::string(SlotText(PairCrawler(keys_.text(k)))),
                                 DecimalText(row.visits), std::move(codes), std::move(dates)});
        }
        return page;
    }

private:
    struct Seen {
        std::uint32_t status; // ids in statuses_ and dates_
        std::uint32_t first;
        std::uint32_t last;
    };
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};
    // Nearly every URL gives one status, kept in its row; the statuses after
    // the first are chained in more_, in order of first sight, so a row
    // holds no allocation of its own.
    struct Row {
        std::int64_t visits = 0; // 0: no status seen yet
        Seen first{};
        std::uint32_t more = kNone; // index in more_
    };
    struct More {
        Seen seen;
        std::uint32_t next = kNone;
    };
    Row& rowOf(std::uint32_t id) {
        if (id == rows_.size()) {
            rows_.emplace_back();
        }
        return rows_[id];
    }
    void count(const PageRecord& record, std::uint32_t key) {
        const std::uint32_t date = dates_.add(record.date.empty() ? "-" : record.date);
        see(rowOf(key), 1, {statuses_.add(record.status), date, date});
    }
    // `visits` more records of the row, `seen` their status and the dates
    // it was first and last given in them.
    void see(Row& row, std::int64_t visits, const Seen& seen) {
        const bool first = row.visits == 0;
        row.visits += visits;
        if (first) {
            row.first = seen;
            return;
        }
        if (row.first.status == seen.status) {
            row.first.last = seen.last;
            return;
        }
        std::uint32_t* link = &row.more;
        for (; *link != kNone; link = &more_[*link].next) {
            if (more_[*link].seen.status == seen.status) {
                more_[*link].seen.last = seen.last;
                return;
            }
        }
        *link = static_cast<std::uint32_t>(more_.size());
        more_.push_back({seen, kNone});
    }

    CrawlerMatch filter_;
    FirstSeen keys_; // PairKey(URL, crawler)
    std::vector<Row> rows_;
    std::vector<More> more_;
    FirstSeen statuses_;
    RunOfTexts dates_;
    std::string key_;
    BatchKeys batchKeys_;
};

// Visits per (match key of the request, crawler), with the dates of the
// first and last and the status of the last; the site's list is compared
// with them at the end.
class CoverageAccumulator final : public PageAccumulator {
public:
    explicit CoverageAccumulator(const PageRequest& request)
        : filter_(request.filter), request_(request.filter), list_(request.siteUrls) {}

    void add(const PageRecord& record) override {
        if (filter_.counts(record)) {
            KeyOf(key_, record);
            count(record, keys_.add(key_));
        }
    }
    void addBatch(const PageRecord* records, std::size_t n) override {
        CountBatch(filter_, records, n, keys_, batchKeys_, KeyOf, rows_,
                   [this](const PageRecord& record, std::uint32_t key) { count(record, key); });
    }
    // Nearly every key of a piece would come again in the join.
    bool splits() const override { return false; }
    void join(RecordConsumer& later) override {
        const auto& other = static_cast<const CoverageAccumulator&>(later);
        const std::vector<std::uint32_t> statusOf = statuses_.addAll(other.statuses_);
        const std::vector<std::uint32_t> dateOf = dates_.addAll(other.dates_);
        for (std::size_t k = 0; k < other.keys_.size(); ++k) {
            const Row& theirs = other.rows_[k];
            see(rowOf(keys_.add(other.keys_.text(k))),
                {theirs.visits, dateOf[theirs.first], dateOf[theirs.last],
                 statusOf[theirs.lastStatus]});
        }
    }
    bool needsRecords(const PageFields& fields) const override {
        return fields.url && fields.agent;
    }
    StatsTable finish(const PageFields& fields, const SpiderTally& tally) const override;

private:
    struct Row {
        std::int64_t visits = 0; // 0: none yet
        std::uint32_t first = 0; // ids in dates_
        std::uint32_t last = 0;
        std::uint32_t lastStatus = 0; // id in statuses_
    };
    Row& rowOf(std::uint32_t id) {
        if (id == rows_.size()) {
            rows_.emplace_back();
        }
        return rows_[id];
    }
    // PairKey(match key, crawler), without a string of its own.
    static void KeyOf(std::string& key, const PageRecord& record) {
        key.clear();
        AppendLogUrlKey(key, record.url, record.query);
        key += static_cast<char>(SlotOf(record));
    }
    void count(const PageRecord& record, std::uint32_t key) {
        const std::uint32_t date = dates_.add(record.date.empty() ? "-" : record.date);
        see(rowOf(key), {1, date, date, statuses_.add(record.status)});
    }
    // Takes in the visits of `later`, which came after the row's.
    static void see(Row& row, const Row& later) {
        if (row.visits == 0) {
            row.first = later.first;
        }
        row.visits += later.visits;
        row.last = later.last;
        row.lastStatus = later.lastStatus;
    }

    CrawlerMatch filter_;
    SpiderFilter request_;
    const SiteUrlList* list_;
    FirstSeen keys_; // PairKey(match key, crawler)
    std::vector<Row> rows_;
    RunOfTexts dates_;
    FirstSeen statuses_;
    std::string key_;
    BatchKeys batchKeys_;
};

StatsTable CoverageAccumulator::finish(const PageFields& fields, const SpiderTally& tally) const {
    StatsTable page;
    page.headers = PageHeaders(StatsPageEntryOf(StatsPage::Coverage), tally, request_);
    if (!needsRecords(fields)) {
        return page;
    }
    static const SiteUrlList kNoList;
    const std::vector<SiteUrl>& listed = (list_ != nullptr ? *list_ : kNoList).urls;
    std::unordered_map<std::string_view, std::size_t> listIndex;
    for (std::size_t u = 0; u < listed.size(); ++u) {
        listIndex.emplace(listed[u].key, u);
    }
    if (request_.allTraffic()) {
        struct Tally {
            std::int64_t visits = 0;
            std::int64_t fetched = 0; // listed keys
            std::int64_t outsideUrls = 0;
            std::int64_t outsideVisits = 0;
        };
        std::array<Tally, kCrawlerSlots> crawlers{};
        for (std::size_t k = 0; k < keys_.size(); ++k) {
            Tally& crawler = crawlers[PairCrawler(keys_.text(k))];
            crawler.visits += rows_[k].visits;
            if (listIndex.count(PairText(keys_.text(k))) > 0) {
                ++crawler.fetched;
            } else {
                ++crawler.outsideUrls;
                crawler.outsideVisits += rows_[k].visits;
            }
        }
        const auto listSize = static_cast<std::int64_t>(listed.size());
        for (const CrawlerSlot slot : TallySlots(tally)) {
            const Tally& crawler = crawlers[slot];
            if (crawler.visits == 0) {
                continue;
            }
            page.rows.push_back({std::string(SlotText(slot)), DecimalText(listSize),
                                 DecimalText(crawler.fetched), ShareText(crawler.fetched, listSize),
                                 DecimalText(listSize - crawler.fetched),
                                 DecimalText(crawler.outsideUrls),
                                 DecimalText(crawler.outsideVisits),
                                 ShareText(crawler.outsideVisits, crawler.visits)});
        }
        return page;
    }
    // One crawler's records only: a key is one row.
    std::vector<std::int64_t> rowOfListed(listed.size(), -1);
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        if (const auto it = listIndex.find(PairText(keys_.text(k))); it != listIndex.end()) {
            rowOfListed[it->second] = static_cast<std::int64_t>(k);
        }
    }
    const auto visited = [&](std::string url, const char* kind, const Row& row) {
        page.rows.push_back({std::move(url), Gbk(kind), DecimalText(row.visits),
                             std::string(dates_.text(row.first)), std::string(dates_.text(row.last)),
                             std::string(statuses_.text(row.lastStatus))});
    };
    for (std::size_t u = 0; u < listed.size(); ++u) {
        if (rowOfListed[u] >= 0) {
            visited(listed[u].url, "已抓取", rows_[static_cast<std::size_t>(rowOfListed[u])]);
        }
    }
    for (std::size_t u = 0; u < listed.size(); ++u) {
        if (rowOfListed[u] < 0) {
            page.rows.push_back({listed[u].url, Gbk("未抓取"), "0", {}, {}, {}});
        }
    }
    for (std::size_t k = 0; k < keys_.size(); ++k) {
        if (listIndex.count(PairText(keys_.text(k))) == 0) {
            visited(std::string(PairText(keys_.text(k))), "清单外", rows_[k]);
        }
    }
    return page;
}

} // namespace

std::unique_ptr<PageAccumulator> MakeCoverageAccumulator(const PageRequest& request) {
    return std::make_unique<CoverageAccumulator>(request);
}

std::unique_ptr<PageAccumulator> MakeFlappingAccumulator(const PageRequest& request) {
    return std::make_unique<FlappingAccumulator>(request.filter);
}

std::unique_ptr<PageAccumulator> MakeSectionsAccumulator(const PageRequest& request) {
    return std::make_unique<SectionsAccumulator>(request);
}

std::unique_ptr<PageAccumulator> MakeTimingAccumulator(const PageRequest& request) {
    return std::make_unique<TimingAccumulator>(request.filter);
}

} // namespace logdesk
